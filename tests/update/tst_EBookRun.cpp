// The e-book edition as update runs make it: beside the news feed file, after the last
// record, whole or not at all, and never in place of a good book by a run that fetched nothing.
#include "RunTestUtil.h"
#include "TestClock.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "base/AtomicFile.h"
#include "base/Settings.h"
#include "testsupport.h"
#include "update/EBookEdition.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"
#include "update/ui/CDlgProgress.h"
#include "update/ui/UpdateController.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/file.h>
#include <zip.h>

using namespace pellavo::test;

namespace {

const QString kMakingEBook = QStringLiteral("Making the e-book...");

// The chapters of the book, in order, or {"no book"} when it is no zip archive with the
// "mimetype" entry first.
QStringList chapters(const QString& path) {
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return {QStringLiteral("no book")};
    QStringList names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i)
        names << QString::fromUtf8(zip_get_name(archive, zip_uint64_t(i), 0));
    zip_close(archive);
    if (names.value(0) != QLatin1String("mimetype"))
        return {QStringLiteral("no book")};
    return names.filter(QStringLiteral("EPUB/feed"));
}

} // namespace

class TestEBookRun : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    QString m_output;
    QString m_book;
    std::unique_ptr<Settings> m_settings;
    TestClock m_clock{QDateTime(QDate(2024, 5, 10), QTime(6, 0))};

    QString url(const char* path) const { return m_server.url(QString::fromLatin1(path)); }

    std::unique_ptr<UpdateController> controller(bool ebook, const QStringList& all = {}) {
        m_settings = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings->SetFeedFile(m_output);
        m_settings->SetEBook(ebook);
        UpdateController::Sources sources;
        sources.collectAll = [all] { return all; };
        auto result = std::make_unique<UpdateController>(*m_settings, m_clock);
        result->Attach(sources, nullptr);
        result->LoadSettings();
        return result;
    }

    // What the status line says when the run starts its book, once the dialog has heard.
    static void watchStatus(CDlgProgress* dialog, QString* seen) {
        QObject::connect(dialog->m_pEngine, &UpdateEngine::makingEBook, dialog,
                         [dialog, seen] { *seen = dialog->m_ctlStatus->text(); });
    }

    // Answers every modal box that comes up with Return and keeps its text, while `context`
    // (which must not outlive `shown`) lives.
    static void answerModalBoxes(QObject* context, QStringList* shown) {
        auto* timer = new QTimer(context);
        QObject::connect(timer, &QTimer::timeout, [shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                *shown << box->windowTitle() + QLatin1Char('|') + box->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        timer->start(20);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_output = m_dir.filePath(QStringLiteral("news.nff"));
        // The edition of a run at the test clock's time.
        m_book = m_dir.filePath(QStringLiteral("news-2024-05-10-0600.epub"));
        HttpResponse slow = HttpResponse::ok(rssFeed("Second", 1, "Text"));
        slow.delayMs = 200;
        m_server.setRoute("/first", HttpResponse::ok(rssFeed("First", 1, "Text")));
        m_server.setRoute("/second", slow);
        HttpResponse stalled = HttpResponse::ok(rssFeed("Stalled", 1, "Text"));
        stalled.delayMs = 20000;
        m_server.setRoute("/stalled", stalled);
    }

    // No editions and no history: every run's articles are new.
    void init() {
        for (const QFileInfo& book :
             QDir(m_dir.path()).entryInfoList({QStringLiteral("*.epub*")}, QDir::AllEntries | QDir::Hidden)) {
            if (book.isDir())
                QDir(book.filePath()).removeRecursively();
            else
                QFile::remove(book.filePath());
        }
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(AppPaths::HistoryFile() + QLatin1String(suffix));
    }

    void cleanup() { QVERIFY(!anyWindowShown()); }

    // With the box ticked the run leaves a book of its records beside the file, after the
    // last record; with it clear there is none and the status line never mentions it.
    void bookBesideTheFile_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("ebook");
        QTest::newRow("manual") << true << true;
        QTest::newRow("scheduled") << false << true;
        QTest::newRow("manual, box clear") << true << false;
        QTest::newRow("scheduled, box clear") << false << false;
    }

    void bookBesideTheFile() {
        QFETCH(bool, manual);
        QFETCH(bool, ebook);
        const QStringList urls = {url("/first"), url("/missing"), url("/second")};
        auto update = controller(ebook, urls);
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        QString seen;
        QStringList boxes;
        if (manual) {
            answerModalBoxes(update.get(), &boxes);
            update->OnUpdate([&] { return urls; });
            CDlgProgress* dialog = update->ProgressDialog();
            watchStatus(dialog, &seen);
            QTRY_VERIFY(dialog->FailureBox());
            QTest::keyClick(dialog->FailureBox(), Qt::Key_Return);
            QTRY_VERIFY(dialog->IsFinished());
            QCOMPARE(dialog->m_ctlStatus->text().left(9), QStringLiteral("Finished."));
            QVERIFY(!dialog->FailureBox());
            dialog->m_btnOK->click();
        } else {
            QVERIFY(update->StartScheduledRun());
        }
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(boxes.isEmpty());
        QCOMPARE(readNff(m_output).urls, (QStringList{url("/first"), url("/second")}));
        // Send To takes along only a book that the run which last wrote the file made.
        QCOMPARE(EBookOfSameRun(m_output), ebook ? m_book : QString());
        if (!ebook) {
            QVERIFY(!QFile::exists(m_book));
            QVERIFY(seen.isEmpty());
            return;
        }
        QCOMPARE(chapters(m_book),
                 (QStringList{QStringLiteral("EPUB/feed0001.xhtml"), QStringLiteral("EPUB/feed0002.xhtml")}));
        if (manual)
            QCOMPARE(seen, kMakingEBook);
    }

    // Whoever reads the path during a run finds the file of the run before, whole; the run's
    // file takes its place at the end, and the book is made of it even when another file has
    // taken the path by then.
    void wholeFileAtEveryMoment() {
        writeFile(m_output, "the file of the run before");
        {
            // Send To reading it: the run cannot start, and leaves the file as it was.
            QFile reading(m_output);
            QVERIFY(reading.open(QIODevice::ReadOnly));
            QCOMPARE(::flock(reading.handle(), LOCK_SH), 0);
            QString error;
            QVERIFY(!NewsFeedOutput::Open(m_output, &error));
            QCOMPARE(error, QStringLiteral("The file is in use by another program."));
        }
        const QByteArray other = NewsFeedFile::EncodeHeader(false, {}) +
                                 NewsFeedFile::EncodeRecord(url("/other"), rssFeed("Other", 1, "Text"));
        UpdateJob job;
        job.urls = QStringList{url("/first"), url("/second")};
        job.tempFolder = AppPaths::PrivateTempFolder();
        job.bookPath = m_book;
        job.runTime = m_clock.now;
        UpdateEngine engine(job, NewsFeedOutput::Open(m_output, nullptr));
        ThreadSignal finished(&engine, &UpdateEngine::finished);
        QByteArray seen;
        connect(
            &engine, &UpdateEngine::feedDone, &engine, [&] { seen += readFile(m_output) + "|"; },
            Qt::DirectConnection);
        bool replaced = false;
        connect(
            &engine, &UpdateEngine::makingEBook, &engine,
            [&] {
                if (!replaced) {
                    seen += readNff(m_output).urls.join(QLatin1Char(' ')).toUtf8();
                    replaced = WriteFileAtomically(m_output, other);
                }
            },
            Qt::DirectConnection);
        engine.Start();
        QVERIFY(finished.wait());
        QCOMPARE(seen, "the file of the run before|the file of the run before|" +
                           (url("/first") + QLatin1Char(' ') + url("/second")).toUtf8());
        QVERIFY(replaced);
        QVERIFY(QDir(m_dir.path())
                    .entryList({QStringLiteral(".news.nff*")}, QDir::Hidden | QDir::Files)
                    .isEmpty());
        QCOMPARE(chapters(m_book),
                 (QStringList{QStringLiteral("EPUB/feed0001.xhtml"), QStringLiteral("EPUB/feed0002.xhtml")}));
    }

    // A run that fetched nothing, or one abandoned while it makes its book, leaves the
    // earlier book byte for byte and no file of its own beside it.
    void earlierBookKept_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("every feed fails") << QStringLiteral("fails");
        QTest::newRow("cancelled before the first record") << QStringLiteral("cancelled");
        QTest::newRow("abandoned while the book is made") << QStringLiteral("abandoned");
    }

    void earlierBookKept() {
        QFETCH(QString, how);
        writeFile(m_book, "an earlier book");
        // From the run before, an hour ago.
        QFile earlier(m_book);
        QVERIFY(earlier.open(QIODevice::ReadWrite));
        QVERIFY(earlier.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                    QFileDevice::FileModificationTime));
        earlier.close();
        const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);
        if (how == QLatin1String("fails")) {
            auto update = controller(true, {url("/missing"), url("/gone")});
            QSignalSpy ended(update.get(), &UpdateController::runFinished);
            QVERIFY(update->StartScheduledRun());
            QTRY_COMPARE(ended.size(), 1);
        } else if (how == QLatin1String("cancelled")) {
            auto update = controller(true);
            QSignalSpy ended(update.get(), &UpdateController::runFinished);
            const int requests = m_server.requests().size();
            update->OnUpdate([&] { return QStringList{url("/stalled"), url("/first")}; });
            QVERIFY(m_server.waitForRequests(requests + 2));
            update->ProgressDialog()->m_btnCancel->click();
            QTRY_COMPARE(ended.size(), 1);
        } else {
            UpdateJob job;
            job.urls = QStringList{url("/first")};
            job.tempFolder = AppPaths::PrivateTempFolder();
            job.bookPath = m_book;
            job.runTime = m_clock.now;
            UpdateEngine engine(job, NewsFeedOutput::Open(m_output, nullptr));
            ThreadSignal finished(&engine, &UpdateEngine::finished);
            // As the program's exit does while the run makes its book.
            connect(
                &engine, &UpdateEngine::makingEBook, &engine, [&engine] { engine.Abandon(); },
                Qt::DirectConnection);
            engine.Start();
            QVERIFY(finished.wait());
            QCOMPARE(engine.GetOutcome().writtenFeeds, 1);
            QVERIFY(!engine.GetOutcome().bookError.isEmpty());
        }
        QCOMPARE(readFile(m_book), QByteArray("an earlier book"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
        QVERIFY(EBookOfSameRun(m_output).isEmpty());
    }

    // Cancel after the first record: the dialog says why it stays, and the book holds what
    // the run fetched.
    void cancelledRunMakesBookOfWhatItFetched() {
        auto update = controller(true);
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        update->OnUpdate([&] { return QStringList{url("/first"), url("/stalled")}; });
        CDlgProgress* dialog = update->ProgressDialog();
        QString seen;
        connect(dialog->m_pEngine, &UpdateEngine::makingEBook, dialog, [&] {
            QVERIFY(dialog->isVisible());
            seen = dialog->m_ctlStatus->text();
        });
        QTRY_COMPARE(dialog->m_ctlProgress->value(), 1);
        dialog->m_btnCancel->click();
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(seen, kMakingEBook);
        QCOMPARE(chapters(m_book), QStringList{QStringLiteral("EPUB/feed0001.xhtml")});
    }

    // A book that cannot be written: a manual run says so in an "Error" box after its end
    // text (after the dialog, when it was cancelled); a scheduled run says nothing.
    void unwritableBook_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("manual") << QStringLiteral("manual");
        QTest::newRow("manual, cancelled") << QStringLiteral("cancelled");
        QTest::newRow("scheduled") << QStringLiteral("scheduled");
    }

    void unwritableBook() {
        QFETCH(QString, how);
        // Where the edition is written before it is put in place.
        const QString unfinished = m_dir.filePath(QStringLiteral(".news-2024-05-10-0600.epub.part"));
        QVERIFY(QDir().mkpath(unfinished + QStringLiteral("/chapters")));
        auto update = controller(true, {url("/first")});
        QSignalSpy ended(update.get(), &UpdateController::runFinished);
        QStringList boxes;
        answerModalBoxes(update.get(), &boxes);
        if (how == QLatin1String("manual")) {
            update->OnUpdate([&] { return QStringList{url("/first")}; });
            CDlgProgress* dialog = update->ProgressDialog();
            QTRY_VERIFY(dialog->FailureBox());
            QVERIFY(dialog->IsFinished());
            QCOMPARE(dialog->m_ctlStatus->text(), QStringLiteral("Finished."));
            QCOMPARE(dialog->FailureBox()->windowTitle(), QStringLiteral("Error"));
            boxes << dialog->FailureBox()->windowTitle() + QLatin1Char('|') + dialog->FailureBox()->text();
            QTest::keyClick(dialog->FailureBox(), Qt::Key_Return);
            QTest::keyClick(dialog, Qt::Key_Return);
        } else if (how == QLatin1String("cancelled")) {
            update->OnUpdate([&] { return QStringList{url("/first"), url("/stalled")}; });
            QTRY_COMPARE(update->ProgressDialog()->m_ctlProgress->value(), 1);
            update->ProgressDialog()->m_btnCancel->click();
        } else {
            QVERIFY(update->StartScheduledRun());
        }
        QTRY_COMPARE(ended.size(), 1);
        if (how == QLatin1String("cancelled"))
            QTRY_COMPARE(boxes.size(), 1);
        QTest::qWait(100);
        if (how == QLatin1String("scheduled")) {
            QVERIFY(boxes.isEmpty());
        } else {
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0],
                     QStringLiteral("Error|Failed to write the e-book %1: Is a directory").arg(m_book));
        }
        QVERIFY(QFileInfo(unfinished + QStringLiteral("/chapters")).isDir());
        QVERIFY(!QFileInfo::exists(m_book));
        QCOMPARE(readNff(m_output).urls.value(0), url("/first"));
    }
};

PELLAVO_TEST_MAIN(TestEBookRun)
#include "tst_EBookRun.moc"
