#include "edition/EditionChoice.h"

#include "ebook/Chapter.h"
#include "ebook/FeedDates.h"

#include <QCryptographicHash>

#include <algorithm>

namespace edition {

namespace {

constexpr qsizetype kKeyBytes = 16;

// A SHA-256 digest of `kind` and `text`, cut short. The kind goes first, so a guid never meets
// a link or a title of the same text.
QByteArray Key(QByteArrayView kind, QByteArrayView text) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(kind);
    hash.addData(text);
    return hash.result().left(kKeyBytes);
}

} // namespace

QByteArray IdKey(const QByteArray& id) {
    return Key("id\n", id);
}

QByteArray ArticleKey(const ebook::Article& article) {
    if (!article.id.isEmpty())
        return IdKey(article.id);
    if (!article.link.isEmpty())
        return Key("link\n", article.link.toEncoded());
    return Key("title\n", ebook::PlainText(article.title) + '\n' + article.date);
}

Choice ChooseArticles(const std::vector<ebook::Article>& articles, const std::vector<bool>& known,
                      const Limits& limits, const QDateTime& now) {
    struct Candidate {
        int index;
        QDateTime date;
    };
    std::vector<Candidate> dated, undated;
    for (int i = 0; i < int(articles.size()); ++i) {
        if (limits.onlyNew && known[size_t(i)])
            continue;
        const QDateTime date = ebook::ParseFeedDate(articles[size_t(i)].date);
        (date.isValid() ? dated : undated).push_back({i, date});
    }
    std::stable_sort(dated.begin(), dated.end(),
                     [](const Candidate& a, const Candidate& b) { return a.date > b.date; });
    dated.insert(dated.end(), undated.begin(), undated.end());

    const QDateTime oldest = limits.maxAgeDays > 0 ? now.addDays(-limits.maxAgeDays) : QDateTime();
    Choice choice;
    for (const Candidate& candidate : dated) {
        const bool tooOld = oldest.isValid() && candidate.date.isValid() && candidate.date < oldest;
        const bool full = limits.maxArticles > 0 && int(choice.chosen.size()) >= limits.maxArticles;
        (tooOld || full ? choice.passedOver : choice.chosen).push_back(candidate.index);
    }
    return choice;
}

} // namespace edition
