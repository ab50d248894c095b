#include "RunTestUtil.h"
#include "TestClock.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "base/Settings.h"
#include "testsupport.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"
#include "update/ui/CDlgProgress.h"
#include "update/ui/UpdateController.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace pellavo::test;

namespace {

const QString kFinished = QStringLiteral("Finished.");
const QString kFinishedFailed =
    QStringLiteral("Finished. Failed to get one or more feeds, which will not be updated on your phone.");

// Whether another program could lock the file for reading now, as Send To does.
bool lockableForReading(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

} // namespace

class TestUpdateRun : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    QString m_output;
    QString m_channel;
    QByteArray m_channelBytes = "<?xml version=\"1.0\"?>\n<opml version=\"1.1\"><body/></opml>\n";
    std::unique_ptr<Settings> m_settings;
    TestClock m_clock{QDateTime(QDate(2024, 5, 10), QTime(12, 30, 0))};

    QString url(const char* path) const { return m_server.url(QString::fromLatin1(path)); }

    QString tempFolder() const {
        return QDir::tempPath() + QStringLiteral("/pellavo-") + QString::number(getuid());
    }

    QStringList leftoverDownloads() const {
        return QDir(tempFolder()).entryList({QStringLiteral("NEW*")}, QDir::Files);
    }

    std::unique_ptr<UpdateController> controller(const QStringList& all = {}) {
        m_settings = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings->SetFeedFile(m_output);
        UpdateController::Sources sources;
        sources.collectAll = [all] { return all; };
        sources.syncChannels = [] { return true; };
        sources.channelFile = [this] { return m_channel; };
        sources.titleOf = [](const QString& url) { return QStringLiteral("Title of ") + url; };
        auto result = std::make_unique<UpdateController>(*m_settings, m_clock);
        result->Attach(sources, nullptr);
        result->LoadSettings();
        return result;
    }

    // Runs the engine alone to the end and returns the file it wrote.
    QByteArray runEngine(const QStringList& urls, int maxTransfers, int maxPerHost, int* failed = nullptr) {
        QString error;
        auto output = NewsFeedOutput::Open(m_output, &error);
        if (!output)
            return QByteArray();
        UpdateJob job;
        job.urls = urls;
        job.agentName = QStringLiteral("Corvantis RSS Reader");
        job.syncChannels = true;
        job.channelFile = m_channel;
        job.maxTransfers = maxTransfers;
        job.maxPerHost = maxPerHost;
        job.tempFolder = AppPaths::PrivateTempFolder();
        UpdateEngine engine(job, std::move(output));
        QSignalSpy done(&engine, &UpdateEngine::feedDone);
        ThreadSignal finished(&engine, &UpdateEngine::finished);
        engine.Start();
        if (!finished.wait())
            return QByteArray();
        // Feeds are told in list order, whatever order their downloads ended in.
        for (int i = 0; i < done.size(); ++i) {
            if (done[i][0].toInt() != i)
                return QByteArray();
        }
        if (failed)
            *failed = engine.GetOutcome().failedFeeds;
        return readFile(m_output);
    }

    // The next modal box must be an "Error" box: its text goes to `shown`, and Return closes it.
    static void answerErrorBox(QString* shown) {
        QTimer::singleShot(0, [shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
            *shown = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        });
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Downloads go to the private temporary folder under TMPDIR: keep them in ours.
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        QVERIFY(QDir::tempPath().startsWith(m_dir.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_output = m_dir.filePath(QStringLiteral("news.nff"));
        m_channel = m_dir.filePath(QStringLiteral("Pellavo.Cha"));
        QFile channel(m_channel);
        QVERIFY(channel.open(QIODevice::WriteOnly));
        channel.write(m_channelBytes);
    }

    void cleanup() {
        QVERIFY(leftoverDownloads().isEmpty());
        QVERIFY(!anyWindowShown());
    }

    // Downloads end in another order than the list's, some fail: the file is still byte for
    // byte the one a one-at-a-time run writes, with the records in list order.
    void concurrentFileEqualsOneAtATime() {
        HttpResponse slow = HttpResponse::ok(rssFeed("slow"));
        slow.delayMs = 400;
        HttpResponse zipped = HttpResponse::ok(rssFeed("zipped", 50));
        zipped.gzip = true;
        zipped.delayMs = 150;
        m_server.setRoute("/slow", slow);
        m_server.setRoute("/fast", HttpResponse::ok(rssFeed("fast")));
        m_server.setRoute("/zipped", zipped);
        m_server.setRoute("/moved", HttpResponse::redirect("/fast"));
        m_server.setRoute("/empty", HttpResponse::ok(QByteArray()));
        const QString other = m_server.url(QStringLiteral("/fast"), QStringLiteral("localhost"));
        const QStringList urls = {url("/slow"),  url("/fast"),  url("/missing"), url("/zipped"), other,
                                  url("/moved"), url("/empty"), url("/slow"),    url("/fast")};

        int failedConcurrent = -1;
        int failedSequential = -1;
        const QByteArray concurrent = runEngine(urls, 8, 4, &failedConcurrent);
        const QByteArray sequential = runEngine(urls, 1, 1, &failedSequential);
        QVERIFY(!concurrent.isEmpty());
        QCOMPARE(concurrent, sequential);
        QCOMPARE(failedConcurrent, 2);
        QCOMPARE(failedSequential, 2);

        const NffContent nff = readNff(m_output);
        QVERIFY(nff.valid);
        QVERIFY(nff.sync);
        QCOMPARE(nff.channel, m_channelBytes);
        QCOMPARE(nff.urls, (QStringList{url("/slow"), url("/fast"), url("/zipped"), other, url("/moved"),
                                        url("/slow"), url("/fast")}));
        QCOMPARE(nff.contents[0], NewsFeedFile::CleanFeedDocument(rssFeed("slow")));
        QCOMPARE(nff.contents[2], NewsFeedFile::CleanFeedDocument(rssFeed("zipped", 50)));
        QCOMPARE(nff.contents[4], NewsFeedFile::CleanFeedDocument(rssFeed("fast")));
    }

    void transferLimits_data() {
        QTest::addColumn<int>("maxTransfers");
        QTest::addColumn<int>("maxPerHost");
        QTest::addColumn<bool>("twoHosts");
        QTest::addColumn<int>("waves");
        QTest::newRow("4 per host") << 8 << 4 << false << 2;
        QTest::newRow("8 at once over two hosts") << 2 << 4 << true << 4;
        QTest::newRow("one at a time") << 1 << 4 << true << 8;
    }

    // Eight feeds that each take 250 ms: the limits force at least so many rounds.
    void transferLimits() {
        QFETCH(int, maxTransfers);
        QFETCH(int, maxPerHost);
        QFETCH(bool, twoHosts);
        QFETCH(int, waves);
        HttpResponse slow = HttpResponse::ok(rssFeed("slow"));
        slow.delayMs = 250;
        m_server.setRoute("/quarter", slow);
        QStringList urls;
        for (int i = 0; i < 8; ++i)
            urls << m_server.url(QStringLiteral("/quarter?%1").arg(i), twoHosts && i % 2
                                                                           ? QStringLiteral("localhost")
                                                                           : QStringLiteral("127.0.0.1"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!runEngine(urls, maxTransfers, maxPerHost).isEmpty());
        QVERIFY2(timer.elapsed() >= waves * 250 - 20, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(readNff(m_output).urls, urls);
    }

    // The first feed stalls: the downloads behind it that wait to be written stay within
    // the look-ahead (in count, and in bytes), and the run still ends whole.
    void boundedLookAhead_data() {
        QTest::addColumn<qint64>("maxWaitingBytes");
        QTest::addColumn<int>("started");
        QTest::newRow("twice the transfers") << qint64(256) * 1024 * 1024 << 16;
        QTest::newRow("bytes") << qint64(1) << 8;
    }

    void boundedLookAhead() {
        QFETCH(qint64, maxWaitingBytes);
        QFETCH(int, started);
        HttpResponse stalled = HttpResponse::ok(rssFeed("stalled"));
        stalled.held = true;
        m_server.setRoute("/stalled", stalled);
        m_server.setRoute("/fast", HttpResponse::ok(rssFeed("fast")));
        QStringList urls = {url("/stalled")};
        for (int i = 0; i < 40; ++i)
            urls << url("/fast") + QStringLiteral("?%1").arg(i);
        auto output = NewsFeedOutput::Open(m_output, nullptr);
        QVERIFY(output);
        UpdateJob job;
        job.urls = urls;
        job.maxPerHost = 8;
        job.maxWaitingBytes = maxWaitingBytes;
        job.tempFolder = AppPaths::PrivateTempFolder();
        UpdateEngine engine(job, std::move(output));
        ThreadSignal finished(&engine, &UpdateEngine::finished);
        const int before = m_server.requests().size();
        engine.Start();
        QVERIFY(m_server.waitForRequests(before + started));
        // The stall lasts until it is let go: waiting longer can only start more.
        QTest::qWait(500);
        QCOMPARE(m_server.requests().size(), before + started);
        QVERIFY(leftoverDownloads().size() <= started);
        m_server.release();
        QVERIFY(finished.wait());
        QCOMPARE(engine.GetOutcome().failedFeeds, 0);
        QCOMPARE(readNff(m_output).urls, urls);
    }

    // A private temporary folder that cannot be used: the manual run says so in an "Error"
    // box naming the folder, and neither kind of run touches the last good file.
    void unusableTempFolder() {
        QFile old(m_output);
        QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("previous run");
        old.close();
        QTemporaryDir other;
        const QString blocked = other.filePath(QStringLiteral("pellavo-") + QString::number(getuid()));
        QFile notAFolder(blocked);
        QVERIFY(notAFolder.open(QIODevice::WriteOnly));
        notAFolder.close();
        const QByteArray savedTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(other.path()));
        auto update = controller({url("/first")});
        QString shown;
        answerErrorBox(&shown);
        const int manual = update->RunUpdate({url("/first")}, m_output);
        const bool scheduled = update->StartScheduledRun();
        qputenv("TMPDIR", savedTemp);
        QCOMPARE(manual, -1);
        QVERIFY2(shown.contains(blocked) && shown.contains(QStringLiteral("not a folder")),
                 qPrintable(shown));
        QVERIFY(!scheduled);
        QVERIFY(!update->IsUpdating());
        QCOMPARE(readFile(m_output), QByteArray("previous run"));
    }

    // The second of three feeds fails: one box when its turn comes, the downloads behind
    // it go on, then progress 3 of 3, the failure end text, records for the first and third.
    void failedFeedInTheMiddle() {
        HttpResponse third = HttpResponse::ok(rssFeed("third"));
        third.delayMs = 100;
        m_server.setRoute("/first", HttpResponse::ok(rssFeed("first")));
        m_server.setRoute("/third", third);
        auto update = controller();
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        update->OnUpdate([&] { return QStringList{url("/first"), url("/gone"), url("/third")}; });
        QVERIFY(update->IsUpdating());
        CDlgProgress* dialog = update->ProgressDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Updating Feeds..."));

        QTRY_VERIFY(dialog->FailureBox());
        QMessageBox* box = dialog->FailureBox();
        QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
        QCOMPARE(box->text(),
                 QStringLiteral("Failed to download %1, please check the URL and the Internet connection.")
                     .arg(url("/gone")));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->informativeText(), QStringLiteral("404 Not Found"));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(dialog->m_ctlProgress->value(), 1);
        QCOMPARE(dialog->m_ctlProgress->maximum(), 3);
        QCOMPARE(dialog->m_ctlStatus->text(), QStringLiteral("Downloading ") + url("/gone"));
        QVERIFY(dialog->m_btnCancel->isEnabled());
        QVERIFY(!dialog->m_btnOK->isEnabled());
        // The third feed is fetched and written while the box waits, and the file is closed.
        QTRY_VERIFY(!dialog->m_pEngine->IsRunning());
        QCOMPARE(readNff(m_output).urls, (QStringList{url("/first"), url("/third")}));
        QVERIFY(!dialog->IsFinished());

        QTest::keyClick(box, Qt::Key_Return);
        QTRY_VERIFY(dialog->IsFinished());
        QCOMPARE(dialog->m_ctlProgress->value(), 3);
        QCOMPARE(dialog->m_ctlStatus->text(), kFinishedFailed);
        // The whole line shows, wrapped within the label rather than cut off at its edge.
        const QLabel* status = dialog->m_ctlStatus;
        const auto fits = [status] {
            const QRect room = status->contentsRect();
            return room.contains(status->fontMetrics().boundingRect(room, Qt::TextWordWrap, status->text()));
        };
        QTRY_VERIFY(fits());
        QVERIFY(dialog->m_btnOK->isEnabled());
        QVERIFY(!dialog->m_btnCancel->isEnabled());
        // The failed feeds, listed and ready to be copied.
        QVERIFY(dialog->m_ctlFailed->isVisible());
        QCOMPARE(QAccessible::queryAccessibleInterface(dialog->m_ctlProgress)->text(QAccessible::Name),
                 QStringLiteral("Progress"));
        QCOMPARE(QAccessible::queryAccessibleInterface(dialog->m_ctlFailed)->text(QAccessible::Name),
                 QStringLiteral("Failed feeds"));
        QCOMPARE(dialog->m_ctlFailed->topLevelItemCount(), 1);
        const QTreeWidgetItem* failed = dialog->m_ctlFailed->topLevelItem(0);
        QCOMPARE(failed->text(0), QStringLiteral("Title of ") + url("/gone"));
        QCOMPARE(failed->text(1), url("/gone"));
        QCOMPARE(failed->text(2), QStringLiteral("404 Not Found"));
        dialog->m_btnCopyFailed->click();
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("Title of %1\t%1\t404 Not Found\n").arg(url("/gone")));
        QVERIFY(update->IsUpdating());
        QTest::keyClick(dialog, Qt::Key_Return);
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(!update->IsUpdating());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));

        const NffContent nff = readNff(m_output);
        QVERIFY(nff.valid);
        QCOMPARE(nff.urls, (QStringList{url("/first"), url("/third")}));
        const auto agents = m_server.requests();
        QCOMPARE(agents.last().header("User-Agent"), QByteArray("Corvantis RSS Reader"));
    }

    void allFeedsFine() {
        m_server.setRoute("/first", HttpResponse::ok(rssFeed("first")));
        auto update = controller();
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        update->OnUpdate([&] { return QStringList{url("/first"), url("/first")}; });
        CDlgProgress* dialog = update->ProgressDialog();
        QTRY_VERIFY(dialog->IsFinished());
        QVERIFY(!dialog->FailureBox());
        QVERIFY(!dialog->m_ctlFailed->isVisible());
        QCOMPARE(dialog->m_ctlStatus->text(), kFinished);
        QCOMPARE(dialog->m_ctlProgress->value(), 2);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(readNff(m_output).urls, (QStringList{url("/first"), url("/first")}));
    }

    // Cancel during the first download: the dialog closes at once, the file holds the
    // signature and the channel block only, and it is unlocked by then.
    void cancelDuringFirstDownload() {
        HttpResponse stalled = HttpResponse::ok(rssFeed("stalled"));
        stalled.delayMs = 20000;
        m_server.setRoute("/stalled", stalled);
        m_server.setRoute("/first", HttpResponse::ok(rssFeed("first")));
        auto update = controller();
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        const int before = m_server.requests().size();
        update->OnUpdate([&] { return QStringList{url("/stalled"), url("/first")}; });
        CDlgProgress* dialog = update->ProgressDialog();
        QVERIFY(m_server.waitForRequests(before + 2));
        // Send To cannot take the file while the run writes it.
        QVERIFY(!lockableForReading(m_output));
        QCOMPARE(dialog->m_ctlStatus->text(), QStringLiteral("Downloading ") + url("/stalled"));

        QElapsedTimer timer;
        timer.start();
        dialog->m_btnCancel->click();
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!update->IsUpdating());
        QVERIFY(lockableForReading(m_output));
        const NffContent nff = readNff(m_output);
        QVERIFY(nff.valid);
        QCOMPARE(nff.channel, m_channelBytes);
        QVERIFY(nff.urls.isEmpty());
    }

    // Nothing collected: nothing happens, nothing shows, the file stays as it was.
    void nothingToFetch() {
        QFile old(m_output);
        QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("previous run");
        old.close();
        auto update = controller();
        update->OnUpdate([] { return QStringList(); });
        QVERIFY(!update->ProgressDialog());
        QVERIFY(!update->IsUpdating());
        QVERIFY(!update->StartScheduledRun());
        QVERIFY(!update->IsUpdating());
        QCOMPARE(readFile(m_output), QByteArray("previous run"));
    }

    // An output folder that does not exist: an "Error" box names the file and the reason.
    void missingOutputFolder() {
        const QString path = m_dir.filePath(QStringLiteral("no/such/folder/news.nff"));
        auto update = controller();
        QString shown;
        answerErrorBox(&shown);
        QCOMPARE(update->RunUpdate({url("/first")}, path), -1);
        QVERIFY(shown.contains(path));
        QVERIFY(shown.contains(QStringLiteral("No such file or directory")));
        QVERIFY(!update->IsUpdating());
        QVERIFY(!update->ProgressDialog());
        QVERIFY(!QFile::exists(path));
    }

    // A new account without a documents folder: the default file's folder is made; any
    // other missing folder is still an error (above).
    void defaultFileWithoutDocumentsFolder() {
        const QByteArray savedHome = qgetenv("HOME");
        const QString home = m_dir.filePath(QStringLiteral("new-account"));
        qputenv("HOME", QFile::encodeName(home));
        const QString path = AppPaths::DefaultFeedFile();
        QString error;
        const auto output = path.startsWith(home) ? NewsFeedOutput::Open(path, &error) : nullptr;
        const bool opened = output && output->Close(&error);
        qputenv("HOME", savedHome);
        QVERIFY2(opened, qPrintable(path + QStringLiteral(": ") + error));
        QVERIFY(QFile::exists(path));
    }

    // The file cannot take the second record (a full disk): the run stops, says so in an
    // "Error" box and ends with the failure text; the file ends after the first record.
    void writeErrorStopsTheRun() {
        m_server.setRoute("/big", HttpResponse::ok(rssFeed("big", 40)));
        const qint64 oneRecord = 8 + 4 + m_channelBytes.size() + 4 + 2 * url("/big").size() + 4 +
                                 NewsFeedFile::CleanFeedDocument(rssFeed("big", 40)).size();
        // Files of this process may grow no further than one record past the header.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = static_cast<rlim_t>(oneRecord + 100);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

        auto update = controller();
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        update->OnUpdate([&] { return QStringList{url("/big"), url("/big"), url("/big")}; });
        CDlgProgress* dialog = update->ProgressDialog();
        QTRY_VERIFY(dialog->IsFinished());
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(dialog->m_ctlStatus->text(), kFinishedFailed);
        QMessageBox* box = dialog->FailureBox();
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
        QVERIFY2(box->text().contains(m_output) && box->text().contains(QStringLiteral("File too large")),
                 qPrintable(box->text()));
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(dialog, Qt::Key_Return);
        QTRY_COMPARE(ended.size(), 1);
        const NffContent nff = readNff(m_output);
        QVERIFY(nff.valid);
        QCOMPARE(nff.urls, QStringList{url("/big")});
        QCOMPARE(QFileInfo(m_output).size(), oneRecord);
    }

    // "Update All" while a scheduled run writes: the scheduled run stops with its file
    // closed, and the manual run then writes the file anew.
    void manualCommandAbandonsScheduledRun() {
        HttpResponse stalled = HttpResponse::ok(rssFeed("stalled"));
        stalled.delayMs = 20000;
        m_server.setRoute("/stalled", stalled);
        // Held until the run's first signal is watched, which it could otherwise beat.
        HttpResponse first = HttpResponse::ok(rssFeed("first"));
        first.held = true;
        m_server.setRoute("/first", first);
        m_server.setRoute("/second", HttpResponse::ok(rssFeed("second")));
        auto update = controller({url("/first"), url("/stalled")});
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        const int before = m_server.requests().size();
        QVERIFY(update->StartScheduledRun());
        QSignalSpy written(update->ScheduledRun(), &UpdateEngine::feedDone);
        QVERIFY(update->IsUpdating());
        QVERIFY(m_server.waitForRequests(before + 2));
        m_server.release();
        QTRY_COMPARE(written.size(), 1);
        QVERIFY(!lockableForReading(m_output));

        update->OnUpdate([&] { return QStringList{url("/second")}; });
        QVERIFY(!update->ScheduledRun());
        CDlgProgress* dialog = update->ProgressDialog();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->IsFinished());
        QCOMPARE(dialog->m_ctlStatus->text(), kFinished);
        dialog->m_btnOK->click();
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toBool(), true);
        QCOMPARE(readNff(m_output).urls, QStringList{url("/second")});
    }

    // With the defaults, the timer starts a run at the next full hour: every feed, the
    // "RSS Reader" agent, no window. A due time while a manual run's dialog is up is skipped.
    void scheduledRunFromTheTimer() {
        m_server.setRoute("/first", HttpResponse::ok(rssFeed("first")));
        m_server.setRoute("/second", HttpResponse::ok(rssFeed("second")));
        auto update = controller({url("/first"), url("/second")});
        QCOMPARE(update->Interval(), 1);
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        m_clock.now = QDateTime(QDate(2024, 5, 10), QTime(6, 59, 58, 500));
        update->StartTimer();
        QCOMPARE(update->UpdateTimer().interval(), 1000);
        QVERIFY(update->UpdateTimer().isActive());
        // The ticks that matter are the test's own; the timer's come in between at will.
        update->OnTimer();
        QVERIFY(ended.isEmpty());
        QVERIFY(!update->IsUpdating());

        const int before = m_server.requests().size();
        m_clock.now = QDateTime(QDate(2024, 5, 10), QTime(7, 0, 1, 300));
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
        QCOMPARE(ended[0][0].toBool(), false);
        QVERIFY(!update->IsUpdating());
        QVERIFY(!anyWindowShown());
        const NffContent nff = readNff(m_output);
        QVERIFY(nff.valid);
        QCOMPARE(nff.urls, (QStringList{url("/first"), url("/second")}));
        const QList<HttpRequestRecord> requests = m_server.requests().mid(before);
        QCOMPARE(requests.size(), 2);
        for (const HttpRequestRecord& request : requests)
            QCOMPARE(request.header("User-Agent"), QByteArray("RSS Reader"));

        // The next full hour comes while a manual run's dialog is open.
        update->OnUpdate([&] { return QStringList{url("/first")}; });
        CDlgProgress* dialog = update->ProgressDialog();
        QTRY_VERIFY(dialog->IsFinished());
        m_clock.now = QDateTime(QDate(2024, 5, 10), QTime(8, 0, 0, 100));
        update->OnTimer();
        QVERIFY(!update->ScheduledRun());
        dialog->m_btnOK->click();
        QTRY_COMPARE(ended.size(), 2);
        update->OnTimer();
        QVERIFY(!update->ScheduledRun());
        QCOMPARE(ended.size(), 2);
        QCOMPARE(readNff(m_output).urls, QStringList{url("/first")});
    }
};

PELLAVO_TEST_MAIN(TestUpdateRun)
#include "tst_UpdateRun.moc"
