// Loads and writes a large channel file and compares both with what expat and a
// single write of the same bytes take on their own.
#include "ModelTestUtil.h"
#include "benchsupport.h"
#include "model/OpmlReader.h"
#include "model/OpmlWriter.h"
#include "opmlbaselines.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using namespace pellavo::bench;

namespace {

constexpr int kGroups = 500;
constexpr int kFeedsPerGroup = 20;
constexpr int kRuns = 21;

const char* const kWords[] = {"Daily",   "Tech",     "Science", "World",  "Notes",    "Café",  "Linux",
                              "Garden",  "Économie", "Радио",   "日本の", "Ελληνικά", "Music", "Travel",
                              "Kitchen", "Ñandú",    "Open",    "Source", "Politics", "Kunst"};
const char* const kHosts[] = {"example.org", "news.example.com", "blog.example.net", "feeds.example.fi",
                              "example.co.uk"};

QByteArray Phrase(int seed, int words) {
    QByteArray phrase;
    for (int i = 0; i < words; ++i) {
        if (i)
            phrase += ' ';
        phrase += kWords[(seed * 7 + i * 13) % std::size(kWords)];
    }
    return phrase;
}

// 10,000 feeds in 500 groups, with the mix of fields a real subscription list has.
std::unique_ptr<COutlineItem> BuildModel() {
    auto root = std::make_unique<COutlineItem>();
    COutlineItem* lastGroup = nullptr;
    for (int g = 0; g < kGroups; ++g) {
        auto* group = new COutlineItem;
        COutlineItem::SetString(group->m_pszTitle, Phrase(g, 2) + " " + QByteArray::number(g));
        if (!lastGroup || !root->InsertChildAfter(group, lastGroup))
            root->AppendChild(group);
        lastGroup = group;
        COutlineItem* lastFeed = nullptr;
        for (int f = 0; f < kFeedsPerGroup; ++f) {
            const int n = g * kFeedsPerGroup + f;
            const QByteArray host = kHosts[n % std::size(kHosts)];
            auto* feed = new COutlineItem;
            COutlineItem::SetString(feed->m_pszTitle, Phrase(n, 1 + n % 4) + " #" + QByteArray::number(n));
            COutlineItem::SetString(feed->m_pszType, "rss");
            COutlineItem::SetString(feed->m_pszHtmlUrl, "https://" + host + "/blog/" + QByteArray::number(n));
            COutlineItem::SetString(feed->m_pszXmlUrl, "https://" + host + "/feeds/" + QByteArray::number(n) +
                                                           ".xml?format=rss&lang=" + (n % 2 ? "en" : "fi"));
            if (n % 3 == 0)
                COutlineItem::SetString(feed->m_pszDescription, "News & notes about " + Phrase(n + 1, 3));
            if (!lastFeed || !group->InsertChildAfter(feed, lastFeed))
                group->AppendChild(feed);
            lastFeed = feed;
        }
    }
    return root;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString channel = dir.filePath(QStringLiteral("Pellavo.Cha"));
    const QString copy = dir.filePath(QStringLiteral("copy.Cha"));
    const QString baseline = dir.filePath(QStringLiteral("baseline.Cha"));

    std::unique_ptr<COutlineItem> model = BuildModel();
    if (!WriteOpmlFile(channel, ModelOutlineTree(model.get()))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(channel));
        return 1;
    }
    QFile written(channel);
    written.open(QIODevice::ReadOnly);
    const QByteArray bytes = written.readAll();
    std::printf("channel file: %d feeds in %d groups, %lld bytes\n", kGroups * kFeedsPerGroup, kGroups,
                static_cast<long long>(bytes.size()));

    // Case and baseline take turns, so that other work on the machine weighs on both alike.
    std::vector<double> load, bare, write, single, memory;
    bool loaded = true;
    for (int run = 0; run < kRuns; ++run) {
        {
            // The reader writes trace lines; they go nowhere while the load is timed.
            pellavo::test::StdoutRedirect quiet;
            bare.push_back(timeMs(1, [&] { loaded = BareExpatParse(channel) && loaded; }).median);
            load.push_back(timeMs(1, [&] {
                               std::unique_ptr<COutlineHead> head;
                               std::unique_ptr<COutlineItem> root;
                               loaded = ParseOutlineFile(channel, head, root) && loaded;
                           }).median);
        }
        write.push_back(timeMs(1, [&] { WriteOpmlFile(copy, ModelOutlineTree(model.get())); }).median);
        single.push_back(timeMs(1, [&] { WriteOnce(baseline, bytes); }).median);
        // The writer's own share, without the file system's flush and rename.
        memory.push_back(timeMs(1, [&] {
                             QBuffer buffer;
                             buffer.open(QIODevice::WriteOnly);
                             WriteOpml(buffer, ModelOutlineTree(model.get()));
                         }).median);
    }

    QFile rewritten(copy);
    rewritten.open(QIODevice::ReadOnly);
    if (!loaded || rewritten.readAll() != bytes) {
        std::fprintf(stderr, "the channel file did not load or write back unchanged\n");
        return 1;
    }

    const Figure bareFigure = summarise(bare), loadFigure = summarise(load);
    const Figure singleFigure = summarise(single), writeFigure = summarise(write);
    printFigure(QStringLiteral("bare_expat_parse"), bareFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("load_outline"), loadFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("load_outline"), loadFigure.median / bareFigure.median,
               QStringLiteral("LoadOutline"), QStringLiteral("bare expat parse"));
    printFigure(QStringLiteral("single_write"), singleFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("write_opml_file"), writeFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("write_opml_file"), writeFigure.median / singleFigure.median,
               QStringLiteral("WriteOpmlFile"), QStringLiteral("one write of the same bytes"));
    printFigure(QStringLiteral("write_opml_to_memory"), summarise(memory), QStringLiteral("ms"));
    return 0;
}
