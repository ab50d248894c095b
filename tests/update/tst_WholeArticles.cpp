// Whole articles for feeds that carry only a summary: the pages of the articles going into the
// edition are fetched after the feeds, asking for web pages with the run's agent name and the
// cache, and the article found takes the summary's place when it says more. Everything else
// keeps the summary and fails nothing; a Cancel makes the book with what came.
#include "EpubTestUtil.h"
#include "RunTestUtil.h"
#include "TestClock.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "base/Settings.h"
#include "testsupport.h"
#include "update/EBookEdition.h"
#include "update/FeedCache.h"
#include "update/UpdateEngine.h"
#include "update/ui/CDlgProgress.h"
#include "update/ui/UpdateController.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace pellavo::test;

namespace {

const char kAgent[] = "RSS Reader";

QByteArray rss(const QByteArray& items) {
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Teasers</title>" + items +
           "</channel></rss>\n";
}

QByteArray item(const QByteArray& title, const QByteArray& link, const QByteArray& summary) {
    return "<item><title>" + title + "</title><link>" + link + "</link><description>" + summary +
           "</description></item>";
}

// A news site's page: navigation and a footer around an article of `paragraphs`.
QByteArray page(const QByteArray& title, const QByteArrayList& paragraphs, const QByteArray& extra = {}) {
    QByteArray body;
    for (const QByteArray& paragraph : paragraphs)
        body += "<p>" + paragraph + "</p>\n";
    return "<!DOCTYPE html><html><head><title>" + title +
           "</title></head><body>\n<header><nav><a href=\"/\">Home</a> <a href=\"/world\">World</a> "
           "<a href=\"/sport\">Sport</a></nav></header>\n<main><article><h1>" +
           title + "</h1>\n" + body + extra +
           "</article></main>\n<footer><a href=\"/privacy\">Privacy</a> Copyright Example News</footer>"
           "</body></html>\n";
}

QByteArrayList sentences(const QByteArray& word, int count) {
    QByteArrayList out;
    for (int i = 0; i < count; ++i)
        out << "The " + word + " story goes on in paragraph " + QByteArray::number(i) +
                   ", with enough words, commas, and detail to read like a real article does.";
    return out;
}

HttpResponse cacheable(const QByteArray& body, const QByteArray& type, const QByteArray& etag) {
    HttpResponse response = HttpResponse::ok(body, type);
    response.headers.append({"ETag", etag});
    response.honourValidators = true;
    return response;
}

} // namespace

class TestWholeArticles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    TestHttpServer m_elsewhere; // stands in for a server on the internet

    QString url(const char* path) const { return m_server.url(QString::fromLatin1(path)); }
    QByteArray link(const char* path) const { return url(path).toUtf8(); }

    // The requests for pages since `from`, by target.
    QHash<QByteArray, HttpRequestRecord> pageRequests(qsizetype from) const {
        QHash<QByteArray, HttpRequestRecord> pages;
        for (const HttpRequestRecord& request : m_server.requests().mid(from))
            if (!request.target.startsWith("/feeds/"))
                pages.insert(request.target, request);
        return pages;
    }

    UpdateEngine::Outcome runEdition(const QStringList& urls, bool onlyNew,
                                     QList<QList<QVariant>>* progress) {
        UpdateJob job;
        job.urls = urls;
        job.agentName = QLatin1String(kAgent);
        job.tempFolder = AppPaths::PrivateTempFolder();
        job.edition = EditionJob{m_dir.filePath(QStringLiteral("history.sqlite")), {onlyNew, 7, 0}, 0, {}};
        job.runTime = QDateTime::currentDateTime();
        job.pictureCache = std::make_shared<FeedCache>(m_dir.filePath(QStringLiteral("pictures")));
        job.articleCache = std::make_shared<FeedCache>(m_dir.filePath(QStringLiteral("articles")));
        job.wholeArticleFeeds = {urls.first()};
        job.webOptions.reach.publicStandIns = {"127.0.0.2"};
        return runJob(job, m_dir.filePath(QStringLiteral("news.nff")), &UpdateEngine::articlesFetched,
                      progress);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        QVERIFY2(m_elsewhere.start("127.0.0.2"), qPrintable(m_elsewhere.errorString()));
        // Moved: the page's own address resolves its relative picture.
        m_server.setRoute("/go/whole", HttpResponse::redirect("/articles/whole.html"));
        m_server.setRoute("/articles/whole.html",
                          cacheable(page("Whole", sentences("whole", 6),
                                         "<figure><img src=\"pics/chart.png\" alt=\"The chart\">"
                                         "<figcaption>How it went</figcaption></figure>"),
                                    "text/html", "\"w1\""));
        m_server.setRoute("/articles/pics/chart.png", HttpResponse::ok(tinyPicture("png"), "image/png"));
        // Its encoding is named only by the server.
        m_server.setRoute("/articles/latin.html", cacheable(page("Latin", sentences("Caf\xe9 cr\xe8me", 5)),
                                                            "text/html; charset=iso-8859-1", "\"l1\""));
        m_server.setRoute(
            "/articles/empty.html",
            HttpResponse::ok("<html><body><nav><a href=\"/\">Home</a></nav></body></html>", "text/html"));
        QByteArray huge = page("Huge", sentences("huge", 6));
        huge.append(6 << 20, ' ');
        m_server.setRoute("/articles/huge.html", HttpResponse::ok(huge, "text/html"));
        // A document that is no web page, though its bytes would read as a long one.
        m_server.setRoute(
            "/articles/paper.pdf",
            HttpResponse::ok("%PDF-1.4\n" + page("Paper", sentences("paper", 6)), "application/pdf"));
        m_server.setRoute("/articles/short.html",
                          HttpResponse::ok(page("Short", {"Two words."}), "text/html"));
        m_server.setRoute("/articles/leftout.html",
                          HttpResponse::ok(page("Left", sentences("left", 6)), "text/html"));
        m_server.setRoute("/articles/other.html",
                          HttpResponse::ok(page("Other", sentences("other", 6)), "text/html"));

        m_server.setRoute(
            "/feeds/teasers.xml",
            HttpResponse::ok(rss(item("Whole", link("/go/whole"), "Teaser whole. Continue reading...") +
                                 item("Latin", link("/articles/latin.html"), "Teaser latin.") +
                                 item("Empty", link("/articles/empty.html"), "Teaser empty stays.") +
                                 item("Missing", link("/articles/missing.html"), "Teaser missing stays.") +
                                 item("Huge", link("/articles/huge.html"), "Teaser huge stays.") +
                                 item("Paper", link("/articles/paper.pdf"), "Teaser paper stays.") +
                                 item("Short", link("/articles/short.html"),
                                      "Teaser short stays, as it says more than its page does.") +
                                 item("Left out", link("/articles/leftout.html"), "Over the limit."))));
        m_server.setRoute("/feeds/full.xml", HttpResponse::ok(rss(item("Other", link("/articles/other.html"),
                                                                       "Full text here."))));
    }

    // The articles the edition takes have their pages fetched as web pages, once each; the
    // ones found say more than their summaries and take their place, with their pictures and
    // their encoding; every other summary stays. The next run asks the cache's questions and
    // makes the same chapter from the answers "not modified".
    void pagesInTheBook() {
        const QStringList urls = {url("/feeds/teasers.xml"), url("/feeds/full.xml")};
        QByteArray chapters[2];
        for (int round = 0; round < 2; ++round) {
            const qsizetype before = m_server.requests().size();
            QList<QList<QVariant>> progress;
            const UpdateEngine::Outcome outcome = runEdition(urls, round == 0, &progress);
            QCOMPARE(outcome.failedFeeds, 0);
            QCOMPARE(outcome.bookError, QString());
            QCOMPARE(progress.value(0), (QList<QVariant>{0, 7}));
            QCOMPARE(progress.value(progress.size() - 1), (QList<QVariant>{7, 7}));

            const QHash<QByteArray, HttpRequestRecord> pages = pageRequests(before);
            QStringList targets;
            for (const QByteArray& target : pages.keys())
                targets << QString::fromLatin1(target);
            targets.sort();
            QCOMPARE(targets,
                     (QStringList{"/articles/empty.html", "/articles/huge.html", "/articles/latin.html",
                                  "/articles/missing.html", "/articles/paper.pdf", "/articles/pics/chart.png",
                                  "/articles/short.html", "/articles/whole.html", "/go/whole"}));
            for (const QByteArray target : {"/go/whole", "/articles/latin.html"}) {
                QCOMPARE(pages[target].header("Accept"), QByteArray("text/html"));
                QCOMPARE(pages[target].header("User-Agent"), QByteArray(kAgent));
            }
            QCOMPARE(pages["/articles/whole.html"].status, round == 0 ? 200 : 304);
            QCOMPARE(pages["/articles/latin.html"].status, round == 0 ? 200 : 304);

            const Epub book = readEpub(outcome.bookPath);
            chapters[round] = book.files.value(QStringLiteral("EPUB/feed0001.xhtml"));
            QCOMPARE(book.names.filter(QStringLiteral("EPUB/images/img")),
                     QStringList{"EPUB/images/img0001.png"});
            if (round == 0 && hasEpubCheck()) {
                const QString problem = epubCheckProblem(outcome.bookPath);
                QVERIFY2(problem.isEmpty(), qPrintable(problem));
            }
        }
        const QByteArray& chapter = chapters[0];
        QVERIFY(chapter.contains("The whole story goes on in paragraph 5"));
        QVERIFY(chapter.contains("src=\"images/img0001.png\""));
        QVERIFY(chapter.contains("The Caf\xc3\xa9 cr\xc3\xa8me story goes on in paragraph 4"));
        QVERIFY(!chapter.contains("Teaser whole") && !chapter.contains("Teaser latin"));
        for (const char* stays :
             {"Teaser empty stays.", "Teaser missing stays.", "Teaser huge stays.", "Teaser paper stays.",
              "Teaser short stays, as it says more than its page does."})
            QVERIFY2(chapter.contains(stays), stays);
        QVERIFY(!chapter.contains("Over the limit."));
        QCOMPARE(chapters[1], chapter);
    }

    // The dialog counts the pages as a stage of their own. A Cancel while one is slow makes the
    // book at once with the articles that came and the summary of the rest, without the
    // pictures and without any box.
    void cancelDuringTheStage() {
        HttpResponse stalled = HttpResponse::ok(page("Stalled", sentences("stalled", 6)), "text/html");
        stalled.delayMs = 20000;
        m_server.setRoute("/articles/stalled.html", stalled);
        m_server.setRoute(
            "/articles/quick.html",
            HttpResponse::ok(page("Quick", sentences("quick", 6), "<img src=\"/pics/q.png\" alt=\"q\">"),
                             "text/html"));
        m_server.setRoute(
            "/feeds/cancel.xml",
            HttpResponse::ok(rss(item("Quick", link("/articles/quick.html"), "Teaser quick.") +
                                 item("Stalled", link("/articles/stalled.html"), "Teaser stalled."))));
        const QString output = m_dir.filePath(QStringLiteral("cancel.nff"));
        Settings settings(m_dir.filePath(QStringLiteral("settings.ini")));
        settings.SetFeedFile(output);
        settings.SetEBook(true);
        settings.SetWholeArticleFeeds({url("/feeds/cancel.xml")});
        TestClock clock(QDateTime::currentDateTime());
        UpdateController update(settings, clock);
        update.Attach({}, nullptr);
        update.LoadSettings();
        QSignalSpy ended(&update, &UpdateController::runFinished);

        update.OnUpdate([&] { return QStringList{url("/feeds/cancel.xml")}; });
        CDlgProgress* dialog = update.ProgressDialog();
        QTRY_COMPARE(dialog->m_ctlStatus->text(), QStringLiteral("Fetching articles: 1 of 2"));
        QElapsedTimer timer;
        timer.start();
        dialog->m_btnCancel->click();
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(timer.elapsed() < 10000);
        const QWidgetList windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.begin(), windows.end(), [](QWidget* window) {
            return window->isVisible() && qobject_cast<QMessageBox*>(window);
        }));
        const QByteArray chapter =
            readEpub(EBookOfSameRun(output)).files.value(QStringLiteral("EPUB/feed0001.xhtml"));
        QVERIFY(chapter.contains("The quick story goes on in paragraph 5"));
        QVERIFY(chapter.contains("Teaser stalled."));
        QVERIFY(pageRequests(0).value("/pics/q.png").target.isEmpty());
    }

    // A feed on the internet may not make Pellavo fetch a page from this machine or its network;
    // the article stays a summary. One on the internet comes whole.
    void privateAddresses() {
        m_elsewhere.setRoute("/articles/outside.html",
                             HttpResponse::ok(page("Outside", sentences("outside", 6)), "text/html"));
        m_server.setRoute("/articles/inside.html",
                          HttpResponse::ok(page("Inside", sentences("inside", 6)), "text/html"));
        const QString feed =
            m_elsewhere.url(QStringLiteral("/feeds/public.xml"), QStringLiteral("127.0.0.2"));
        m_elsewhere.setRoute(
            "/feeds/public.xml",
            HttpResponse::ok(rss(
                item("Inside", link("/articles/inside.html"), "Teaser inside stays.") +
                item("Outside",
                     m_elsewhere.url(QStringLiteral("/articles/outside.html"), QStringLiteral("127.0.0.2"))
                         .toUtf8(),
                     "Teaser outside."))));
        const qsizetype before = m_server.requests().size();
        QList<QList<QVariant>> progress;
        const UpdateEngine::Outcome outcome = runEdition({feed}, true, &progress);
        QCOMPARE(outcome.bookError, QString());
        QCOMPARE(progress.value(progress.size() - 1), (QList<QVariant>{2, 2}));
        QCOMPARE(m_server.requests().size(), before);
        const QByteArray chapter =
            readEpub(outcome.bookPath).files.value(QStringLiteral("EPUB/feed0001.xhtml"));
        QVERIFY(chapter.contains("Teaser inside stays."));
        QVERIFY(chapter.contains("The outside story goes on in paragraph 5"));
    }

    void cleanupTestCase() {
        m_server.stop();
        m_elsewhere.stop();
    }
};

PELLAVO_TEST_MAIN(TestWholeArticles)
#include "tst_WholeArticles.moc"
