#pragma once

#include "update/CWebAccess.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class NewsFeedOutput;

// What one update run fetches, and how.
struct UpdateJob {
    QStringList urls; // in list order; the file's records follow it
    QString agentName;
    bool syncChannels = false;
    QString channelFile;  // carried in the file while syncChannels is set
    int maxTransfers = 8; // downloads at once
    int maxPerHost = 4;   // downloads at once from one host
    // Without a cache of its own, the run uses the user's feed cache.
    CWebAccess::Options webOptions;
};

// One update run: downloads the job's feeds on worker threads, several at once, and writes
// the news feed file on a thread of its own, record by record in list order, so the file is
// byte for byte the one a one-at-a-time run writes. It never touches the user interface:
// everything it has to say goes out through queued signals, in list order.
class UpdateEngine : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        None,
        TempFolder, // the private temporary folder cannot be used
        Write,      // the news feed file cannot be written
    };
    // How the run ended; complete once finished() has been emitted.
    struct Outcome {
        int failedFeeds = 0;
        bool cancelled = false;
        Failure failure = Failure::None;
        QString reason; // the system's words for the failure
    };

    // Takes the open, locked output file; the run closes it before it reports the end.
    UpdateEngine(UpdateJob job, std::unique_ptr<NewsFeedOutput> output, QObject* parent = nullptr);
    // Cancels the run and waits until the file is closed.
    ~UpdateEngine() override;

    UpdateEngine(const UpdateEngine&) = delete;
    UpdateEngine& operator=(const UpdateEngine&) = delete;

    const UpdateJob& Job() const { return m_job; }
    QString OutputPath() const { return m_strOutputPath; }

    void Start();
    // Stops the run without letting the downloads in flight finish. Returns at once;
    // finished() follows once the file ends after its last complete record and is closed.
    void Cancel();
    // Blocks until the run has ended and its file is closed.
    void Wait();
    bool IsRunning() const { return m_coordinator.joinable() && !m_done.load(); }

    Outcome GetOutcome() const { return m_outcome; }

signals:
    // One per feed, in list order: its record is in the file (ok) or it failed.
    void feedDone(int index, bool ok);
    // The run has ended and the file is closed; see GetOutcome().
    void finished();

private:
    struct Slot {
        enum class State { Pending, Running, Done };
        State state = State::Pending;
        int host = 0;
        int result = 0;
        QString tempFile;
    };

    void Coordinate();
    void Work(const QString& tempFolder);
    int NextRunnable();
    void StopWorkers();

    UpdateJob m_job;
    std::unique_ptr<NewsFeedOutput> m_output;
    QString m_strOutputPath;
    Outcome m_outcome;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Slot> m_slots;
    std::vector<int> m_hostRunning;
    int m_firstPending = 0;
    std::atomic_bool m_stop{false};
    std::atomic_bool m_cancelled{false};
    std::atomic_bool m_done{false};

    std::vector<std::thread> m_workers;
    std::thread m_coordinator;
};
