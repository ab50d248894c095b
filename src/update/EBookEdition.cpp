#include "update/EBookEdition.h"

#include "base/AtomicFile.h"
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

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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

// What the article history knows of a record's feed, found while the record is read.
struct KnownItems {
    // The feed's known articles but those cut, with the day a run last saw each.
    QHash<QByteArray, qint64> keys;
    // The keys of the known items cut from the document, back to back: one piece of memory
    // for the book's thread to let go, not one for each.
    QByteArray cut;
    std::vector<QByteArray> seenAgain; // those of them whose day of sighting is to be written again

    // Every key is as long as every other.
    bool WasCut(const QByteArray& key) const {
        for (qsizetype at = 0; !key.isEmpty() && at + key.size() <= cut.size(); at += key.size()) {
            if (QByteArrayView(cut).sliced(at, key.size()) == key)
                return true;
        }
        return false;
    }
};

// A record of the news feed file as the book takes it.
struct RecordAhead {
    NewsFeedReader::Record record;
    KnownItems known;
};

// What is done to each record on the reading thread before the book takes it. It is made on
// that thread and dropped there, as what it holds (a database connection) belongs to it.
using Preparation = std::function<std::function<void(RecordAhead&)>()>;

// Records read ahead of the book: at most a few, so that reading never holds much more of the
// file than the book does. Either side is woken only when the other can go on, and the reading
// side only once the book has taken several, so that handing over costs little per record.
class RecordQueue {
public:
    // False once the queue is closed.
    bool Push(RecordAhead&& next) {
        std::unique_lock lock(m_mutex);
        if (!m_closed && Full()) {
            m_pushWaiting = true;
            m_canPush.wait(lock, [&] { return m_closed || CanResume(); });
            m_pushWaiting = false;
        }
        if (m_closed)
            return false;
        m_bytes += next.record.content.size();
        m_records.push_back(std::move(next));
        if (m_popWaiting)
            m_canPop.notify_one();
        return true;
    }
    // False once the queue is drained after the last record, or closed.
    bool Pop(RecordAhead& next) {
        std::unique_lock lock(m_mutex);
        if (!m_closed && !m_ended && m_records.empty()) {
            m_popWaiting = true;
            m_canPop.wait(lock, [&] { return m_closed || m_ended || !m_records.empty(); });
            m_popWaiting = false;
        }
        if (m_closed || m_records.empty())
            return false;
        next = std::move(m_records.front());
        m_records.pop_front();
        m_bytes -= next.record.content.size();
        if (m_pushWaiting && CanResume())
            m_canPush.notify_one();
        return true;
    }
    // No more records come.
    void End() { Set(m_ended); }
    // No more records are wanted.
    void Close() { Set(m_closed); }

private:
    static constexpr size_t kRecords = 8;
    static constexpr qsizetype kBytes = 4 << 20;

    bool Full() const { return m_records.size() >= kRecords || (!m_records.empty() && m_bytes >= kBytes); }
    bool CanResume() const { return !Full() && m_records.size() <= kRecords / 2; }

    void Set(bool& flag) {
        const std::lock_guard lock(m_mutex);
        flag = true;
        m_canPush.notify_one();
        m_canPop.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_canPush, m_canPop;
    bool m_pushWaiting = false, m_popWaiting = false;
    std::deque<RecordAhead> m_records;
    qsizetype m_bytes = 0;
    bool m_ended = false;
    bool m_closed = false;
};

// Reads the news feed file: `header` once its header is read, then `record` with each record
// in turn until it gives false (and says why in `error`). The records are read, and prepared
// by what `prepare` makes, on a thread of their own while the calling thread takes them in
// order. False when the file cannot be read whole or a record stopped it.
bool ReadNewsFeedFile(const NewsFeedSource& source, QString* error,
                      const std::function<void(const NewsFeedReader&)>& header,
                      const std::function<bool(RecordAhead&)>& record, const Preparation& prepare = {}) {
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
    // From here the file and its reader are the reading thread's until it ends.
    RecordQueue queue;
    std::thread reading([&] {
        const std::function<void(RecordAhead&)> prepared = prepare ? prepare() : nullptr;
        RecordAhead next;
        while (reader.ReadNext(next.record)) {
            if (prepared)
                prepared(next);
            if (!queue.Push(std::move(next)))
                break;
            next = RecordAhead();
        }
        queue.End();
    });
    bool stopped = false;
    // Each record is let go before the next is taken, so that never happens while the
    // reading thread waits for the queue.
    for (RecordAhead next; !stopped && queue.Pop(next); next = RecordAhead())
        stopped = !record(next);
    queue.Close();
    reading.join();
    if (stopped)
        return false;
    if (reader.HasError())
        return malformed();
    return true;
}

// Makes every record of the news feed file into the book's chapters, noting their pictures
// when there is a fetcher for them; `shownBy` gets, for each picture, the address of the feed
// that shows it. `current` is the record the book reads, while it reads it.
bool ReadRecords(const NewsFeedSource& source, ebook::EBookWriter& book, QString* error,
                 const PictureFetcher& fetchPictures, bool grey, QStringList& shownBy,
                 const Preparation& prepare = {}, RecordAhead** current = nullptr) {
    return ReadNewsFeedFile(
        source, error,
        [&](const NewsFeedReader& reader) {
            if (fetchPictures)
                book.EnablePictures(grey);
            if (reader.SyncFlag())
                book.SetChannelFile(reader.ChannelFile());
        },
        [&](RecordAhead& next) {
            if (current)
                *current = &next;
            if (!book.AddRecord(next.record.url, next.record.content)) {
                if (error)
                    *error = book.ErrorString();
                return false;
            }
            while (fetchPictures && shownBy.size() < book.PictureCount())
                shownBy << next.record.url;
            return true;
        },
        prepare);
}

// The pages of the whole articles, fetched before the chapters are made: the articles that
// `choose` lets into the book (as the book's filter will) are found in one reading of the
// news feed file of their own.
using ArticleChoice = std::function<bool(RecordAhead& record, ebook::Feed& feed)>;
void FetchWholeArticles(const NewsFeedSource& source, WholeArticleStage& stage, const ArticleChoice& choose,
                        const std::atomic_bool* stop, const Preparation& prepare = {}) {
    const bool read = ReadNewsFeedFile(
        source, nullptr, {},
        [&](RecordAhead& next) {
            if (stop && stop->load())
                return false;
            const QString& url = next.record.url;
            if (stage.Wanted(url)) {
                ebook::Feed feed =
                    ebook::ReadFeedDocument(next.record.content, FeedAddress::DocumentUrl(url));
                if (!choose || choose(next, feed))
                    stage.Note(url, feed);
            }
            return true;
        },
        prepare);
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
    // The history is checked for damage while the book is finished, before it is written.
    edition::ArticleHistory history(job.historyFile, edition::ArticleHistory::Check::Later);
    const auto noteHistory = [&] {
        if (!history.Note().isEmpty() && !done.notes.contains(history.Note()))
            done.notes << history.Note();
    };
    noteHistory();

    const QString unfinished = edition::UnfinishedEditionPath(done.path);
    const int number = history.NextEditionNumber();
    ebook::EBookWriter book(unfinished, runTime);
    book.SetStopFlag(stop);
    book.SetEdition(number);
    edition::ArticleHistory::Changes changes;
    changes.day = runTime.toLocalTime().date().toJulianDay();
    // While the book is made, the reading thread looks up what the history knows of each feed.
    // Most of a later edition's feed documents are articles the history knows: those items are
    // cut from the document there, by their ids alone, so that their contents are never parsed.
    // It sees nothing of this thread's: all it needs is copied here.
    const Preparation knownItems = [historyFile = history.IsOpen() ? job.historyFile : QString(),
                                    onlyNew = job.limits.onlyNew,
                                    day = changes.day]() -> std::function<void(RecordAhead&)> {
        if (historyFile.isEmpty())
            return nullptr;
        auto lookups = std::make_shared<edition::KnownArticles>(historyFile);
        return [lookups, onlyNew, day](RecordAhead& next) {
            KnownItems& known = next.known;
            known.keys = lookups->Of(next.record.url);
            if (!onlyNew || known.keys.isEmpty())
                return;
            std::vector<ebook::ItemSpan> cut;
            QSet<QByteArray> cutKeys;
            for (ebook::ItemSpan& item : ebook::ScanFeedItems(next.record.content)) {
                const QByteArray key = edition::IdKey(item.id);
                // A feed that lists an article twice shows it once: both go.
                if (!cutKeys.contains(key)) {
                    const auto it = known.keys.find(key);
                    if (it == known.keys.end())
                        continue;
                    if (edition::ArticleHistory::SeenIsStale(it.value(), day))
                        known.seenAgain.push_back(key);
                    known.keys.erase(it);
                    known.cut.append(key);
                    cutKeys.insert(key);
                }
                cut.push_back(std::move(item));
            }
            if (!cut.empty())
                next.record.content = ebook::WithoutItems(next.record.content, cut);
        };
    };
    // What goes into the edition of a feed; with `changes`, recorded there as well.
    const auto choose = [&](RecordAhead& next, ebook::Feed& feed, edition::ArticleHistory::Changes* changes) {
        const QString& url = next.record.url;
        const QHash<QByteArray, qint64>& known = next.known.keys;
        QSet<QByteArray> inDocument;
        if (changes) {
            for (QByteArray& key : next.known.seenAgain)
                changes->seenAgain.emplace_back(url, std::move(key));
        }
        next.known.seenAgain.clear();
        std::vector<ebook::Article> articles;
        std::vector<QByteArray> keys;
        std::vector<bool> isKnown;
        for (ebook::Article& article : feed.articles) {
            QByteArray key = edition::ArticleKey(article);
            // A feed that lists an article twice shows it once, and not at all when the other
            // copy was cut as known.
            if (next.known.WasCut(key) || inDocument.contains(key))
                continue;
            inDocument.insert(key);
            const auto it = known.constFind(key);
            if (changes && it != known.constEnd() &&
                edition::ArticleHistory::SeenIsStale(it.value(), changes->day))
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
            source, whole, [&](RecordAhead& next, ebook::Feed& feed) { return choose(next, feed, nullptr); },
            stop, knownItems);
    RecordAhead* current = nullptr;
    book.SetArticleFilter([&](const QString& url, ebook::Feed& feed) {
        if (!choose(*current, feed, &changes))
            return false;
        whole.Complete(url, feed);
        return true;
    });
    QStringList shownBy;
    if (!ReadRecords(source, book, error, fetchPictures, options.greyPictures, shownBy, knownItems, &current))
        return finish(false);
    if (book.ChapterCount() == 0) {
        // The earlier editions stay as they are; what the limits left out is still recorded.
        done.nothingNew = true;
        done.notes << QStringLiteral("Nothing new for the e-book.");
        if (!changes.added.empty() || !changes.seenAgain.empty()) {
            history.CheckWhole();
            history.Record(changes);
            noteHistory();
        }
        return finish(true);
    }
    FetchPictures(book, fetchPictures, shownBy);
    const edition::ArticleHistory::Edition edition{number, done.path, runTime, book.ArticleCount(),
                                                   book.ChapterCount()};
    // The book is finished, and its bytes put on the disk, on a thread of its own while its
    // articles are recorded as belonging to an edition not yet finished.
    QString why;
    bool finished = false;
    std::thread finishing([&] {
        if (!book.Finish())
            why = book.ErrorString();
        else if (SyncFile(unfinished, &why))
            finished = true;
    });
    history.CheckWhole();
    const bool recorded = history.RecordEdition(edition, changes);
    finishing.join();
    noteHistory();
    if (!finished) {
        if (recorded)
            history.WithdrawEdition(number);
        QFile::remove(unfinished);
        // The user knows the edition by its name, not by the one it is written under.
        return finish(fail(why.replace(unfinished, done.path)));
    }
    const bool placed = history.PlaceEdition(edition, unfinished, recorded);
    noteHistory();
    if (!placed)
        return finish(fail(history.ErrorString()));
    edition::RemoveOldEditions(newsFeedFile, job.keep, job.spare ? job.spare() : QStringList());
    return finish(true);
}
