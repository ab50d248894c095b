// Loads a 10,000-feed channel file into the model and the tree view, and saves it
// from the tree, against a bare expat parse and one write of the same bytes.
#include "ModelTestUtil.h"
#include "base/AppPaths.h"
#include "benchsupport.h"
#include "model/PellavoDoc.h"
#include "opmlbaselines.h"
#include "testsupport.h"
#include "view/CPellavoView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace pellavo::bench;

namespace {

constexpr int kGroups = 500;
constexpr int kFeedsPerGroup = 20;
constexpr int kRuns = 11;

const char* const kWords[] = {"Daily", "Tech",   "Science",  "World", "Notes", "Café",  "Linux", "Garden",
                              "Radio", "日本の", "Ελληνικά", "Music", "Ñandú", "Kunst", "Open",  "Travel"};

// The channel form of 10,000 feeds in 500 groups, titled in several scripts.
QByteArray ChannelBytes() {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<opml version=\"1.0\">\r\n<head>\r\n"
                     "<title>News Subscriptions</title>\r\n</head>\r\n<body>\r\n";
    for (int g = 0; g < kGroups; ++g) {
        out += "<outline title=\"" + QByteArray(kWords[g % std::size(kWords)]) + ' ' + QByteArray::number(g) +
               "\">\r\n";
        for (int f = 0; f < kFeedsPerGroup; ++f) {
            const int n = g * kFeedsPerGroup + f;
            const QByteArray number = QByteArray::number(n);
            out += "<outline title=\"" + QByteArray(kWords[n % std::size(kWords)]) + " &amp; " +
                   kWords[(n * 7) % std::size(kWords)] + " #" + number +
                   "\" type=\"rss\" htmlurl=\"https://example" + QByteArray::number(n % 50) + ".org/blog/" +
                   number + "\" xmlurl=\"https://example" + QByteArray::number(n % 50) + ".org/feeds/" +
                   number + ".xml?format=rss&amp;lang=fi\"";
            if (n % 3 == 0)
                out += " description=\"Notes about " + QByteArray(kWords[(n + 3) % std::size(kWords)]) + "\"";
            out += "/>\r\n";
        }
        out += "</outline>\r\n";
    }
    return out + "</body>\r\n</opml>\r\n";
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the user's own channel file or backups.
    pellavo::test::prepareEnvironment();
    QTemporaryDir dir;
    QApplication app(argc, argv);
    const double rssAtStart = peakRssMiB();

    const QString channel = AppPaths::ChannelFile();
    QDir().mkpath(QFileInfo(channel).absolutePath());
    const QByteArray bytes = ChannelBytes();
    if (!WriteOnce(channel, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(channel));
        return 1;
    }
    std::printf("channel file: %d feeds in %d groups, %lld bytes\n", kGroups * kFeedsPerGroup, kGroups,
                static_cast<long long>(bytes.size()));

    CPellavoDoc doc;
    CPellavoView view(&doc);
    view.resize(600, 800);
    view.show();
    const QString baseline = dir.filePath(QStringLiteral("baseline.Cha"));
    std::vector<double> bare, load, save, single;
    bool ok = true;
    // Case and baseline take turns, so that other work on the machine weighs on both alike.
    for (int run = 0; run < kRuns; ++run) {
        {
            // The reader writes trace lines; they go nowhere while the load is timed.
            pellavo::test::StdoutRedirect quiet;
            bare.push_back(timeMs(1, [&] { ok = BareExpatParse(channel) && ok; }).median);
            load.push_back(timeMs(1, [&] { view.OnInitialUpdate(); }).median);
        }
        QCoreApplication::processEvents();
        save.push_back(timeMs(1, [&] { view.SaveChannel(); }).median);
        single.push_back(timeMs(1, [&] { ok = WriteOnce(baseline, bytes) && ok; }).median);
    }
    QFile saved(channel);
    if (!ok || view.CollectRunFeeds(view.RootNode()).size() != kGroups * kFeedsPerGroup ||
        !saved.open(QIODevice::ReadOnly) || saved.readAll() != bytes) {
        std::fprintf(stderr, "the channel file did not load or save back unchanged\n");
        return 1;
    }

    const Figure bareFigure = summarise(bare), loadFigure = summarise(load);
    const Figure singleFigure = summarise(single), saveFigure = summarise(save);
    printFigure(QStringLiteral("bare_expat_parse"), bareFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("load_outline_and_populate_tree"), loadFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("load_outline_and_populate_tree"), loadFigure.median / bareFigure.median,
               QStringLiteral("LoadOutline + PopulateTree"), QStringLiteral("bare expat parse"));
    printFigure(QStringLiteral("single_write"), singleFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("save_channel"), saveFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("save_channel"), saveFigure.median / singleFigure.median,
               QStringLiteral("SaveChannel"), QStringLiteral("one write of the same bytes"));
    const double peak = peakRssMiB();
    printFigure(QStringLiteral("peak_rss_loaded"), summarise({peak}), QStringLiteral("MiB"));
    printFigure(QStringLiteral("peak_rss_growth"), summarise({peak - rssAtStart}), QStringLiteral("MiB"));
    return 0;
}
