#pragma once

#include "edition/EditionChoice.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The e-book edition of a news feed file: an EPUB 3 book with one chapter per record and a
// table of contents that follows the subscriptions of its channel block.

// Where the book of a news feed file goes: beside it, its suffix replaced by ".epub"
// ("news.nff" gives "news.epub"); a name without a suffix gets ".epub" added, and so does
// one that already ends in ".epub".
QString EBookPathFor(const QString& newsFeedFile);

// The book that goes along with the news feed file when it is sent: the newest edition
// beside it, if the run that last wrote the file made it; else empty.
QString EBookOfSameRun(const QString& newsFeedFile);

// The news feed file a book is made of. Its path names the book beside it and the messages;
// `fd`, when not -1, is a descriptor open for reading on it, read from the start instead of
// opening the path, so that a run's book is made of the file that run wrote even when the
// path has been given to a newer one since.
struct NewsFeedSource {
    NewsFeedSource(const QString& path, int fd = -1) : path(path), fd(fd) {}
    QString path;
    int fd;
};

// Reads the news feed file record by record and writes its book at `bookPath`, dated
// `runTime`, with dates in the user's locale. The book is replaced whole or not at all:
// on false nothing at `bookPath` has changed and `error` (when given) says why, for a
// damaged news feed file with the offset where it breaks ("malformed news feed file:
// offset 1234: expected ..."). A news feed file without records gives a book with a cover
// and nothing else; a run that fetched nothing should keep its earlier book instead. Once
// `stop` (when given) is set, the writing gives up soon and the earlier book stays.
//
// Without `fetchPictures` every image of the articles becomes its alternative text. With it,
// it is called once, with the addresses of the pictures the articles show (in the order
// they first show them) and for each the address of the feed that first shows it, before
// the book is written, and hands each picture it fetched to `take` (by address, with its
// bytes) as it comes; `take` says whether the book has room for more, counted as the book
// stores its pictures.
using PictureSink = std::function<bool(const QString& address, const QByteArray& bytes)>;
using PictureFetcher =
    std::function<void(const QStringList& addresses, const QStringList& shownBy, const PictureSink& take)>;

// How the book is made besides its contents.
struct EBookOptions {
    bool greyPictures = false; // pictures in shades of grey, for e-ink readers
};

// A web page fetched for an article: the file it is in and what its server said of it.
struct ArticlePage {
    QString file;
    QByteArray address;     // where it came from after any redirects
    QByteArray contentType; // as the server named it; may be empty
};

// No more article pages than this are fetched for one feed in one run.
constexpr int kMaxArticlePagesPerFeed = 50;

// Whole articles for the feeds that carry only a summary. Of each such feed, the first
// kMaxArticlePagesPerFeed articles that go into the book and link to the web have their
// pages fetched after the feeds and before the pictures, and the article found in a page
// takes the place of the summary when it has more text; otherwise the summary stays.
// The article's pictures are then the book's like any other.
struct WholeArticles {
    QSet<QString> feeds; // by address
    // Called once, when there are links, with the links (each once, in the order the book
    // shows them) and for each the address of the feed that links to it; gives the pages it
    // fetched, by link, in files that must stay until the function that called it returns.
    std::function<QHash<QString, ArticlePage>(const QStringList& links, const QStringList& feeds)> fetch;
};

bool WriteEBookEdition(const NewsFeedSource& newsFeedFile, const QString& bookPath, const QDateTime& runTime,
                       QString* error = nullptr, const std::atomic_bool* stop = nullptr,
                       const PictureFetcher& fetchPictures = {}, const EBookOptions& options = {},
                       const WholeArticles& wholeArticles = {});

// An edition of the news: a book of what is new since the last one.
struct EditionJob {
    QString historyFile; // the article history
    edition::Limits limits;
    int keep = 7; // editions kept beside the news feed file; 0: all
    // The editions the keep count must leave however old (those still waiting to be
    // delivered), asked on the run's thread when it removes editions.
    std::function<QStringList()> spare;
};
struct EditionResult {
    QString path; // the edition, or where it was to go
    bool nothingNew = false;
    QStringList notes; // lines for the run's end text
};

// Writes the edition of the news feed file beside it (edition::NewEditionPath): of each
// record, the articles the history does not know (with `job.limits`), in a book whose title
// and cover say which edition it is. The articles are recorded in the history in the step that
// puts the book in place, and what the limits leave out with them. With nothing new no book is
// written and true comes back with `nothingNew` set. Then all but the last `job.keep` editions
// are removed, but those `job.spare` names. On false nothing is recorded, no book is in place
// and `error` says why; a history that cannot be used never stops the edition, `notes` says so.
bool WriteNewsEdition(const NewsFeedSource& newsFeedFile, const EditionJob& job, const QDateTime& runTime,
                      EditionResult* result, QString* error = nullptr, const std::atomic_bool* stop = nullptr,
                      const PictureFetcher& fetchPictures = {}, const EBookOptions& options = {},
                      const WholeArticles& wholeArticles = {});
