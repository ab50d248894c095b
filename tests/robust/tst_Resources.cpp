// A program that runs for weeks saves thousands of times and updates hundreds of times:
// after 1,000 saves and 100 update runs in one process, the open file descriptors and
// the memory in use are back where they started.
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "model/ChannelStore.h"
#include "model/OpmlWriter.h"
#include "model/OutlineItem.h"
#include "testsupport.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define PELLAVO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELLAVO_ASAN 1
#endif
#endif
#ifdef PELLAVO_ASAN
#include <sanitizer/lsan_interface.h>
// Declared by clang's sanitizer headers, not by GCC's; both runtimes define it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace pellavo::test;

namespace {

constexpr int kSaves = 1000;
constexpr int kRuns = 100;

// A folder in memory (/dev/shm) where the system has one: every save is synced to the
// disk, which would make a thousand saves take many seconds on a real one.
QString InMemoryTemplate() {
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    return memory.isDir() && memory.isWritable() ? QStringLiteral("/dev/shm/pellavo-test-XXXXXX") : QString();
}

int OpenFileDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Bytes the allocator has handed out and not yet got back.
qint64 HeapInUse() {
#ifdef PELLAVO_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

std::unique_ptr<COutlineItem> Subscriptions() {
    auto root = std::make_unique<COutlineItem>();
    for (int i = 0; i < 100; ++i) {
        auto* feed = new COutlineItem;
        COutlineItem::SetString(feed->m_pszTitle, QByteArray("Feed " + QByteArray::number(i)).constData());
        COutlineItem::SetString(feed->m_pszXmlUrl,
                                QByteArray("http://127.0.0.1/" + QByteArray::number(i)).constData());
        root->AppendChild(feed);
    }
    return root;
}

QByteArray Feed(int items) {
    QByteArray body = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>t</title>\n";
    for (int i = 0; i < items; ++i)
        body += "<item><title>item " + QByteArray::number(i) + "</title></item>\n";
    return body + "</channel></rss>\n";
}

HttpResponse Answer(const QByteArray& status, const QByteArray& headers, const QByteArray& body) {
    HttpResponse response;
    response.raw = "HTTP/1.1 " + status + "\r\nConnection: close\r\n" + headers +
                   "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return response;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir{InMemoryTemplate()};
    std::unique_ptr<COutlineItem> m_root = Subscriptions();
    unsigned m_backups = 0;

    // The saves that follow every change to the subscriptions: a backup, then the channel file.
    bool Saves(int count) {
        const ChannelStore store(AppPaths::ChannelFile(), AppPaths::BackupFile);
        const ModelOutlineTree tree(m_root.get());
        for (int i = 0; i < count; ++i) {
            QString error;
            if (!store.Backup(++m_backups, &error) || !store.Write(tree, &error)) {
                qWarning("save %u: %s", m_backups, qPrintable(error));
                return false;
            }
        }
        return true;
    }

    // Update runs of four feeds each (one of them missing) against a server that lives
    // only as long as the runs, so that its own bookkeeping is gone before we count.
    bool Runs(int count) {
        TestHttpServer server;
        if (!server.start())
            return false;
        // Each answer goes out in one piece, which spares the runs a delayed acknowledgement per feed.
        server.setRoute("/small", Answer("200 OK", "", Feed(3)));
        server.setRoute("/zipped", Answer("200 OK", "Content-Encoding: gzip\r\n", gzipCompress(Feed(500))));
        server.setRoute("/moved", Answer("302 Found", "Location: /small\r\n", "moved"));
        const QString output = m_dir.filePath(QStringLiteral("news.nff"));
        for (int i = 0; i < count; ++i) {
            QString error;
            auto file = NewsFeedOutput::Open(output, &error);
            if (!file)
                return false;
            UpdateJob job;
            job.urls = {server.url(QStringLiteral("/small")), server.url(QStringLiteral("/zipped")),
                        server.url(QStringLiteral("/moved")), server.url(QStringLiteral("/missing"))};
            job.agentName = QStringLiteral("RSS Reader");
            job.syncChannels = true;
            job.channelFile = AppPaths::ChannelFile();
            job.tempFolder = AppPaths::PrivateTempFolder();
            UpdateEngine engine(job, std::move(file));
            ThreadSignal finished(&engine, &UpdateEngine::finished);
            engine.Start();
            if (!finished.wait() || engine.GetOutcome().failedFeeds != 1)
                return false;
        }
        return true;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Backups and downloads (TMPDIR) and the channel file (HOME, in test mode) in memory.
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        QVERIFY(AppPaths::ChannelFile().startsWith(m_dir.path()));
        QVERIFY(AppPaths::PrivateTempFolder().startsWith(m_dir.path()));
    }

    void savesAndRunsGiveBack() {
        // Once-only set-up (libcurl, TLS, Qt's caches) happens in a first round.
        QVERIFY(Saves(20));
        QVERIFY(Runs(5));
        const int fds = OpenFileDescriptors();
        const qint64 heap = HeapInUse();

        QVERIFY(Saves(kSaves));
        QVERIFY(Runs(kRuns));
        QTRY_COMPARE(OpenFileDescriptors(), fds);
        const qint64 growth = HeapInUse() - heap;
        qInfo("after %d saves and %d update runs: %d descriptors open, heap grew by %lld bytes", kSaves,
              kRuns, OpenFileDescriptors(), growth);
        // A leak of 100 bytes a save or 1 KB a run would exceed this bound.
        QVERIFY2(growth < 64 * 1024, qPrintable(QStringLiteral("%1 bytes more in use").arg(growth)));
#ifdef PELLAVO_ASAN
        QCOMPARE(__lsan_do_recoverable_leak_check(), 0);
#endif
    }
};

PELLAVO_TEST_MAIN(TestResources)
#include "tst_Resources.moc"
