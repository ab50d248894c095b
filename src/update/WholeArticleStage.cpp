#include "update/WholeArticleStage.h"

#include "base/XmlText.h"
#include "extract/ArticleFinder.h"

#include <QFile>

namespace {

// The plain text of a summary, counted as the article finder counts an article's.
qsizetype SummaryLength(const ebook::FeedText& summary) {
    if (summary.kind != ebook::FeedText::Kind::Text)
        return extract::TextLength(summary.value);
    QByteArray escaped;
    AppendXmlEscaped(escaped, summary.value);
    return extract::TextLength(escaped);
}

// Whether a server's Content-Type names a web page; a link may as well lead to a PDF or a
// picture, whose bytes read as HTML would make a long article of nonsense. Without one, the
// page is taken for what was asked for.
bool IsWebPage(const QByteArray& contentType) {
    const qsizetype parameters = contentType.indexOf(';');
    const QByteArray type = (parameters < 0 ? contentType : contentType.left(parameters)).trimmed().toLower();
    return type.isEmpty() || type == "text/html" || type == "application/xhtml+xml";
}

} // namespace

WholeArticleStage::WholeArticleStage(const WholeArticles& wholeArticles, const std::atomic_bool* stop)
    : m_whole(wholeArticles), m_stop(stop) {}

bool WholeArticleStage::Wanted(const QString& feedUrl) const {
    return m_whole.fetch && m_whole.feeds.contains(feedUrl);
}

template <typename FeedType, typename Visit>
void WholeArticleStage::ForEachLinked(FeedType& feed, Visit visit) {
    int taken = 0;
    for (auto& article : feed.articles) {
        if (taken == kMaxArticlePagesPerFeed)
            break;
        // Links are http(s) only as the feed is read; anything else never reaches here.
        if (article.link.isEmpty())
            continue;
        ++taken;
        visit(article);
    }
}

void WholeArticleStage::Note(const QString& feedUrl, const ebook::Feed& feed) {
    ForEachLinked(feed, [&](const ebook::Article& article) {
        const QString link = article.link.toString(QUrl::FullyEncoded);
        if (m_noted.contains(link))
            return;
        m_noted.insert(link);
        m_links << link;
        m_feeds << feedUrl;
    });
}

void WholeArticleStage::Fetch() {
    if (!m_links.isEmpty())
        m_pages = m_whole.fetch(m_links, m_feeds);
}

void WholeArticleStage::Complete(const QString& feedUrl, ebook::Feed& feed) const {
    if (!Wanted(feedUrl) || m_pages.isEmpty())
        return;
    ForEachLinked(feed, [&](ebook::Article& article) {
        if (m_stop && m_stop->load())
            return;
        const auto page = m_pages.constFind(article.link.toString(QUrl::FullyEncoded));
        if (page == m_pages.constEnd() || !IsWebPage(page->contentType))
            return;
        QFile file(page->file);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray bytes = file.read(extract::kMaxPageBytes + 1);
        const QUrl address = page->address.isEmpty() ? article.link : QUrl::fromEncoded(page->address);
        const std::optional<extract::Article> found =
            extract::FindArticle({bytes, address, page->contentType, {}});
        // The summary stays unless the page says more; its pictures come as <img/> with
        // their addresses, which the chapter notes as it notes any other.
        if (found && found->textLength > SummaryLength(article.body))
            article.body = {found->xhtml, ebook::FeedText::Kind::Html, address};
    });
}
