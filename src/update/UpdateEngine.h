#pragma once

#include "ebook/Pictures.h"
#include "update/CWebAccess.h"
#include "update/EBookEdition.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class FetchLoop;
class NewsFeedOutput;

// What one update run fetches, and how.
struct UpdateJob {
    QStringList urls; // in list order; the file's records follow it
    QString agentName;
    bool syncChannels = false;
    QString channelFile;  // carried in the file while syncChannels is set
    int maxTransfers = 8; // downloads at once
    int maxPerHost = 4;   // downloads at once from one host
    // Downloads done but not yet written, at most: so many (0: twice maxTransfers), and no
    // new one starts while those waiting hold this many bytes. The next feed to be written
    // may always start, so a stalled feed never holds up the run.
    int maxWaiting = 0;
    qint64 maxWaitingBytes = qint64(256) * 1024 * 1024;
    // The private temporary folder for the downloads, already checked by the caller.
    QString tempFolder;
    // Its cache, if any, gives the last good copies to ask servers about.
    CWebAccess::Options webOptions;
    // Where the e-book of the whole file goes once the file is closed; empty for none.
    QString bookPath;
    // Or, once the file is closed, the edition of what is new in it goes beside it.
    std::optional<EditionJob> edition;
    QDateTime runTime; // dates the book
    // The last good copies of the book's pictures to ask servers about, if any.
    std::shared_ptr<FeedCache> pictureCache;
    // What follows the run on its thread once the book is made (the delivery), unless the run
    // is abandoned: given the book this run put in place (empty: none), it gives the lines the
    // run's end text gains. It gives up soon once `stop` is set.
    std::function<QStringList(const QString& book, const std::atomic_bool& stop)> afterRun;
    // However many pictures the feeds show and however slowly their servers answer, the
    // book's pictures cost a run no more than this: so many downloads, no download more once
    // so many bytes have come in, and the book goes ahead with what has arrived after so long.
    struct PictureLimits {
        int maxDownloads = 2000;
        qint64 maxBytes = 2 * ebook::kMaxBookPictureBytes;
        std::chrono::milliseconds maxTime = std::chrono::minutes(10);
    };
    PictureLimits pictureLimits;
    bool greyPictures = false; // the book's pictures in shades of grey
    // The feeds whose articles the book carries whole, fetched from the web, by address; and
    // the last good copies of those pages to ask servers about, if any.
    QSet<QString> wholeArticleFeeds;
    std::shared_ptr<FeedCache> articleCache;
    // The book goes ahead with the article pages that have come after so long.
    std::chrono::milliseconds maxArticleTime = std::chrono::minutes(10);
};

// One update run: downloads the job's feeds several at once on a thread of its own, all
// through one FetchLoop, and writes the news feed file on another, record by record in list
// order, so the file is byte for byte the one a one-at-a-time run writes. It never touches
// the user interface: everything it has to say goes out through queued signals, in list order.
// Once the file is closed, the run makes what it makes from it (the e-book edition) before
// it tells its end. The pages of the whole articles and then the pictures of the book come
// through the same downloads, limits and agent name as the feeds, asking for web pages and
// for pictures, each with a cache of their own; the pictures within the job's picture limits,
// and both only from where the feed that links to them may send the program (see
// NetworkReach). A failed page or picture is no failure of the run, and a run cancelled before
// them makes its book without them.
class UpdateEngine : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        None,
        Write, // the news feed file cannot be written
    };
    // How the run ended; complete once finished() has been emitted.
    struct Outcome {
        int failedFeeds = 0;
        int writtenFeeds = 0; // records in the file
        bool cancelled = false;
        Failure failure = Failure::None;
        QString reason;            // the system's words for the failure
        QString bookError;         // why the e-book was not made when it was due; the earlier one stays
        QString bookPath;          // the e-book made, or where it was to go
        bool bookMade = false;     // a new book is in place at bookPath
        QStringList bookNotes;     // more to say of the e-book in the end text
        QStringList afterRunLines; // what the job's afterRun said
    };

    // Takes the open, locked output file; the run closes it before it reports the end.
    UpdateEngine(UpdateJob job, std::unique_ptr<NewsFeedOutput> output, QObject* parent = nullptr);
    // Abandons the run and waits until the file is closed.
    ~UpdateEngine() override;

    UpdateEngine(const UpdateEngine&) = delete;
    UpdateEngine& operator=(const UpdateEngine&) = delete;

    const UpdateJob& Job() const { return m_job; }
    QString OutputPath() const { return m_strOutputPath; }

    void Start();
    // Stops the run without letting the downloads in flight finish. Returns at once;
    // finished() follows once the file ends after its last complete record and is closed.
    // A cancelled run still makes the e-book of the records it wrote, with the pictures
    // fetched so far.
    void Cancel();
    // Cancels the run and drops what is still to be made from the file, an e-book under
    // way included: the earlier e-book stays. For a run that nobody waits for any more.
    void Abandon();
    // Blocks until the run has ended and its file is closed.
    void Wait();
    bool IsRunning() const { return m_coordinator.joinable() && !m_done.load(); }

    Outcome GetOutcome() const { return m_outcome; }

signals:
    // One per feed, in list order: its record is in the file (ok) or it failed, and why.
    void feedDone(int index, bool ok, const QString& reason);
    // The file is closed and its e-book is being made (again once its pictures are
    // fetched); finished() follows when it is done.
    void makingEBook();
    // Of the pages of the e-book's whole articles, `done` are fetched or given up; first with 0.
    void articlesFetched(int done, int total);
    // Of the pictures of the e-book, `done` are fetched or given up; first with 0.
    void picturesFetched(int done, int total);
    // The book is made and the job's afterRun is under way.
    void delivering();
    // The run has ended and the file is closed; see GetOutcome().
    void finished();

private:
    struct Slot {
        enum class State { Pending, Running, Done, Written };
        State state = State::Pending;
        int host = 0;
        int result = 0;
        QString reason;
        QString tempFile;
        qint64 bytes = 0;    // of the document, when there is one
        qint64 received = 0; // what came in for it, whatever became of it
        NetworkKind server = NetworkKind::Public;
        CWebAccess::CacheUpdate cacheUpdate;
        QByteArray documentUrl; // of a document that came, after any redirects
        QByteArray contentType;
    };

    // What the fetching thread downloads: the feeds in list order for the writer, or the
    // pictures for the book, taken as they come.
    struct Stage {
        QStringList urls;
        CWebAccess::Options options;
        bool inOrder = true;
        // Of a confined stage: the kind of the server that each address comes from.
        std::vector<NetworkKind> origins;
    };
    // Slots and counts for the stage's downloads; the fetching thread is not running.
    void BeginStage(Stage stage);
    // Starts fetching a stage of the book begun, taken as it comes.
    void StartBookStage();
    // Waits, until `deadline` at the latest, for the next download of such a stage to end and
    // takes it out of its slot: false once the stage is stopped (out of time, it is stopped)
    // and nothing more has come. The download stays in the look-ahead until it leaves it.
    bool TakeArrived(int& index, Slot& arrived, std::chrono::steady_clock::time_point deadline);
    // A download of `bytes` taken from its slot leaves the look-ahead; true when that held the
    // fetching thread back until now.
    bool LeaveLookAheadLocked(qint64 bytes);
    // Of a confined stage of the book: the kind of the server of the feed that names each of
    // `count` addresses, by the feeds' addresses; Public for one not known.
    std::vector<NetworkKind> OriginsOf(const QStringList& feeds, qsizetype count) const;
    void Coordinate();
    // The one place for what follows the last record (or a stop), before the end is told:
    // the downloads are stopped and their files gone, the news feed file is closed, and
    // what is made from the file is made.
    void EndRun();
    void CloseOutput();
    bool EBookDue() const;
    void MakeEBook();
    // The pages of the book's whole articles into temporary files of their own: those that
    // came, by link. The caller removes them.
    QHash<QString, ArticlePage> FetchArticlePages(const QStringList& links, const QStringList& feeds);
    // The book's pictures, each handed to `take` as it arrives, until the book is full;
    // `shownBy` names the feed that shows each, whose server says where it may be fetched from.
    void FetchPictures(const QStringList& addresses, const QStringList& shownBy, const PictureSink& take);
    void Fetch();
    int NextRunnable() const;
    bool LookAheadFullLocked() const;
    // Marks the slots from `first` on that have not started as given up; returns how many.
    int GiveUpPendingLocked(int first);
    // Tells the fetching thread that it may be able to start another download.
    void WakeFetcherLocked();
    // A download is over: its slot waits to be written.
    void SlotDoneLocked(int index, int result, const QString& reason, qint64 bytes);
    void StopFetching();
    // The feed cache's copies of the feeds written are stored on a thread of their own, so
    // that the writer goes on with the next record meanwhile; in order, and all of them
    // before the run tells its end.
    void StoreInCache(const CWebAccess::CacheUpdate& update, QByteArray document);
    void StoreCacheCopies();
    void FinishCacheStores();
    // A download's "NEW..." file: one that an earlier download of this run has handed
    // back, else a new one; empty when none can be made. Creating and deleting a file per
    // feed costs more than the download itself on a fast link.
    QString TakeTempFile();
    void GiveBackTempFile(const QString& path);

    UpdateJob m_job;
    std::unique_ptr<NewsFeedOutput> m_output;
    QString m_strOutputPath;
    Outcome m_outcome;

    // Guards the slots and the counts below. The writer waits on m_written for the slot it
    // writes next; the fetching thread waits on m_freed while the look-ahead holds it back.
    std::mutex m_mutex;
    std::condition_variable m_written;
    std::condition_variable m_freed;
    Stage m_stage;
    std::vector<Slot> m_slots;
    std::vector<int> m_arrived; // of a stage taken as it comes: slots done, not yet taken
    std::vector<int> m_hostRunning;
    int m_firstPending = 0;
    int m_nRunning = 0;
    int m_nWaiting = 0;
    qint64 m_nWaitingBytes = 0;
    int m_nextToWrite = 0;
    FetchLoop* m_pLoop = nullptr; // while the fetching thread runs it
    std::vector<QString> m_freeTempFiles;
    QHash<QString, NetworkKind> m_feedServers; // of the feeds written, by address
    std::atomic_bool m_stop{false};
    std::atomic_bool m_cancelled{false};
    std::atomic_bool m_abandoned{false};
    std::atomic_bool m_done{false};

    struct CacheCopy {
        QByteArray key;
        QByteArray document;
        FeedCache::Record record;
    };
    std::mutex m_cacheMutex;
    std::condition_variable m_cacheQueued; // the cache thread waits for copies
    std::condition_variable m_cacheTaken;  // the writer waits for room
    std::deque<CacheCopy> m_cacheCopies;
    qint64 m_nCacheBytes = 0; // of the copies queued
    bool m_bCacheDone = false;
    std::thread m_cacheStorer;

    std::thread m_fetcher;
    std::thread m_coordinator;
};
