// Cleaning a downloaded 5 MB feed and packing it into a news feed file, against copying
// its bytes from one file to another.

#include "benchsupport.h"
#include "update/NewsFeedFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace pellavo;

int main() {
    constexpr qsizetype Size = 5 * 1000 * 1000;
    constexpr int Runs = 15;
    // Both cleaning steps find something, so the document is edited, not passed on whole.
    QByteArray feed =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss PUBLIC \"-//Netscape//DTD RSS 0.91//EN\" "
        "\"http://my.netscape.com/publish/formats/rss-0.91.dtd\">\n"
        "<rss version=\"2.0\" xmlns=\"http://backend.userland.com/rss2\"><channel><title>Bench</title>\n";
    while (feed.size() < Size)
        feed +=
            "<item><title>An item</title><description>Some text that a feed carries.</description></item>\n";
    feed += "</channel></rss>\n";

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("NEW.tmp"));
    const QString packed = dir.filePath(QStringLiteral("news.nff"));
    const QString copied = dir.filePath(QStringLiteral("copy.xml"));
    QFile sourceFile(source);
    if (!sourceFile.open(QIODevice::WriteOnly) || sourceFile.write(feed) != feed.size())
        return 1;
    sourceFile.close();

    bool ok = true;
    const bench::Figure pack = bench::timeMs(Runs, [&] {
        QFile out(packed);
        ok = ok && out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        NewsFeedWriter writer(out);
        ok = ok && AppendFeedContent(writer, QStringLiteral("https://example.com/feed.xml"), source) ==
                       AppendResult::Written;
    });
    const bench::Figure copy = bench::timeMs(Runs, [&] {
        QFile in(source);
        QFile out(copied);
        ok = ok && in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        const QByteArray bytes = in.readAll();
        ok = ok && out.write(bytes) == bytes.size();
    });
    if (!ok) {
        std::fprintf(stderr, "packing or copying failed\n");
        return 1;
    }
    bench::printFigure(QStringLiteral("pack_5MB_feed"), pack, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("copy_5MB_feed"), copy, QStringLiteral("ms"));
    bench::printRatio(QStringLiteral("pack_5MB_feed"), pack.median / copy.median,
                      QStringLiteral("AppendFeedContent"), QStringLiteral("copying the bytes"));
    return 0;
}
