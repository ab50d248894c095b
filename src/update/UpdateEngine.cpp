#include "update/UpdateEngine.h"

#include "update/AppPaths.h"
#include "update/FeedCache.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace {

// The server a download talks to, for the limit per host: the host name without user
// name and port, in lower case.
QString HostKey(const QString& url) {
    QString host = CWebAccess::SplitUrl(url).host.toLower();
    host = host.mid(host.lastIndexOf(QLatin1Char('@')) + 1);
    if (host.startsWith(QLatin1Char('[')))
        return host.left(host.indexOf(QLatin1Char(']')) + 1);
    return host.left(host.indexOf(QLatin1Char(':')));
}

// A new empty file "NEW..." in the private temporary folder, or an empty string.
QString CreateTempFile(const QString& folder) {
    QByteArray pattern = QFile::encodeName(folder + QStringLiteral("/NEWXXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return QString();
    ::close(fd);
    return QFile::decodeName(pattern);
}

} // namespace

UpdateEngine::UpdateEngine(UpdateJob job, std::unique_ptr<NewsFeedOutput> output, QObject* parent)
    : QObject(parent), m_job(std::move(job)), m_output(std::move(output)), m_strOutputPath(m_output->Path()) {
    m_job.maxTransfers = std::max(1, m_job.maxTransfers);
    m_job.maxPerHost = std::max(1, m_job.maxPerHost);
    if (!m_job.webOptions.cache)
        m_job.webOptions.cache = FeedCache::ForUser();
    QHash<QString, int> hosts;
    m_slots.resize(m_job.urls.size());
    for (qsizetype i = 0; i < m_job.urls.size(); ++i) {
        const QString key = HostKey(m_job.urls[i]);
        auto it = hosts.constFind(key);
        if (it == hosts.constEnd())
            it = hosts.insert(key, static_cast<int>(hosts.size()));
        m_slots[i].host = it.value();
    }
    m_hostRunning.assign(hosts.size(), 0);
}

UpdateEngine::~UpdateEngine() {
    Cancel();
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
    m_wake.notify_all();
}

void UpdateEngine::Wait() {
    if (m_coordinator.joinable())
        m_coordinator.join();
}

int UpdateEngine::NextRunnable() {
    while (m_firstPending < static_cast<int>(m_slots.size()) &&
           m_slots[m_firstPending].state != Slot::State::Pending)
        ++m_firstPending;
    for (int i = m_firstPending; i < static_cast<int>(m_slots.size()); ++i) {
        const Slot& slot = m_slots[i];
        if (slot.state == Slot::State::Pending && m_hostRunning[slot.host] < m_job.maxPerHost)
            return i;
    }
    return -1;
}

void UpdateEngine::Work(const QString& tempFolder) {
    for (;;) {
        int index = -1;
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                if (m_stop.load())
                    return;
                index = NextRunnable();
                if (index >= 0)
                    break;
                if (m_firstPending >= static_cast<int>(m_slots.size()))
                    return;
                m_wake.wait(lock);
            }
            m_slots[index].state = Slot::State::Running;
            ++m_hostRunning[m_slots[index].host];
        }
        const QString tempFile = CreateTempFile(tempFolder);
        int result = CWebAccess::TransferFailed;
        if (!tempFile.isEmpty()) {
            CWebAccess session(m_job.agentName);
            session.SetOptions(m_job.webOptions);
            result = session.Download(m_job.urls[index], tempFile, &m_stop);
        }
        {
            std::lock_guard lock(m_mutex);
            Slot& slot = m_slots[index];
            slot.state = Slot::State::Done;
            slot.result = result;
            slot.tempFile = tempFile;
            --m_hostRunning[slot.host];
        }
        m_wake.notify_all();
    }
}

void UpdateEngine::StopWorkers() {
    m_stop.store(true);
    {
        std::lock_guard lock(m_mutex);
        m_wake.notify_all();
    }
    for (std::thread& worker : m_workers)
        worker.join();
    m_workers.clear();
    // Downloads that were done but not yet written, and those abandoned in flight.
    for (Slot& slot : m_slots) {
        if (!slot.tempFile.isEmpty())
            QFile::remove(slot.tempFile);
        slot.tempFile.clear();
    }
}

void UpdateEngine::Coordinate() {
    NewsFeedWriter writer(m_output->Fd());
    QString tempError;
    const QString tempFolder = AppPaths::PrivateTempFolder(&tempError);
    if (tempFolder.isEmpty()) {
        m_outcome.failure = Failure::TempFolder;
        m_outcome.reason = tempError;
    } else if (!writer.WriteHeaderFromChannelFile(m_job.syncChannels, m_job.channelFile)) {
        m_outcome.failure = Failure::Write;
        m_outcome.reason = writer.ErrorString();
    } else {
        const int workers = std::min<int>(m_job.maxTransfers, static_cast<int>(m_slots.size()));
        for (int i = 0; i < workers; ++i)
            m_workers.emplace_back([this, tempFolder] { Work(tempFolder); });
    }

    for (int index = 0; m_outcome.failure == Failure::None && index < static_cast<int>(m_slots.size());
         ++index) {
        Slot done;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop.load() || m_slots[index].state == Slot::State::Done; });
            if (m_stop.load())
                break;
            done = m_slots[index];
            m_slots[index].tempFile.clear();
        }
        bool ok = done.result == CWebAccess::Success;
        if (ok) {
            const AppendResult appended = AppendFeedContent(writer, m_job.urls[index], done.tempFile);
            if (appended == AppendResult::WriteError) {
                m_outcome.failure = Failure::Write;
                m_outcome.reason = writer.ErrorString();
            }
            ok = appended == AppendResult::Written;
        }
        if (!done.tempFile.isEmpty())
            QFile::remove(done.tempFile);
        if (m_outcome.failure != Failure::None)
            break;
        if (!ok)
            ++m_outcome.failedFeeds;
        emit feedDone(index, ok);
    }

    StopWorkers();
    QString closeError;
    if (!m_output->Close(&closeError) && m_outcome.failure == Failure::None) {
        m_outcome.failure = Failure::Write;
        m_outcome.reason = closeError;
    }
    m_outcome.cancelled = m_cancelled.load();
    m_done.store(true);
    emit finished();
}
