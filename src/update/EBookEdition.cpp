#include "update/EBookEdition.h"

#include "base/FeedAddress.h"
#include "ebook/EBookWriter.h"
#include "edition/ArticleHistory.h"
#include "edition/EditionChoice.h"
#include "edition/EditionFiles.h"
#include "update/NewsFeedFile.h"
#include "update/WholeArticleStage.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

QString EBookPathFor(const QString& newsFeedFile) {
    const QFileInfo info(newsFeedFile);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not a suffix.
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString folder = newsFeedFile.left(newsFeedFile.size() - name.size());
    // The book never takes the place of the news feed file itself.
    const QString book = stem + QStringLiteral(".epub");
    return folder + (book == name ? name + QStringLiteral(".epub") : book);
}

QString EBookOfSameRun(const QString& newsFeedFile) {
    return edition::EditionOfSameRun(newsFeedFile);
}

namespace {

// Reads the news feed file: `header` once its header is read, then `record` with each record
// in turn until it gives false (and says why in `error`). False when the file cannot be read
// whole or a record stopped it.
bool ReadNewsFeedFile(const NewsFeedSource& source, QString* error,
                      const std::function<void(const NewsFeedReader&)>& header,
                      const std::function<bool(const NewsFeedReader::Record&)>& record) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QFile file(source.path);
    const bool opened =
        source.fd >= 0
            ? file.open(source.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) && file.seek(0)
            : file.open(QIODevice::ReadOnly);
    if (!opened)
        return fail(QStringLiteral("%1: %2").arg(source.path, file.errorString()));
    NewsFeedReader reader(file);
    const auto malformed = [&] {
        return fail(
            QStringLiteral("%1: malformed news feed file: %2").arg(source.path, reader.ErrorString()));
    };
    if (!reader.ReadHeader())
        return malformed();
    if (header)
        header(reader);
    NewsFeedReader::Record next;
    while (reader.ReadNext(next)) {
        if (!record(next))
            return false;
    }
    if (reader.HasError())
        return malformed();
    return true;
}

// What of a record's feed document the book reads: the document, or less of it.
using DocumentCut = std::function<QByteArray(const QString& url, const QByteArray& document)>;

// Makes every record of the news feed file into the book's chapters, noting their pictures
// when there is a fetcher for them; `shownBy` gets, for each picture, the address of the feed
// that shows it. With `cut`, the book reads what it leaves of each document.
bool ReadRecords(const NewsFeedSource& source, ebook::EBookWriter& book, QString* error,
                 const PictureFetcher& fetchPictures, bool grey, QStringList& shownBy,
                 const DocumentCut& cut = {}) {
    return ReadNewsFeedFile(
        source, error,
        [&](const NewsFeedReader& reader) {
            if (fetchPictures)
                book.EnablePictures(grey);
            if (reader.SyncFlag())
                book.SetChannelFile(reader.ChannelFile());
        },
        [&](const NewsFeedReader::Record& record) {
            if (!book.AddRecord(record.url, cut ? cut(record.url, record.content) : record.content)) {
                if (error)
                    *error = book.ErrorString();
                return false;
            }
            while (fetchPictures && shownBy.size() < book.PictureCount())
                shownBy << record.url;
            return true;
        });
}

// The pages of the whole articles, fetched before the chapters are made: the articles that
// `choose` lets into the book (as the book's filter will) are found in one reading of the
// news feed file of their own.
using ArticleChoice = std::function<bool(const QString& url, ebook::Feed& feed)>;
void FetchWholeArticles(const NewsFeedSource& source, WholeArticleStage& stage, const ArticleChoice& choose,
                        const std::atomic_bool* stop, const DocumentCut& cut = {}) {
    const bool read = ReadNewsFeedFile(source, nullptr, {}, [&](const NewsFeedReader::Record& record) {
        if (stop && stop->load())
            return false;
        if (stage.Wanted(record.url)) {
            ebook::Feed feed = ebook::ReadFeedDocument(cut ? cut(record.url, record.content) : record.content,
                                                       FeedAddress::DocumentUrl(record.url));
            if (!choose || choose(record.url, feed))
                stage.Note(record.url, feed);
        }
        return true;
    });
    // A file that cannot be read fails the book as it is made, and says why there.
    if (read)
        stage.Fetch();
}

void FetchPictures(ebook::EBookWriter& book, const PictureFetcher& fetchPictures,
                   const QStringList& shownBy) {
    if (!fetchPictures)
        return;
    const QStringList pictures = book.Pictures();
    if (!pictures.isEmpty())
        fetchPictures(pictures, shownBy, [&](const QString& address, const QByteArray& bytes) {
            book.AddPicture(address, bytes);
            return book.PictureBytes() < ebook::kMaxBookPictureBytes;
        });
}

} // namespace

bool WriteEBookEdition(const NewsFeedSource& newsFeedFile, const QString& bookPath, const QDateTime& runTime,
                       QString* error, const std::atomic_bool* stop, const PictureFetcher& fetchPictures,
                       const EBookOptions& options, const WholeArticles& wholeArticles) {
    ebook::EBookWriter book(bookPath, runTime);
    book.SetStopFlag(stop);
    WholeArticleStage whole(wholeArticles, stop);
    if (wholeArticles.fetch) {
        FetchWholeArticles(newsFeedFile, whole, {}, stop);
        book.SetArticleFilter([&](const QString& url, ebook::Feed& feed) {
            whole.Complete(url, feed);
            return true;
        });
    }
    QStringList shownBy;
    if (!ReadRecords(newsFeedFile, book, error, fetchPictures, options.greyPictures, shownBy))
        return false;
    FetchPictures(book, fetchPictures, shownBy);
    if (book.Finish())
        return true;
    if (error)
        *error = book.ErrorString();
    return false;
}

bool WriteNewsEdition(const NewsFeedSource& source, const EditionJob& job, const QDateTime& runTime,
                      EditionResult* result, QString* error, const std::atomic_bool* stop,
                      const PictureFetcher& fetchPictures, const EBookOptions& options,
                      const WholeArticles& wholeArticles) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QString& newsFeedFile = source.path;
    edition::RemoveUnfinishedEditions(newsFeedFile);
    EditionResult done;
    done.path = edition::NewEditionPath(newsFeedFile, runTime);
    const auto finish = [&](bool ok) {
        if (result)
            *result = done;
        return ok;
    };
    edition::ArticleHistory history(job.historyFile);
    if (!history.Note().isEmpty())
        done.notes << history.Note();

    const QString unfinished = edition::UnfinishedEditionPath(done.path);
    const int number = history.NextEditionNumber();
    ebook::EBookWriter book(unfinished, runTime);
    book.SetStopFlag(stop);
    book.SetEdition(number);
    edition::ArticleHistory::Changes changes;
    changes.day = runTime.toLocalTime().date().toJulianDay();
    // What the history knows of the feed read last; each pass reads the feeds in turn.
    QString knownFeed;
    QHash<QByteArray, qint64> known;
    const auto knownOf = [&](const QString& url) -> const QHash<QByteArray, qint64>& {
        if (url != knownFeed || knownFeed.isNull()) {
            known = history.Known(url);
            knownFeed = url;
        }
        return known;
    };
    // Most of a later edition's feed documents are articles the history knows. Those items are
    // cut from the document before the book reads it, by their ids alone, so that their contents
    // are never parsed; `cutKeys` keeps their keys for the choice of the same document.
    std::vector<QByteArray> cutKeys;
    const DocumentCut cutKnown = [&](const QString& url, const QByteArray& document) {
        cutKeys.clear();
        if (!job.limits.onlyNew || knownOf(url).isEmpty())
            return document;
        std::vector<ebook::ItemSpan> cut;
        for (ebook::ItemSpan& item : ebook::ScanFeedItems(document)) {
            QByteArray key = edition::IdKey(item.id);
            if (known.contains(key)) {
                cutKeys.push_back(std::move(key));
                cut.push_back(std::move(item));
            }
        }
        return cut.empty() ? document : ebook::WithoutItems(document, cut);
    };
    // What goes into the edition of a feed; with `changes`, recorded there as well.
    const auto choose = [&](const QString& url, ebook::Feed& feed,
                            edition::ArticleHistory::Changes* changes) {
        knownOf(url);
        std::vector<ebook::Article> articles;
        std::vector<QByteArray> keys;
        std::vector<bool> isKnown;
        QSet<QByteArray> inDocument;
        for (QByteArray& key : cutKeys) {
            if (inDocument.contains(key))
                continue;
            if (changes && known.value(key) != changes->day)
                changes->seenAgain.emplace_back(url, key);
            inDocument.insert(std::move(key));
        }
        cutKeys.clear();
        for (ebook::Article& article : feed.articles) {
            QByteArray key = edition::ArticleKey(article);
            // A feed that lists an article twice shows it once.
            if (inDocument.contains(key))
                continue;
            inDocument.insert(key);
            const auto it = known.constFind(key);
            if (changes && it != known.constEnd() && it.value() != changes->day)
                changes->seenAgain.emplace_back(url, key);
            isKnown.push_back(it != known.constEnd());
            keys.push_back(std::move(key));
            articles.push_back(std::move(article));
        }
        const edition::Choice choice = edition::ChooseArticles(articles, isKnown, job.limits, runTime);
        for (const int i : choice.passedOver) {
            if (changes)
                changes->added.push_back({url, keys[size_t(i)], false});
        }
        feed.articles.clear();
        for (const int i : choice.chosen) {
            if (changes && !isKnown[size_t(i)])
                changes->added.push_back({url, keys[size_t(i)], true});
            feed.articles.push_back(std::move(articles[size_t(i)]));
        }
        return !feed.articles.empty();
    };
    WholeArticleStage whole(wholeArticles, stop);
    if (wholeArticles.fetch)
        FetchWholeArticles(
            source, whole, [&](const QString& url, ebook::Feed& feed) { return choose(url, feed, nullptr); },
            stop, cutKnown);
    book.SetArticleFilter([&](const QString& url, ebook::Feed& feed) {
        if (!choose(url, feed, &changes))
            return false;
        whole.Complete(url, feed);
        return true;
    });
    QStringList shownBy;
    if (!ReadRecords(source, book, error, fetchPictures, options.greyPictures, shownBy, cutKnown))
        return finish(false);
    if (book.ChapterCount() == 0) {
        // The earlier editions stay as they are; what the limits left out is still recorded.
        done.nothingNew = true;
        done.notes << QStringLiteral("Nothing new for the e-book.");
        if (!changes.added.empty() || !changes.seenAgain.empty())
            history.Record(changes);
        return finish(true);
    }
    FetchPictures(book, fetchPictures, shownBy);
    // The user knows the edition by its name, not by the one it is written under.
    if (!book.Finish())
        return finish(fail(book.ErrorString().replace(unfinished, done.path)));
    const edition::ArticleHistory::Edition edition{number, done.path, runTime, book.ArticleCount(),
                                                   book.ChapterCount()};
    const bool placed = history.PublishEdition(edition, unfinished, changes);
    if (!history.Note().isEmpty() && !done.notes.contains(history.Note()))
        done.notes << history.Note();
    if (!placed)
        return finish(fail(history.ErrorString()));
    edition::RemoveOldEditions(newsFeedFile, job.keep, job.spare ? job.spare() : QStringList());
    return finish(true);
}
