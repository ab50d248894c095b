#include "update/UpdateEngine.h"

#include "base/FeedAddress.h"
#include "extract/ArticleFinder.h"
#include "update/EBookEdition.h"
#include "update/FeedCache.h"
#include "update/FetchLoop.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long the fetching thread sleeps in the loop when nothing wakes it.
constexpr int LoopWaitMs = 200;
constexpr qint64 LargeTempFile = 1024 * 1024;
// The feed cache's copies waiting to be stored, at most.
constexpr qint64 MaxCacheQueueBytes = 32 * 1024 * 1024;

// A new empty file "NEW..." in the private temporary folder, or an empty string.
QString CreateTempFile(const QString& folder) {
    if (folder.isEmpty())
        return QString();
    QByteArray pattern = QFile::encodeName(folder + QStringLiteral("/NEWXXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return QString();
    ::close(fd);
    return QFile::decodeName(pattern);
}

qint64 FileSize(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_size) : 0;
}

} // namespace

UpdateEngine::UpdateEngine(UpdateJob job, std::unique_ptr<NewsFeedOutput> output, QObject* parent)
    : QObject(parent), m_job(std::move(job)), m_output(std::move(output)), m_strOutputPath(m_output->Path()) {
    m_job.maxTransfers = std::max(1, m_job.maxTransfers);
    m_job.maxPerHost = std::max(1, m_job.maxPerHost);
    if (m_job.maxWaiting <= 0)
        m_job.maxWaiting = 2 * m_job.maxTransfers;
    BeginStage({m_job.urls, m_job.webOptions, true, {}});
}

void UpdateEngine::BeginStage(Stage stage) {
    m_stage = std::move(stage);
    QHash<QString, int> hosts;
    m_slots.assign(m_stage.urls.size(), Slot());
    for (qsizetype i = 0; i < m_stage.urls.size(); ++i) {
        const QString key = FeedAddress::HostKey(m_stage.urls[i]);
        auto it = hosts.constFind(key);
        if (it == hosts.constEnd())
            it = hosts.insert(key, static_cast<int>(hosts.size()));
        m_slots[i].host = it.value();
    }
    m_hostRunning.assign(hosts.size(), 0);
    m_arrived.clear();
    m_firstPending = 0;
    m_nRunning = 0;
    m_nWaiting = 0;
    m_nWaitingBytes = 0;
    m_nextToWrite = 0;
}

UpdateEngine::~UpdateEngine() {
    Abandon();
    Wait();
}

void UpdateEngine::Start() {
    if (!m_coordinator.joinable())
        m_coordinator = std::thread([this] { Coordinate(); });
}

void UpdateEngine::Cancel() {
    if (m_done.load())
        return;
    m_cancelled.store(true);
    m_stop.store(true);
    std::lock_guard lock(m_mutex);
    m_written.notify_all();
    WakeFetcherLocked();
}

void UpdateEngine::Abandon() {
    m_abandoned.store(true);
    Cancel();
}

void UpdateEngine::Wait() {
    if (m_coordinator.joinable())
        m_coordinator.join();
}

bool UpdateEngine::LookAheadFullLocked() const {
    return m_nWaiting + m_nRunning >= m_job.maxWaiting || m_nWaitingBytes >= m_job.maxWaitingBytes;
}

int UpdateEngine::GiveUpPendingLocked(int first) {
    int givenUp = 0;
    for (int i = std::max(first, m_firstPending); i < static_cast<int>(m_slots.size()); ++i) {
        if (m_slots[i].state == Slot::State::Pending) {
            m_slots[i].state = Slot::State::Written;
            ++givenUp;
        }
    }
    return givenUp;
}

void UpdateEngine::WakeFetcherLocked() {
    m_freed.notify_one();
    if (m_pLoop)
        m_pLoop->Wakeup();
}

void UpdateEngine::SlotDoneLocked(int index, int result, const QString& reason, qint64 bytes) {
    Slot& slot = m_slots[index];
    slot.state = Slot::State::Done;
    slot.result = result;
    slot.reason = reason;
    slot.bytes = bytes;
    --m_hostRunning[slot.host];
    --m_nRunning;
    ++m_nWaiting;
    m_nWaitingBytes += bytes;
    if (!m_stage.inOrder) {
        m_arrived.push_back(index);
        m_written.notify_one();
    } else if (index == m_nextToWrite) {
        m_written.notify_one();
    }
}

int UpdateEngine::NextRunnable() const {
    if (m_nRunning >= m_job.maxTransfers)
        return -1;
    const bool lookAheadFull = LookAheadFullLocked();
    // Downloads taken as they come have no next one to make way for.
    if (lookAheadFull && !m_stage.inOrder)
        return -1;
    for (int i = m_firstPending; i < static_cast<int>(m_slots.size()); ++i) {
        const Slot& slot = m_slots[i];
        if (slot.state != Slot::State::Pending || m_hostRunning[slot.host] >= m_job.maxPerHost)
            continue;
        if (!lookAheadFull || i == m_nextToWrite)
            return i;
        if (i > m_nextToWrite)
            break;
    }
    return -1;
}

QString UpdateEngine::TakeTempFile() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_freeTempFiles.empty()) {
            QString path = std::move(m_freeTempFiles.back());
            m_freeTempFiles.pop_back();
            return path;
        }
    }
    return CreateTempFile(m_job.tempFolder);
}

void UpdateEngine::GiveBackTempFile(const QString& path) {
    if (path.isEmpty())
        return;
    // A failed download may leave an earlier document in it; only a good one is ever read,
    // and a good one is written from the start. A large one is let go of now, so that the
    // files kept for reuse hold little of the disk.
    if (FileSize(path) > LargeTempFile)
        ::truncate(QFile::encodeName(path).constData(), 0);
    std::lock_guard lock(m_mutex);
    m_freeTempFiles.push_back(path);
}

void UpdateEngine::Fetch() {
    FetchLoop loop;
    // Declared after the loop, so that downloads still in flight leave it before it goes.
    std::vector<std::pair<int, std::unique_ptr<CWebAccess>>> running;
    {
        std::lock_guard lock(m_mutex);
        m_pLoop = &loop;
    }
    const auto finish = [&](int index, const CWebAccess& session, const QString& tempFile) {
        const CWebAccess::Verdict& verdict = session.GetVerdict();
        const QString reason = CWebAccess::ReasonText(verdict);
        const qint64 bytes = verdict.result == CWebAccess::Success ? FileSize(tempFile) : 0;
        std::lock_guard lock(m_mutex);
        m_slots[index].cacheUpdate = session.PendingCacheUpdate();
        m_slots[index].received = session.BytesReceived();
        m_slots[index].server = session.ServerKind();
        m_slots[index].documentUrl = session.DocumentUrl();
        m_slots[index].contentType = session.ContentType();
        SlotDoneLocked(index, verdict.result, reason, bytes);
    };
    for (;;) {
        std::vector<int> starting;
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                if (m_stop.load())
                    break;
                while (m_firstPending < static_cast<int>(m_slots.size()) &&
                       m_slots[m_firstPending].state != Slot::State::Pending)
                    ++m_firstPending;
                for (int index = NextRunnable(); index >= 0; index = NextRunnable()) {
                    m_slots[index].state = Slot::State::Running;
                    ++m_hostRunning[m_slots[index].host];
                    ++m_nRunning;
                    starting.push_back(index);
                }
                // Something to drive, or nothing left to do at all.
                if (!starting.empty() || !running.empty() ||
                    m_firstPending >= static_cast<int>(m_slots.size()))
                    break;
                // Held back by the look-ahead: the writer wakes us when it has caught up.
                m_freed.wait(lock);
            }
        }
        if (m_stop.load() || (starting.empty() && running.empty()))
            break;
        for (const int index : starting) {
            const QString tempFile = TakeTempFile();
            auto session = std::make_unique<CWebAccess>(m_job.agentName);
            if (m_stage.origins.empty()) {
                session->SetOptions(m_stage.options);
            } else {
                CWebAccess::Options options = m_stage.options;
                options.reach.origin = m_stage.origins[index];
                session->SetOptions(options);
            }
            {
                std::lock_guard lock(m_mutex);
                m_slots[index].tempFile = tempFile;
            }
            if (tempFile.isEmpty()) {
                std::lock_guard lock(m_mutex);
                SlotDoneLocked(index, CWebAccess::TransferFailed,
                               QStringLiteral("Cannot create a temporary file in %1").arg(m_job.tempFolder),
                               0);
            } else if (session->Begin(m_stage.urls[index], tempFile, &m_stop)) {
                loop.Add(*session);
                running.emplace_back(index, std::move(session));
            } else {
                finish(index, *session, tempFile);
            }
        }
        for (CWebAccess* done : loop.Run(LoopWaitMs)) {
            const auto it = std::find_if(running.begin(), running.end(),
                                         [done](const auto& entry) { return entry.second.get() == done; });
            QString tempFile;
            {
                std::lock_guard lock(m_mutex);
                tempFile = m_slots[it->first].tempFile;
            }
            finish(it->first, *done, tempFile);
            running.erase(it);
        }
    }
    std::lock_guard lock(m_mutex);
    m_pLoop = nullptr;
}

void UpdateEngine::StopFetching() {
    m_stop.store(true);
    {
        std::lock_guard lock(m_mutex);
        WakeFetcherLocked();
    }
    if (m_fetcher.joinable())
        m_fetcher.join();
    // Downloads that were done but not yet written, those abandoned in flight, and the
    // files handed back.
    for (Slot& slot : m_slots) {
        if (!slot.tempFile.isEmpty())
            QFile::remove(slot.tempFile);
        slot.tempFile.clear();
    }
    for (const QString& path : m_freeTempFiles)
        QFile::remove(path);
    m_freeTempFiles.clear();
    m_arrived.clear();
}

void UpdateEngine::Coordinate() {
    NewsFeedWriter writer(m_output->Fd());
    if (!writer.WriteHeaderFromChannelFile(m_job.syncChannels, m_job.channelFile)) {
        m_outcome.failure = Failure::Write;
        m_outcome.reason = writer.ErrorString();
    } else if (!m_slots.empty()) {
        m_fetcher = std::thread([this] { Fetch(); });
    }

    for (int index = 0; m_outcome.failure == Failure::None && index < static_cast<int>(m_slots.size());
         ++index) {
        Slot done;
        {
            std::unique_lock lock(m_mutex);
            // The next feed to be written may start whatever the look-ahead holds.
            m_nextToWrite = index;
            if (m_slots[index].state == Slot::State::Pending)
                WakeFetcherLocked();
            m_written.wait(lock, [&] { return m_stop.load() || m_slots[index].state == Slot::State::Done; });
            if (m_stop.load())
                break;
            done = m_slots[index];
            m_slots[index].state = Slot::State::Written;
            m_slots[index].tempFile.clear();
        }
        bool ok = done.result == CWebAccess::Success;
        QString reason = done.reason;
        if (ok) {
            FeedCache* cache = done.cacheUpdate.pending ? m_job.webOptions.cache.get() : nullptr;
            QByteArray downloaded;
            const AppendResult appended =
                AppendFeedContent(writer, m_job.urls[index], done.tempFile, cache ? &downloaded : nullptr);
            if (appended == AppendResult::WriteError) {
                m_outcome.failure = Failure::Write;
                m_outcome.reason = writer.ErrorString();
            }
            ok = appended == AppendResult::Written;
            if (appended == AppendResult::NoContent)
                reason = QStringLiteral("Empty document");
            // From what was read for the record, or else from the file.
            if (cache && !downloaded.isNull())
                StoreInCache(done.cacheUpdate, std::move(downloaded));
            else if (cache)
                CWebAccess::ApplyCacheUpdate(*cache, done.cacheUpdate, done.tempFile);
        }
        GiveBackTempFile(done.tempFile);
        {
            std::lock_guard lock(m_mutex);
            if (LeaveLookAheadLocked(done.bytes))
                WakeFetcherLocked();
        }
        if (m_outcome.failure != Failure::None)
            break;
        if (ok) {
            ++m_outcome.writtenFeeds;
            m_feedServers.insert(m_job.urls[index], done.server);
        } else
            ++m_outcome.failedFeeds;
        emit feedDone(index, ok, reason);
    }
    EndRun();
}

void UpdateEngine::StoreInCache(const CWebAccess::CacheUpdate& update, QByteArray document) {
    std::unique_lock lock(m_cacheMutex);
    if (!m_cacheStorer.joinable())
        m_cacheStorer = std::thread([this] { StoreCacheCopies(); });
    // Bounded, so that a slow cache folder holds the run back rather than filling the memory.
    m_cacheTaken.wait(lock, [this] { return m_nCacheBytes < MaxCacheQueueBytes; });
    m_nCacheBytes += document.size();
    m_cacheCopies.push_back({update.key, std::move(document), update.record});
    m_cacheQueued.notify_one();
}

void UpdateEngine::StoreCacheCopies() {
    std::unique_lock lock(m_cacheMutex);
    for (;;) {
        m_cacheQueued.wait(lock, [this] { return m_bCacheDone || !m_cacheCopies.empty(); });
        if (m_cacheCopies.empty())
            return;
        const CacheCopy copy = std::move(m_cacheCopies.front());
        m_cacheCopies.pop_front();
        lock.unlock();
        m_job.webOptions.cache->StoreDocument(copy.key, copy.document, copy.record);
        lock.lock();
        m_nCacheBytes -= copy.document.size();
        m_cacheTaken.notify_one();
    }
}

void UpdateEngine::FinishCacheStores() {
    {
        std::lock_guard lock(m_cacheMutex);
        m_bCacheDone = true;
        m_cacheQueued.notify_one();
    }
    if (m_cacheStorer.joinable())
        m_cacheStorer.join();
}

void UpdateEngine::EndRun() {
    StopFetching();
    CloseOutput();
    // The next run asks about what this one fetched.
    FinishCacheStores();
    if (EBookDue())
        MakeEBook();
    m_outcome.cancelled = m_cancelled.load();
    if (m_job.afterRun && !m_abandoned.load()) {
        // Even a cancelled run's edition goes: the history has its articles, so no later
        // edition brings them again.
        emit delivering();
        m_outcome.afterRunLines =
            m_job.afterRun(m_outcome.bookMade ? m_outcome.bookPath : QString(), m_abandoned);
    }
    m_done.store(true);
    emit finished();
}

void UpdateEngine::CloseOutput() {
    QString closeError;
    if (!m_output->Close(&closeError) && m_outcome.failure == Failure::None) {
        m_outcome.failure = Failure::Write;
        m_outcome.reason = closeError;
    }
}

bool UpdateEngine::EBookDue() const {
    // A run that wrote no record keeps the earlier book, so a failed morning never empties
    // the phone's reading; nor is a book made from a file that could not be written whole.
    return (!m_job.bookPath.isEmpty() || m_job.edition) && m_outcome.writtenFeeds > 0 &&
           m_outcome.failure == Failure::None && !m_abandoned.load();
}

void UpdateEngine::MakeEBook() {
    emit makingEBook();
    // A run cancelled before a stage makes its book without what that stage would fetch.
    QHash<QString, ArticlePage> pages;
    WholeArticles wholeArticles;
    PictureFetcher fetch;
    if (!m_cancelled.load()) {
        wholeArticles.feeds = m_job.wholeArticleFeeds;
        wholeArticles.fetch = [&](const QStringList& links, const QStringList& feeds) {
            if (!m_cancelled.load()) {
                pages = FetchArticlePages(links, feeds);
                emit makingEBook();
            }
            return pages;
        };
        fetch = [&](const QStringList& addresses, const QStringList& shownBy, const PictureSink& take) {
            if (m_cancelled.load())
                return;
            FetchPictures(addresses, shownBy, take);
            emit makingEBook();
        };
    }
    EBookOptions options;
    options.greyPictures = m_job.greyPictures;
    // What this run put in place, whatever has taken the path since it was closed.
    const NewsFeedSource finished(m_strOutputPath, m_output->FinishedFd());
    QString error;
    if (m_job.edition) {
        EditionResult edition;
        if (WriteNewsEdition(finished, *m_job.edition, m_job.runTime, &edition, &error, &m_abandoned, fetch,
                             options, wholeArticles))
            m_outcome.bookMade = !edition.nothingNew;
        else
            m_outcome.bookError = error;
        m_outcome.bookPath = edition.path;
        m_outcome.bookNotes = edition.notes;
    } else {
        m_outcome.bookPath = m_job.bookPath;
        if (WriteEBookEdition(finished, m_job.bookPath, m_job.runTime, &error, &m_abandoned, fetch, options,
                              wholeArticles))
            m_outcome.bookMade = true;
        else
            m_outcome.bookError = error;
    }
    for (const ArticlePage& page : std::as_const(pages))
        QFile::remove(page.file);
}

std::vector<NetworkKind> UpdateEngine::OriginsOf(const QStringList& feeds, qsizetype count) const {
    std::vector<NetworkKind> origins;
    origins.reserve(size_t(count));
    for (const QString& feed : feeds)
        origins.push_back(m_feedServers.value(feed, NetworkKind::Public));
    origins.resize(size_t(count), NetworkKind::Public);
    return origins;
}

void UpdateEngine::StartBookStage() {
    // The feeds' end raised the stop; a Cancel raises m_cancelled before it, so one that
    // comes while it is lowered here is not lost.
    m_stop.store(false);
    if (m_cancelled.load())
        m_stop.store(true);
    m_fetcher = std::thread([this] { Fetch(); });
}

bool UpdateEngine::TakeArrived(int& index, Slot& arrived, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    // Stopped, or out of time: what has arrived is still taken.
    m_written.wait_until(lock, deadline, [&] { return m_stop.load() || !m_arrived.empty(); });
    if (std::chrono::steady_clock::now() >= deadline && !m_stop.load()) {
        m_stop.store(true);
        WakeFetcherLocked();
    }
    if (m_arrived.empty())
        return false;
    index = m_arrived.back();
    m_arrived.pop_back();
    arrived = m_slots[index];
    m_slots[index].state = Slot::State::Written;
    m_slots[index].tempFile.clear();
    return true;
}

bool UpdateEngine::LeaveLookAheadLocked(qint64 bytes) {
    const bool heldBack = LookAheadFullLocked();
    --m_nWaiting;
    m_nWaitingBytes -= bytes;
    return heldBack;
}

QHash<QString, ArticlePage> UpdateEngine::FetchArticlePages(const QStringList& links,
                                                            const QStringList& feeds) {
    CWebAccess::Options options = m_job.webOptions;
    options.accept = "text/html";
    options.maxBodyBytes = extract::kMaxPageBytes;
    options.cache = m_job.articleCache;
    // The feed's author chose these links, not the user: they may lead where the pictures may.
    options.reach.confined = true;
    QHash<QString, ArticlePage> pages;
    const int total = int(links.size());
    int done = 0;
    emit articlesFetched(0, total);
    const auto deadline = std::chrono::steady_clock::now() + m_job.maxArticleTime;
    BeginStage({links, options, false, OriginsOf(feeds, links.size())});
    StartBookStage();
    Slot arrived;
    int index;
    while (done < total && TakeArrived(index, arrived, deadline)) {
        ++done;
        if (arrived.result == CWebAccess::Success) {
            if (options.cache)
                CWebAccess::ApplyCacheUpdate(*options.cache, arrived.cacheUpdate, arrived.tempFile);
            pages.insert(links[index], {arrived.tempFile, arrived.documentUrl, arrived.contentType});
        } else {
            GiveBackTempFile(arrived.tempFile);
        }
        {
            std::lock_guard lock(m_mutex);
            if (LeaveLookAheadLocked(arrived.bytes))
                WakeFetcherLocked();
        }
        emit articlesFetched(done, total);
    }
    StopFetching();
    return pages;
}

void UpdateEngine::FetchPictures(const QStringList& addresses, const QStringList& shownBy,
                                 const PictureSink& take) {
    const UpdateJob::PictureLimits& limits = m_job.pictureLimits;
    CWebAccess::Options options = m_job.webOptions;
    options.accept = ebook::kPictureAccept;
    options.maxBodyBytes = ebook::kMaxPictureBytes;
    options.cache = m_job.pictureCache;
    // The feed's author chose these addresses, not the user.
    options.reach.confined = true;
    BeginStage({addresses, options, false, OriginsOf(shownBy, addresses.size())});

    const int total = int(addresses.size());
    int done = 0;
    qint64 received = 0;
    bool room = true;
    {
        std::lock_guard lock(m_mutex);
        done = GiveUpPendingLocked(limits.maxDownloads);
    }
    emit picturesFetched(done, total);
    const auto deadline = std::chrono::steady_clock::now() + limits.maxTime;
    StartBookStage();
    Slot arrived;
    int index;
    while (done < total && TakeArrived(index, arrived, deadline)) {
        ++done;
        received += arrived.received;
        const bool ok = arrived.result == CWebAccess::Success;
        if (ok && options.cache)
            CWebAccess::ApplyCacheUpdate(*options.cache, arrived.cacheUpdate, arrived.tempFile);
        // The book makes its picture of it while the next ones download.
        QFile file(arrived.tempFile);
        if (ok && arrived.bytes <= ebook::kMaxPictureBytes && file.open(QIODevice::ReadOnly))
            room = take(addresses[index], file.readAll());
        file.close();
        GiveBackTempFile(arrived.tempFile);
        {
            // The picture leaves the look-ahead only now, in the same step that leaves out
            // the rest once the book is full: no download starts in between.
            std::lock_guard lock(m_mutex);
            const bool heldBack = LeaveLookAheadLocked(arrived.bytes);
            if (received >= limits.maxBytes) {
                // Whatever they were, enough bytes came in: those on the way are dropped too.
                done += GiveUpPendingLocked(0);
                m_stop.store(true);
                WakeFetcherLocked();
            } else if (!room) {
                // The book takes no more: the pictures after it are not fetched at all.
                done += GiveUpPendingLocked(0);
            } else if (heldBack) {
                WakeFetcherLocked();
            }
        }
        emit picturesFetched(done, total);
    }
    StopFetching();
}
