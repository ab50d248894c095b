#include "ebook/Chapter.h"

#include "base/XmlText.h"
#include "ebook/FeedDates.h"

namespace ebook {

namespace {

constexpr int kDerivedTitleLength = 80;
// A feed's own titles are cut here: each stands in the contents, the NCX and a heading.
constexpr int kMaxTitleLength = 300;

void AppendText(QByteArray& out, const QByteArray& text) {
    AppendXmlEscaped(out, text);
}

// Plain text in paragraphs, its line breaks kept.
void AppendParagraphs(QByteArray& out, const QByteArray& text) {
    QByteArray normalized = text;
    normalized.replace("\r\n", "\n").replace('\r', '\n');
    const QList<QByteArray> paragraphs = normalized.trimmed().split('\n');
    bool open = false;
    for (const QByteArray& line : paragraphs) {
        if (line.trimmed().isEmpty()) {
            if (open)
                out.append("</p>\n");
            open = false;
            continue;
        }
        out.append(open ? "<br/>" : "<p>");
        AppendText(out, line.trimmed());
        open = true;
    }
    if (open)
        out.append("</p>\n");
}

QByteArray ShortTitle(const QByteArray& text, int length) {
    if (text.size() <= length)
        return text;
    qsizetype cut = text.lastIndexOf(' ', length);
    if (cut < length / 2)
        cut = length;
    // Never cut inside a UTF-8 sequence.
    while (cut > 0 && (uchar(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.left(cut) + "\xE2\x80\xA6";
}

QByteArray DateText(const QByteArray& date, const QLocale& locale) {
    const QDateTime parsed = ParseFeedDate(date);
    if (!parsed.isValid())
        return date.simplified();
    const QDateTime local = parsed.toLocalTime();
    return (locale.toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ') +
            locale.toString(local.time(), QLocale::ShortFormat))
        .toUtf8();
}

// Whether text holds something a browser would take for a tag or a comment.
bool LooksLikeMarkup(QByteArrayView text) {
    for (qsizetype at = text.indexOf('<'); at >= 0 && at + 1 < text.size(); at = text.indexOf('<', at + 1)) {
        qsizetype name = at + 1;
        if (text[name] == '/')
            ++name;
        else if (text.sliced(name).startsWith("!--"))
            return true;
        const bool letter = name < text.size() && ((text[name] >= 'a' && text[name] <= 'z') ||
                                                   (text[name] >= 'A' && text[name] <= 'Z'));
        if (letter && text.indexOf('>', name) > name)
            return true;
    }
    return false;
}

QByteArray Picture(const ChapterSource& source, const ImageInfo& image) {
    return source.image ? source.image(image) : ImageAltText(image);
}

// Writes a body, with what it says in its place when there is nothing to write;
// `pictured` is set when it shows a picture.
void Body(QByteArray& out, const FeedText& body, const ChapterSource& source, QByteArray* text,
          bool* pictured = nullptr) {
    if (body.kind != FeedText::Kind::Html) {
        const QByteArray plain =
            body.kind == FeedText::Kind::Entities ? DecodeCharacterReferences(body.value) : body.value;
        AppendParagraphs(out, plain);
        if (text)
            *text = CollapseSpaces(plain).left(kDerivedTitleLength * 2);
        return;
    }
    HtmlOptions options;
    options.base = body.base;
    options.image = [&](const ImageInfo& image) {
        if (pictured && !image.source.isEmpty())
            *pictured = true;
        return Picture(source, image);
    };
    options.textLimit = text ? kDerivedTitleLength * 2 : 0;
    SanitizedHtml html = SanitizeHtml(body.value, options);
    out.append(html.xhtml);
    if (html.shortened)
        out.append(
            "\n<p class=\"note\">This article is too long for the e-book; the rest of it is on the web.</p>");
    if (text)
        *text = std::move(html.text);
}

} // namespace

QByteArray PlainText(const FeedText& text) {
    if (text.kind == FeedText::Kind::Html)
        return HtmlToText(text.value);
    const QByteArray plain =
        text.kind == FeedText::Kind::Entities ? DecodeCharacterReferences(text.value) : text.value;
    return LooksLikeMarkup(plain) ? HtmlToText(plain) : CollapseSpaces(plain);
}

QByteArray XhtmlDocument(const QByteArray& title, const QByteArray& language, const QByteArray& body,
                         bool epubNamespace) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                     "<html xmlns=\"http://www.w3.org/1999/xhtml\"";
    if (epubNamespace)
        out.append(" xmlns:epub=\"http://www.idpf.org/2007/ops\"");
    if (!language.isEmpty())
        out.append(" xml:lang=\"").append(language).append("\" lang=\"").append(language).append('"');
    // Some readers look for the encoding in the head and not in the XML declaration.
    out.append(">\n<head>\n<meta charset=\"UTF-8\"/>\n<title>");
    AppendText(out, title);
    out.append(
        "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n</head>\n<body>\n");
    out.append(body);
    out.append("</body>\n</html>\n");
    return out;
}

QByteArray ArticleList(const std::vector<QByteArray>& titles, int from, int to,
                       const std::function<QByteArray(int)>& href) {
    QByteArray out = "<ol class=\"articles\">\n";
    for (int i = from; i < to; ++i) {
        out.append("<li><a href=\"").append(href(i)).append("\">");
        AppendText(out, titles[size_t(i)]);
        out.append("</a></li>\n");
    }
    return out.append("</ol>\n");
}

QByteArray NormalizedLanguage(QByteArrayView tag) {
    QByteArray text = tag.toByteArray().trimmed();
    text.replace('_', '-');
    const QList<QByteArray> parts = text.split('-');
    QByteArray out;
    for (int i = 0; i < parts.size(); ++i) {
        const QByteArray& part = parts[i];
        if (part.isEmpty() || part.size() > 8)
            return QByteArray();
        for (const char c : part) {
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            if (!letter && (i == 0 || c < '0' || c > '9'))
                return QByteArray();
        }
        // Readers trust the primary language: it must be one ("us" and "C" are none).
        if (i == 0 && (part.size() < 2 || part.size() > 3 ||
                       QLocale::codeToLanguage(QString::fromLatin1(part.toLower())) == QLocale::AnyLanguage))
            return QByteArray();
        if (i > 0)
            out.append('-');
        if (i == 0)
            out.append(part.toLower());
        else if (part.size() == 2)
            out.append(part.toUpper());
        else if (part.size() == 4)
            out.append(part.left(1).toUpper() + part.mid(1).toLower());
        else
            out.append(part.toLower());
    }
    return out;
}

ChapterText MakeChapter(const Feed& feed, const ChapterSource& source, ChapterOutline* outline) {
    ChapterOutline local;
    ChapterOutline& result = outline ? *outline : local;
    result = ChapterOutline();
    result.isFeed = feed.format != FeedFormat::NotAFeed;
    result.language = NormalizedLanguage(feed.language);
    result.title = ShortTitle(PlainText(feed.title), kMaxTitleLength);
    if (result.title.isEmpty())
        result.title = CollapseSpaces(source.subscriptionTitle);
    if (result.title.isEmpty())
        result.title = source.address.toUtf8();

    ChapterText chapter;
    QByteArray& out = chapter.intro;
    out.append("<h1>");
    AppendText(out, result.title);
    out.append("</h1>\n");
    if (!result.isFeed) {
        out.append("<p class=\"note\">The document from ");
        AppendText(out, source.address.toUtf8());
        out.append(" could not be read as a feed.</p>\n");
        return chapter;
    }
    if (!feed.description.IsEmpty()) {
        out.append("<div class=\"description\">");
        Body(out, feed.description, source, nullptr);
        out.append("</div>\n");
    }
    if (feed.articles.empty())
        out.append("<p class=\"note\">This feed has no articles.</p>\n");
    result.articles.reserve(feed.articles.size());
    chapter.articles.reserve(feed.articles.size());
    int number = 0;
    for (const Article& article : feed.articles) {
        QByteArray title = ShortTitle(PlainText(article.title), kMaxTitleLength);
        QByteArray body, bodyText;
        bool pictured = false;
        if (!article.body.IsEmpty())
            Body(body, article.body, source, title.isEmpty() ? &bodyText : nullptr, &pictured);
        // The item's own picture leads an article whose body shows none.
        if (!pictured && !article.picture.isEmpty())
            body.prepend(Picture(source, {article.picture, QByteArray(), QByteArray()}));
        if (!body.isEmpty())
            body = "<div class=\"body\">" + body + "</div>\n";
        if (title.isEmpty())
            title = ShortTitle(bodyText, kDerivedTitleLength);
        if (title.isEmpty())
            title = "Untitled";
        QByteArray& html = chapter.articles.emplace_back();
        html.append("<article id=\"a").append(QByteArray::number(++number)).append("\">\n<h2>");
        AppendText(html, title);
        html.append("</h2>\n");

        QByteArray meta;
        const auto addMeta = [&](const QByteArray& piece, bool escaped) {
            if (piece.isEmpty())
                return;
            if (!meta.isEmpty())
                meta.append(" \xC2\xB7 ");
            if (escaped)
                meta.append(piece);
            else
                AppendText(meta, piece);
        };
        addMeta(DateText(article.date, source.locale), false);
        addMeta(article.author.simplified(), false);
        if (!article.link.isEmpty()) {
            QByteArray link = "<a href=\"";
            AppendText(link, article.link.toEncoded());
            link.append("\">");
            AppendText(link, article.link.host().toUtf8());
            link.append("</a>");
            addMeta(link, true);
        }
        if (!meta.isEmpty())
            html.append("<p class=\"meta\">").append(meta).append("</p>\n");
        html.append(body).append("</article>\n");
        result.articles.push_back(std::move(title));
    }
    if (!feed.complete)
        chapter.closing =
            "<p class=\"note\">The feed document breaks off here; what came before is shown.</p>\n";
    return chapter;
}

QByteArray WriteChapter(const Feed& feed, const ChapterSource& source, ChapterOutline* outline) {
    ChapterOutline local;
    ChapterOutline& result = outline ? *outline : local;
    const ChapterText chapter = MakeChapter(feed, source, &result);
    QByteArray body = chapter.intro;
    if (result.articles.size() > 1)
        body.append(ArticleList(result.articles, 0, int(result.articles.size()),
                                [](int n) { return "#a" + QByteArray::number(n + 1); }));
    for (const QByteArray& article : chapter.articles)
        body.append(article);
    body.append(chapter.closing);
    return XhtmlDocument(result.title, result.language, body);
}

} // namespace ebook
