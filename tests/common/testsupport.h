#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <QtTest>

namespace pellavo::test {

// Puts QStandardPaths into test mode, gives the process a private home and runtime
// folder, and clears proxy variables so that loopback traffic never leaves the
// machine. Runs before QCoreApplication exists.
void prepareEnvironment();

// Folder with the fixtures in tests/data.
QString dataDir();

// The whole file, or nothing when it cannot be read.
QByteArray readFile(const QString& path);
// Creates or replaces the file with `bytes` and returns its path; a file a test cannot
// even set up ends the test program.
QString writeFile(const QString& path, const QByteArray& bytes);

// An RSS 2.0 feed titled `title` with `items` items titled "<title> 0", "<title> 1", ...,
// each with `description` when it is not empty. It declares a document type and the old
// RSS 2.0 namespace, as many feeds still do, which the news feed file's cleaning removes.
QByteArray rssFeed(const QByteArray& title, int items = 3, const QByteArray& description = {});

// A device that accepts `limit` bytes and then fails, like a disk that fills up.
class FailingBuffer : public QBuffer {
public:
    explicit FailingBuffer(qint64 limit) : m_limit(limit) {}

protected:
    qint64 writeData(const char* data, qint64 length) override {
        if (pos() + length > m_limit)
            return -1;
        return QBuffer::writeData(data, length);
    }

private:
    qint64 m_limit;
};

// Waits for a signal that another thread emits, as this thread's event loop delivers it.
// QSignalSpy::wait misses a signal that comes before it begins to wait, which a quick
// worker thread does often enough on a loaded machine; this never does.
class ThreadSignal : public QObject {
public:
    template <typename Sender, typename Signal> ThreadSignal(const Sender* sender, Signal signal) {
        connect(sender, signal, this, &ThreadSignal::Arrived, Qt::QueuedConnection);
    }

    // Until the signal has come, or the time is up.
    bool wait(int timeoutMs = 30000) {
        if (m_arrived)
            return true;
        // A timer of its own: one made by QTimer::singleShot is deleted only by an outer event
        // loop, which a test may never run.
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
        return m_arrived;
    }

private:
    void Arrived() {
        m_arrived = true;
        if (m_loop)
            m_loop->quit();
    }

    bool m_arrived = false;
    QEventLoop* m_loop = nullptr;
};

} // namespace pellavo::test

// QTEST_MAIN with the environment prepared first.
#define PELLAVO_TEST_MAIN(TestObject)                                                                        \
    static const bool pellavoEnvironmentPrepared = (pellavo::test::prepareEnvironment(), true);              \
    QTEST_MAIN(TestObject)
