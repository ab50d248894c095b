// The pictures of the e-book as a run fetches them: after the feeds, asking for pictures with
// the run's agent name, into the book when their bytes are a picture it takes, from the cache
// when they have not changed, counted in the progress dialog, and never a failure of the run.
#include "EpubTestUtil.h"
#include "TestClock.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "base/Settings.h"
#include "ebook/Pictures.h"
#include "testsupport.h"
#include "update/EBookEdition.h"
#include "update/FeedCache.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"
#include "update/ui/CDlgProgress.h"
#include "update/ui/UpdateController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace pellavo::test;

Q_DECLARE_METATYPE(UpdateJob::PictureLimits)

namespace {

const char kAgent[] = "RSS Reader";

// What the server has under /pics/: what it sends, as what, and whether it answers 304.
struct Served {
    const char* name;
    QByteArray bytes;
    QByteArray type;
    bool cacheable = true;
};

QList<Served> servedPictures() {
    QByteArray huge = tinyPicture("png", 5);
    huge.append(3 * 1024 * 1024, '\0');
    return {
        {"photo.jpg", tinyPicture("jpg", 1), "image/jpeg"},
        {"chart.png", tinyPicture("png", 2), "image/png"},
        {"anim.gif", tinyPicture("gif"), "image/gif"},
        {"pic.webp", tinyPicture("webp"), "image/webp"},
        {"drawing.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>",
         "image/svg+xml", false},
        {"fake.png", "<html><body>Sign in to see this picture</body></html>", "image/png", false},
        {"truly-png.jpg", tinyPicture("png", 3), "image/jpeg"},
        {"huge.png", huge, "image/png", false},
        {"lead.jpg", tinyPicture("jpg", 4), "image/jpeg"},
    };
}

QByteArray img(const char* name) {
    return "&lt;img src=\"/pics/" + QByteArray(name) + "\" alt=\"" + name + "\"&gt;";
}

QByteArray rss(const QByteArray& items) {
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Pictures</title>" + items +
           "</channel></rss>\n";
}

QByteArray item(const QByteArray& title, const QByteArray& description, const QByteArray& extra = {}) {
    return "<item><title>" + title + "</title><description>" + description + "</description>" + extra +
           "</item>";
}

} // namespace

class TestEBookPictures : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    TestHttpServer m_elsewhere; // stands in for a server on the internet
    QString m_output;
    QString m_book;
    std::shared_ptr<FeedCache> m_pictureCache;

    QString url(const char* path) const { return m_server.url(QString::fromLatin1(path)); }

    QList<HttpRequestRecord> pictureRequests(qsizetype from) const {
        QList<HttpRequestRecord> pictures;
        for (const HttpRequestRecord& request : m_server.requests().mid(from))
            if (request.target.startsWith("/pics/"))
                pictures << request;
        return pictures;
    }

    UpdateEngine::Outcome runEngine(const QStringList& urls, QList<QList<QVariant>>* progress,
                                    int maxTransfers = 8, const UpdateJob::PictureLimits& limits = {}) {
        auto output = NewsFeedOutput::Open(m_output, nullptr);
        if (!output)
            return {};
        UpdateJob job;
        job.urls = urls;
        job.agentName = QLatin1String(kAgent);
        job.tempFolder = AppPaths::PrivateTempFolder();
        job.bookPath = m_book;
        job.runTime = QDateTime::currentDateTime();
        job.pictureCache = m_pictureCache;
        job.maxTransfers = maxTransfers;
        job.pictureLimits = limits;
        job.webOptions.reach.publicStandIns = {"127.0.0.2"};
        UpdateEngine engine(job, std::move(output));
        QSignalSpy spy(&engine, &UpdateEngine::picturesFetched);
        engine.Start();
        engine.Wait();
        *progress = spy;
        return engine.GetOutcome();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        QVERIFY2(m_elsewhere.start("127.0.0.2"), qPrintable(m_elsewhere.errorString()));
        m_output = m_dir.filePath(QStringLiteral("news.nff"));
        m_book = EBookPathFor(m_output);
        m_pictureCache = std::make_shared<FeedCache>(m_dir.filePath(QStringLiteral("pictures")));
        for (const Served& served : servedPictures()) {
            HttpResponse response = HttpResponse::ok(served.bytes, served.type);
            if (served.cacheable) {
                response.headers.append({"ETag", "\"" + QByteArray(served.name) + "\""});
                response.honourValidators = true;
            }
            m_server.setRoute("/pics/" + QByteArray(served.name), response);
        }
        QByteArray all;
        for (const Served& served : servedPictures())
            if (qstrcmp(served.name, "lead.jpg") != 0)
                all += img(served.name);
        m_server.setRoute("/feeds/a.xml", HttpResponse::ok(rss(item("One", all + img("gone.png")) +
                                                               item("Two", "Again: " + img("chart.png")))));
        m_server.setRoute("/feeds/b.xml",
                          HttpResponse::ok(rss(
                              item("Lead", "Words only",
                                   "<enclosure url=\"/pics/lead.jpg\" type=\"image/jpeg\" length=\"1\"/>"))));
        HttpResponse stalled = HttpResponse::ok(tinyPicture("png", 6), "image/png");
        stalled.delayMs = 20000;
        m_server.setRoute("/pics/stalled.png", stalled);
        m_server.setRoute("/feeds/stalled.xml", HttpResponse::ok(rss(item("Stalled", img("stalled.png")))));
    }

    // The pictures the book takes go in once each with their types, asked for as pictures
    // by the run's agent; the rest give way to their words and fail nothing. The next run
    // gets "not modified" for the unchanged ones and makes the same book from the cache.
    void pictureStage() {
        const QStringList urls = {url("/feeds/a.xml"), url("/feeds/b.xml")};
        QStringList books;
        for (int round = 0; round < 2; ++round) {
            const qsizetype before = m_server.requests().size();
            QList<QList<QVariant>> progress;
            const UpdateEngine::Outcome outcome = runEngine(urls, &progress);
            QCOMPARE(outcome.failedFeeds, 0);
            QCOMPARE(outcome.bookError, QString());
            QCOMPARE(progress.value(0), (QList<QVariant>{0, 10}));
            QCOMPARE(progress.value(progress.size() - 1), (QList<QVariant>{10, 10}));

            const QList<HttpRequestRecord> requests = pictureRequests(before);
            QCOMPARE(requests.size(), 10);
            QStringList answers;
            for (const HttpRequestRecord& request : requests) {
                QCOMPARE(request.header("Accept"), QByteArray(ebook::kPictureAccept));
                QCOMPARE(request.header("User-Agent"), QByteArray(kAgent));
                QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
                answers << QString::number(request.status);
            }
            answers.sort();
            QCOMPARE(answers.join(QLatin1Char(' ')),
                     round == 0 ? QStringLiteral("200 200 200 200 200 200 200 200 200 404")
                                : QStringLiteral("200 200 200 304 304 304 304 304 304 404"));

            books << m_dir.filePath(QStringLiteral("round%1.epub").arg(round));
            QFile::remove(books.last());
            QVERIFY(QFile::copy(m_book, books.last()));
        }
        const Epub first = readEpub(books[0]);
        const Epub second = readEpub(books[1]);
        const QStringList images = first.names.filter(QStringLiteral("EPUB/images/"));
        // Pictures of one colour are drawings; the tiny GIF is smaller as it is.
        QCOMPARE(images,
                 (QStringList{"EPUB/images/cover.jpg", "EPUB/images/img0001.png", "EPUB/images/img0002.png",
                              "EPUB/images/img0003.gif", "EPUB/images/img0004.png", "EPUB/images/img0005.png",
                              "EPUB/images/img0006.png"}));
        for (const QString& image : images.mid(1))
            QCOMPARE(second.files.value(image), first.files.value(image));
        const QByteArray chapter = first.files.value(QStringLiteral("EPUB/feed0001.xhtml"));
        QVERIFY(chapter.contains("drawing.svgfake.png"));
        QVERIFY(chapter.contains("huge.pnggone.png"));
        QCOMPARE(chapter.count("src=\"images/img0002.png\""), 2);
        // A book made without a network, as pellavo-nff makes it, keeps the words.
        const QString plain = m_dir.filePath(QStringLiteral("plain.epub"));
        QVERIFY(WriteEBookEdition(m_output, plain, QDateTime::currentDateTime()));
        QCOMPARE(readEpub(plain).names.filter(QStringLiteral("images/")),
                 QStringList{"EPUB/images/cover.jpg"});
        QVERIFY(readEpub(plain)
                    .files.value(QStringLiteral("EPUB/feed0001.xhtml"))
                    .contains("photo.jpgchart.png"));

        if (!hasEpubCheck())
            QSKIP("EPUBCheck (java, /usr/share/java/epubcheck.jar) is not installed");
        for (const QString& book : books) {
            const QString problem = epubCheckProblem(book);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    // Once the pictures fetched fill the book as it stores them, the rest are left out of it.
    void budget() {
        const QByteArray large = noisyPhoto(1600, 1200);
        const int fits = int(ebook::kMaxBookPictureBytes / ebook::PreparePicture(large, false).bytes.size());
        QByteArray images;
        for (int i = 0; i < fits + 8; ++i) {
            const QByteArray path = "/big/" + QByteArray::number(i) + ".jpg";
            m_server.setRoute(path, HttpResponse::ok(large, "image/jpeg"));
            images += "&lt;img src=\"" + path + "\"&gt;";
        }
        m_server.setRoute("/feeds/big.xml", HttpResponse::ok(rss(item("Big", images))));
        const qsizetype before = m_server.requests().size();
        QList<QList<QVariant>> progress;
        QCOMPARE(runEngine({url("/feeds/big.xml")}, &progress, 1).bookError, QString());
        // The feed, the pictures that fill the book, the one that finds it full (the book counts
        // pictures as it stores them, so only one that does not fit tells), and no more than
        // the look-ahead (twice the one download at a time) less that one.
        const qsizetype requests = m_server.requests().size() - before;
        QVERIFY2(requests >= 1 + fits && requests <= 1 + fits + 2, qPrintable(QString::number(requests)));
        QCOMPARE(progress.value(progress.size() - 1), (QList<QVariant>{fits + 8, fits + 8}));
        QCOMPARE(readEpub(m_book).names.filter(QStringLiteral("EPUB/images/img")).size(), fits);
    }

    // However many pictures a feed shows and however slowly they come, the stage ends within
    // its bounds, and the book takes what arrived.
    void limits_data() {
        QTest::addColumn<UpdateJob::PictureLimits>("limits");
        QTest::addColumn<bool>("stalled");
        QTest::addColumn<int>("minRequests");
        QTest::addColumn<int>("maxRequests");
        using namespace std::chrono_literals;
        // Six pictures of 100,000 bytes, one at a time; the last stalls when asked to.
        QTest::newRow("downloads") << UpdateJob::PictureLimits{3, 10'000'000, 10min} << false << 3 << 3;
        // The third picture reaches the bytes; one more may be on its way (the look-ahead is two).
        QTest::newRow("bytes") << UpdateJob::PictureLimits{2000, 250'000, 10min} << false << 3 << 4;
        QTest::newRow("time") << UpdateJob::PictureLimits{2000, 10'000'000, 1s} << true << 6 << 6;
    }
    void limits() {
        QFETCH(UpdateJob::PictureLimits, limits);
        QFETCH(bool, stalled);
        QFETCH(int, minRequests);
        QFETCH(int, maxRequests);
        const QByteArray tag = QTest::currentDataTag();
        QByteArray images;
        for (int i = 0; i < 6; ++i) {
            const QByteArray path = "/pics/" + tag + QByteArray::number(i) + ".png";
            QByteArray picture = tinyPicture("png", i);
            picture.append(100'000 - picture.size(), '\0');
            HttpResponse response = HttpResponse::ok(picture, "image/png");
            response.delayMs = stalled && i == 5 ? 60'000 : 0;
            m_server.setRoute(path, response);
            images += "&lt;img src=\"" + path + "\"&gt;";
        }
        m_server.setRoute("/feeds/" + tag + ".xml", HttpResponse::ok(rss(item("Many", images))));
        const qsizetype before = m_server.requests().size();
        QElapsedTimer timer;
        timer.start();
        QList<QList<QVariant>> progress;
        QCOMPARE(runEngine({url("/feeds/" + tag + ".xml")}, &progress, 1, limits).bookError, QString());
        QVERIFY2(timer.elapsed() < 30'000, qPrintable(QString::number(timer.elapsed())));
        const int requests = int(pictureRequests(before).size());
        QVERIFY2(requests >= minRequests && requests <= maxRequests, qPrintable(QString::number(requests)));
        const int pictures = int(readEpub(m_book).names.filter(QStringLiteral("EPUB/images/img")).size());
        QVERIFY2(pictures >= minRequests - int(stalled) && pictures <= maxRequests,
                 qPrintable(QString::number(pictures)));
    }

    // A feed from the internet gets no picture from this machine; one from here does.
    void privateAddresses() {
        m_server.setRoute("/pics/inner.png", HttpResponse::ok(tinyPicture("png", 7), "image/png"));
        m_elsewhere.setRoute("/pics/own.png", HttpResponse::ok(tinyPicture("png", 8), "image/png"));
        const QByteArray images = "&lt;img src=\"" + m_server.url("/pics/inner.png").toUtf8() + "\"&gt;" +
                                  "&lt;img src=\"/pics/own.png\"&gt;";
        m_elsewhere.setRoute("/feeds/outside.xml", HttpResponse::ok(rss(item("Outside", images))));
        const qsizetype before = m_server.requests().size();
        QList<QList<QVariant>> progress;
        QCOMPARE(
            runEngine({m_elsewhere.url("/feeds/outside.xml"), url("/feeds/b.xml")}, &progress).failedFeeds,
            0);
        QStringList fetched;
        for (const HttpRequestRecord& request : pictureRequests(before))
            fetched << QString::fromLatin1(request.target);
        QCOMPARE(fetched, QStringList{"/pics/lead.jpg"});
        QCOMPARE(readEpub(m_book).names.filter(QStringLiteral("EPUB/images/img")).size(), 2);
    }

    // The dialog counts the pictures as a stage of their own and ends on the feeds alone; a
    // Cancel during the pictures makes the book of those that arrived. No picture gets a box.
    void progressDialog() {
        Settings settings(m_dir.filePath(QStringLiteral("settings.ini")));
        settings.SetFeedFile(m_output);
        settings.SetEBook(true);
        // Both runs' books carry every article, so the second has the first one's pictures too.
        settings.SetEditionOptions({false, 0, 0, 0});
        TestClock clock(QDateTime::currentDateTime());
        UpdateController update(settings, clock);
        update.Attach({}, nullptr);
        update.LoadSettings();
        QSignalSpy ended(&update, &UpdateController::runFinished);

        const QStringList urls = {url("/feeds/a.xml"), url("/feeds/b.xml")};
        update.OnUpdate([&] { return urls; });
        CDlgProgress* dialog = update.ProgressDialog();
        QTRY_VERIFY(dialog->IsFinished());
        QCOMPARE(dialog->m_ctlStatus->text(), QStringLiteral("Finished."));
        QVERIFY(!dialog->FailureBox());
        QCOMPARE(dialog->m_ctlProgress->maximum(), 2);
        QCOMPARE(dialog->m_ctlProgress->value(), 2);
        dialog->m_btnOK->click();
        QTRY_COMPARE(ended.size(), 1);

        update.OnUpdate([&] { return urls + QStringList{url("/feeds/stalled.xml")}; });
        dialog = update.ProgressDialog();
        QTRY_COMPARE(dialog->m_ctlStatus->text(), QStringLiteral("Fetching pictures: 10 of 11"));
        QCOMPARE(dialog->m_ctlProgress->maximum(), 11);
        QCOMPARE(dialog->m_ctlProgress->value(), 10);
        dialog->m_btnCancel->click();
        QTRY_COMPARE(ended.size(), 2);
        const QWidgetList windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.begin(), windows.end(), [](QWidget* window) {
            return window->isVisible() && qobject_cast<QMessageBox*>(window);
        }));
        const Epub book = readEpub(EBookOfSameRun(m_output));
        QCOMPARE(book.names.filter(QStringLiteral("EPUB/images/")).size(), 7);
        QVERIFY(book.files.value(QStringLiteral("EPUB/feed0003.xhtml")).contains(">stalled.png<"));
    }

    void cleanupTestCase() {
        m_server.stop();
        m_elsewhere.stop();
    }
};

PELLAVO_TEST_MAIN(TestEBookPictures)
#include "tst_EBookPictures.moc"
