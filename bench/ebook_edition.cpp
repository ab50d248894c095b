// The e-book edition of a news feed file of 300 feeds of 30 items each (about 30 MB),
// against a floor measured in the same run: an expat parse of every feed document plus
// zlib compressing the chapters the book holds, at the book's level. Peak memory is
// measured for two numbers of feeds in a process of its own each: chapters are written one
// at a time, so it must not grow with the number of feeds.
//
// Editions, with the article history: the first edition of the same file (everything new,
// no limits) against the same floor; the second, when each feed has one new item, against
// the book of just those 300 articles; the history's lookups against the second run; and
// the history's size after 60 days of 300 feeds publishing 5 items a day each.

#include "benchsupport.h"
#include "ebook/Chapter.h"
#include "ebook/FeedDocument.h"
#include "edition/ArticleHistory.h"
#include "edition/EditionChoice.h"
#include "testsupport.h"
#include "update/EBookEdition.h"
#include "update/NewsFeedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <expat.h>
#include <iterator>
#include <zlib.h>

using namespace pellavo;

namespace {

constexpr int kItems = 30;
constexpr int kBookLevel = 6; // the level the book's chapters are compressed at

// Text that compresses as prose does, not as one sentence repeated.
QByteArray Words(unsigned& seed, int count) {
    static const char* const kWords[] = {
        "council", "residents", "plan",     "changes",  "everything", "old",      "town",     "costs",
        "timing",  "budget",    "vote",     "expected", "month",      "river",    "bridge",   "school",
        "market",  "summer",    "festival", "workers",  "station",    "harbour",  "weather",  "storm",
        "library", "museum",    "season",   "prices",   "energy",     "housing",  "mayor",    "report",
        "survey",  "traffic",   "cyclists", "garden",   "theatre",    "election", "hospital", "forest"};
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        out += kWords[(seed >> 16) % std::size(kWords)];
        out += (seed >> 8) % 11 == 0 ? ", " : " ";
    }
    return out;
}

QByteArray Item(int feed, int item) {
    const QByteArray id = QByteArray::number(feed) + "-" + QByteArray::number(item);
    unsigned seed = unsigned(feed * 1000 + item);
    QByteArray html = "<p>The <strong>council</strong> met on Tuesday to discuss item " + id +
                      ", as <a href=\"/reports/" + id + "\">the report</a> shows.</p>";
    for (int p = 0; p < 6; ++p)
        html += "<p>" + Words(seed, 30) + "&ldquo;" + Words(seed, 3) + "&rdquo; <em>" + Words(seed, 2) +
                "</em>" + Words(seed, 20) + "<a href=\"https://example.org/" + Words(seed, 1).trimmed() +
                "\">" + Words(seed, 2) + "</a>.</p>";
    html += "<ul><li>Parking</li><li>Trees</li><li>Buses</li></ul><figure><img src=\"/i/" + id +
            ".jpg\" alt=\"The square\"><figcaption>The square in spring</figcaption></figure>";
    return "<item><title>Council item " + id + " &amp; what it means</title><link>https://news" +
           QByteArray::number(feed) + ".example/story/" + id + "</link><guid>https://news" +
           QByteArray::number(feed) + ".example/?p=" + id +
           "</guid><pubDate>Tue, 05 Mar 2024 10:00:00 +0100</pubDate><dc:creator>Desk " +
           QByteArray::number(item % 4) + "</dc:creator><description>Short summary of " + id +
           "</description><content:encoded><![CDATA[" + html + "]]></content:encoded></item>\n";
}

QByteArray Document(int feed, int first = 0, int count = kItems) {
    QByteArray document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                          "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
                          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                          "<channel><title>News " +
                          QByteArray::number(feed) + "</title><link>https://news" + QByteArray::number(feed) +
                          ".example/</link><description>Local news</description><language>en-gb</language>\n";
    for (int item = first; item < first + count; ++item)
        document += Item(feed, item);
    return document + "</channel></rss>\n";
}

QString Url(int feed) {
    return QStringLiteral("https://news%1.example/feed.xml").arg(feed);
}

// A news feed file of `feeds` records, the subscriptions in groups of ten; each feed carries
// `count` items from item `first` on, newest first.
bool WriteNewsFeedFile(const QString& path, int feeds, int first = 0, int count = kItems) {
    QByteArray opml = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>";
    for (int feed = 0; feed < feeds; ++feed) {
        if (feed % 10 == 0)
            opml += (feed ? "</outline>" : "") + QByteArray("<outline text=\"Group ") +
                    QByteArray::number(feed / 10) + "\">";
        opml +=
            "<outline text=\"News " + QByteArray::number(feed) + "\" xmlUrl=\"" + Url(feed).toUtf8() + "\"/>";
    }
    opml += "</outline></body></opml>";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    NewsFeedWriter writer(file);
    bool ok = writer.WriteHeader(true, opml);
    for (int feed = 0; ok && feed < feeds; ++feed)
        ok = writer.AppendRecord(Url(feed), NewsFeedFile::CleanFeedDocument(Document(feed, first, count)));
    return ok;
}

void XMLCALL NoText(void*, const XML_Char*, int) {}
void XMLCALL NoStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL NoEnd(void*, const XML_Char*) {}

bool ExpatParse(const QByteArray& document) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, NoStart, NoEnd);
    XML_SetCharacterDataHandler(parser, NoText);
    const bool ok = XML_Parse(parser, document.constData(), int(document.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

bool Deflate(const QByteArray& data, QByteArray& buffer) {
    uLongf size = compressBound(uLong(data.size()));
    if (buffer.size() < qsizetype(size))
        buffer.resize(qsizetype(size));
    return compress2(reinterpret_cast<Bytef*>(buffer.data()), &size,
                     reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()),
                     kBookLevel) == Z_OK;
}

// Run in a process of its own: make one book, print the peak resident memory.
int Child(const QString& newsFeedFile, const QString& book) {
    if (!WriteEBookEdition(newsFeedFile, book, QDateTime::currentDateTime()))
        return 1;
    std::printf("%.1f\n", bench::peakRssMiB());
    return 0;
}

void RemoveHistory(const QString& path) {
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

bool CopyHistory(const QString& from, const QString& to) {
    RemoveHistory(to);
    return QFile::copy(from, to);
}

void RemoveEditions(const QString& folder) {
    for (const QString& name : QDir(folder).entryList({QStringLiteral("edition-*.epub")}, QDir::Files))
        QFile::remove(folder + QLatin1Char('/') + name);
}

// The simulated history: days, and items each feed publishes a day.
constexpr int kDays = 60, kPerDay = 5;

// The key of item `item` of feed `feed` in the simulated history.
QByteArray SimulatedKey(int feed, int item) {
    return edition::IdKey("https://news" + QByteArray::number(feed) +
                          ".example/?p=" + QByteArray::number(item));
}

// 60 days of 300 feeds that publish 5 items a day and carry their last 30, one edition a
// day, through the history's own steps; the size of its file once closed.
qint64 SimulatedHistoryBytes(const QString& folder) {
    const QString path = folder + QStringLiteral("/simulated.sqlite");
    RemoveHistory(path);
    const QDateTime start(QDate(2026, 10, 1), QTime(6, 30));
    {
        edition::ArticleHistory history(path);
        for (int day = 0; day < kDays; ++day) {
            edition::ArticleHistory::Changes changes;
            changes.day = start.addDays(day).date().toJulianDay();
            for (int feed = 0; feed < 300; ++feed) {
                const int newest = kItems + day * kPerDay;
                for (int item = newest - kItems; item < newest; ++item) {
                    if (day == 0 || item >= newest - kPerDay)
                        changes.added.push_back({Url(feed), SimulatedKey(feed, item), true});
                    else
                        changes.seenAgain.emplace_back(Url(feed), SimulatedKey(feed, item));
                }
            }
            const QString book = folder + QStringLiteral("/simulated-%1.epub").arg(day);
            const QString unfinished = book + QStringLiteral(".part");
            QFile file(unfinished);
            if (!file.open(QIODevice::WriteOnly) || !file.write("book"))
                return -1;
            file.close();
            const edition::ArticleHistory::Edition edition{day + 1, book, start.addDays(day),
                                                           int(changes.added.size()), 300};
            if (!history.PublishEdition(edition, unfinished, changes))
                return -1;
            QFile::remove(book);
        }
    }
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

} // namespace

int main(int argc, char** argv) {
    test::prepareEnvironment();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--child"))
        return Child(args[2], args[3]);

    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("news100.nff"));
    const QString large = dir.filePath(QStringLiteral("news300.nff"));
    const QString book = dir.filePath(QStringLiteral("news.epub"));
    if (!WriteNewsFeedFile(small, 100) || !WriteNewsFeedFile(large, 300)) {
        std::fprintf(stderr, "cannot write the news feed files\n");
        return 1;
    }

    // The floor's input: every document, and every chapter the book holds.
    std::vector<QByteArray> documents, chapters;
    qint64 documentBytes = 0, chapterBytes = 0;
    for (int feed = 0; feed < 300; ++feed) {
        documents.push_back(NewsFeedFile::CleanFeedDocument(Document(feed)));
        ebook::ChapterSource source;
        source.address = Url(feed);
        chapters.push_back(
            ebook::WriteChapter(ebook::ReadFeedDocument(documents.back(), QUrl(Url(feed))), source, nullptr));
        documentBytes += documents.back().size();
        chapterBytes += chapters.back().size();
    }

    constexpr int kRuns = 5;
    bool ok = true;
    const bench::Figure edition = bench::timeMs(
        kRuns, [&] { ok = ok && WriteEBookEdition(large, book, QDateTime::currentDateTime()); });
    QByteArray buffer;
    const bench::Figure floor = bench::timeMs(kRuns, [&] {
        for (const QByteArray& document : documents)
            ok = ok && ExpatParse(document);
        for (const QByteArray& chapter : chapters)
            ok = ok && Deflate(chapter, buffer);
    });
    if (!ok) {
        std::fprintf(stderr, "the book or the floor failed\n");
        return 1;
    }

    // Editions. The first run finds everything new and, without limits, makes the whole book.
    const QString history = dir.filePath(QStringLiteral("history.sqlite"));
    const QString afterFirst = dir.filePath(QStringLiteral("after-first.sqlite"));
    const QString editionFile = dir.filePath(QStringLiteral("edition.nff"));
    const QString second = dir.filePath(QStringLiteral("second.nff"));
    const QString justNew = dir.filePath(QStringLiteral("just-new.nff"));
    // Item -1 is the one new item of every feed on the second run.
    ok = ok && QFile::copy(large, editionFile) && WriteNewsFeedFile(second, 300, -1, kItems + 1) &&
         WriteNewsFeedFile(justNew, 300, -1, 1);
    EditionJob job;
    job.historyFile = history;
    job.limits = {true, 0, 0};
    job.keep = 0;
    QDateTime runTime = QDateTime::currentDateTime();
    EditionResult result;
    std::vector<double> firstRuns, secondRuns;
    for (int run = 0; ok && run < kRuns; ++run) {
        RemoveHistory(history);
        RemoveEditions(dir.path());
        QElapsedTimer timer;
        timer.start();
        ok = WriteNewsEdition(editionFile, job, runTime, &result) && !result.nothingNew;
        firstRuns.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const qint64 firstBytes = QFileInfo(result.path).size();
    ok = ok && QFile::copy(history, afterFirst);
    ok = ok && QFile::remove(editionFile) && QFile::copy(second, editionFile);
    // A tenth of a second each: taken in turns, many times, so that the machine's moods fall on
    // both alike.
    constexpr int kSmallRuns = 21;
    std::vector<double> justNewRuns;
    for (int run = 0; ok && run < kSmallRuns; ++run) {
        ok = CopyHistory(afterFirst, history);
        QElapsedTimer timer;
        timer.start();
        // The next morning's edition, as a daily run makes it: every known article is seen again.
        ok = ok && WriteNewsEdition(editionFile, job, runTime.addDays(1).addSecs(60 * (run + 1)), &result) &&
             !result.nothingNew;
        secondRuns.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.start();
        ok = ok && WriteEBookEdition(justNew, book, QDateTime::currentDateTime());
        justNewRuns.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const qint64 secondBytes = QFileInfo(result.path).size();
    const bench::Figure justNewBook = bench::summarise(justNewRuns);
    // The lookups a second run makes: every feed's known articles.
    ok = ok && CopyHistory(afterFirst, history);
    edition::KnownArticles lookups(history);
    const bench::Figure lookup = bench::timeMs(kRuns, [&] {
        for (int feed = 0; feed < 300; ++feed)
            ok = ok && lookups.Of(Url(feed)).size() == kItems;
    });
    const qint64 simulated = SimulatedHistoryBytes(dir.path());
    // After 60 days each feed's history holds the 325 articles it published, of which its
    // document carries the newest 30: the lookups of the next day's run.
    edition::KnownArticles lateLookups(dir.filePath(QStringLiteral("simulated.sqlite")));
    const bench::Figure lateLookup = bench::timeMs(kRuns, [&] {
        for (int feed = 0; feed < 300; ++feed)
            ok = ok && lateLookups.Of(Url(feed)).size() == kItems + (kDays - 1) * kPerDay;
    });
    if (!ok || simulated <= 0) {
        std::fprintf(stderr, "the editions failed\n");
        return 1;
    }

    const auto peak = [&](const QString& newsFeedFile) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), newsFeedFile, dir.filePath(QStringLiteral("child.epub"))});
        child.waitForFinished(-1);
        return child.exitCode() == 0 ? child.readAllStandardOutput().trimmed().toDouble() : -1.0;
    };
    const double peakSmall = peak(small);
    const double peakLarge = peak(large);
    if (peakSmall <= 0 || peakLarge <= 0) {
        std::fprintf(stderr, "the book could not be made in a process of its own\n");
        return 1;
    }

    std::printf("input: %.1f MB of feed documents, %.1f MB of chapters, book %.1f MB\n", documentBytes / 1e6,
                chapterBytes / 1e6, QFileInfo(book).size() / 1e6);
    bench::printFigure(QStringLiteral("ebook_300_feeds"), edition, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("floor_expat_and_zlib"), floor, QStringLiteral("ms"));
    bench::printRatio(QStringLiteral("ebook_300_feeds"), edition.median / floor.median,
                      QStringLiteral("WriteEBookEdition"), QStringLiteral("expat parse + zlib level 6"));
    const bench::Figure firstRun = bench::summarise(firstRuns);
    const bench::Figure secondRun = bench::summarise(secondRuns);
    std::printf("editions: first %.1f MB, second %.3f MB\n", firstBytes / 1e6, secondBytes / 1e6);
    bench::printFigure(QStringLiteral("edition_first_run"), firstRun, QStringLiteral("ms"));
    bench::printRatio(QStringLiteral("edition_first_run"), firstRun.median / floor.median,
                      QStringLiteral("first edition with the history"),
                      QStringLiteral("expat parse + zlib level 6"));
    bench::printFigure(QStringLiteral("edition_second_run"), secondRun, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("book_of_300_new_articles"), justNewBook, QStringLiteral("ms"));
    // Each pair was measured back to back: the median of their ratios is the steadier figure.
    std::vector<double> pairRatios;
    for (size_t run = 0; run < secondRuns.size(); ++run)
        pairRatios.push_back(secondRuns[run] / justNewRuns[run]);
    bench::printRatio(QStringLiteral("edition_second_run"), bench::summarise(pairRatios).median,
                      QStringLiteral("second edition, 1 new item per feed"),
                      QStringLiteral("book of just those 300 articles"));
    bench::printFigure(QStringLiteral("history_lookups_300_feeds"), lookup, QStringLiteral("ms"));
    bench::printRatio(QStringLiteral("history_lookups"), lookup.median / secondRun.median,
                      QStringLiteral("lookups of 300 feeds"), QStringLiteral("second edition"));
    bench::printFigure(QStringLiteral("history_after_60_days"), bench::summarise({simulated / 1024.0}),
                       QStringLiteral("KiB"));
    bench::printFigure(QStringLiteral("history_lookups_after_60_days"), lateLookup, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("peak_rss_100_feeds"), bench::summarise({peakSmall}),
                       QStringLiteral("MiB"));
    bench::printFigure(QStringLiteral("peak_rss_300_feeds"), bench::summarise({peakLarge}),
                       QStringLiteral("MiB"));
    bench::printRatio(QStringLiteral("peak_rss_growth"), peakLarge / peakSmall,
                      QStringLiteral("peak with 300 feeds"), QStringLiteral("peak with 100 feeds"));
    return 0;
}
