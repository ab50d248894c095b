#include "edition/EditionChoice.h"

#include "ebook/Chapter.h"
#include "ebook/FeedDates.h"

#include <QCryptographicHash>

#include <openssl/evp.h>

#include <algorithm>

namespace edition {

namespace {

constexpr qsizetype kKeyBytes = 16;

// One digest for every item of every feed on every run: OpenSSL's uses the processor's SHA
// instructions where it has them, at three times the pace of Qt's. Each thread has its own.
class Sha256 {
public:
    Sha256() : m_digest(EVP_MD_fetch(nullptr, "SHA256", nullptr)), m_context(EVP_MD_CTX_new()) {}
    ~Sha256() {
        EVP_MD_CTX_free(m_context);
        EVP_MD_free(m_digest);
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when OpenSSL cannot give it.
    bool Digest(QByteArrayView kind, QByteArrayView text, unsigned char (&out)[EVP_MAX_MD_SIZE]) {
        unsigned int size = 0;
        return m_digest && m_context && EVP_DigestInit_ex2(m_context, m_digest, nullptr) &&
               EVP_DigestUpdate(m_context, kind.data(), size_t(kind.size())) &&
               EVP_DigestUpdate(m_context, text.data(), size_t(text.size())) &&
               EVP_DigestFinal_ex(m_context, out, &size) && size >= kKeyBytes;
    }

private:
    EVP_MD* m_digest;
    EVP_MD_CTX* m_context;
};

// A SHA-256 digest of `kind` and `text`, cut short. The kind goes first, so a guid never meets
// a link or a title of the same text.
QByteArray Key(QByteArrayView kind, QByteArrayView text) {
    thread_local Sha256 sha256;
    unsigned char digest[EVP_MAX_MD_SIZE];
    if (sha256.Digest(kind, text, digest))
        return QByteArray(reinterpret_cast<const char*>(digest), kKeyBytes);
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
