// Cleaning a downloaded 5 MB feed and packing it into a news feed file as a run does (the
// file opened, locked and emptied as a run opens it, the record written to its descriptor,
// the document kept for the cache), against copying its bytes from one file to another with
// the same system calls: one read, one write.

#include "benchsupport.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        const std::unique_ptr<NewsFeedOutput> out = NewsFeedOutput::Open(packed, nullptr);
        ok = ok && out;
        if (!out)
            return;
        NewsFeedWriter writer(out->Fd());
        QByteArray downloaded;
        ok = ok && AppendFeedContent(writer, QStringLiteral("https://example.com/feed.xml"), source,
                                     &downloaded) == AppendResult::Written;
        ok = out->Close() && ok;
    });
    const bench::Figure copy = bench::timeMs(Runs, [&] {
        const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(QFile::encodeName(copied).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        struct stat st {};
        ok = ok && in >= 0 && out >= 0 && ::ftruncate(out, 0) == 0 && ::fstat(in, &st) == 0;
        QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
        ok = ok && ::read(in, bytes.data(), size_t(bytes.size())) == bytes.size() &&
             ::write(out, bytes.constData(), size_t(bytes.size())) == bytes.size();
        ok = ::close(in) == 0 && ::close(out) == 0 && ok;
    });
    if (!ok) {
        std::fprintf(stderr, "packing or copying failed\n");
        return 1;
    }
    bench::printFigure(QStringLiteral("pack_5MB_feed"), pack, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("copy_5MB_feed"), copy, QStringLiteral("ms"));
    bench::printRatio(QStringLiteral("pack_5MB_feed"), pack.median / copy.median,
                      QStringLiteral("opening the output and AppendFeedContent"),
                      QStringLiteral("one read and one write of the bytes"));
    return 0;
}
