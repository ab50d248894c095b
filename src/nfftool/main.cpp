// pellavo-nff: shows what a news feed file holds, so that a user can see what goes to the phone,
// and makes the e-book edition of it.

#include "extract/ArticleFinder.h"
#include "update/EBookEdition.h"
#include "update/NewsFeedFile.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QXmlStreamReader>

#include <cstdio>

namespace {

enum Exit { Ok = 0, Failed = 1, Usage = 2 };

const char HelpText[] = "Usage: pellavo-nff FILE\n"
                        "       pellavo-nff --channel FILE\n"
                        "       pellavo-nff --record N FILE\n"
                        "       pellavo-nff --epub BOOK FILE\n"
                        "       pellavo-nff --article PAGE URL\n"
                        "\n"
                        "Shows what a Pellavo news feed file (.nff) holds, and what Pellavo keeps\n"
                        "of a web page.\n"
                        "\n"
                        "  FILE            list the header, the channel block and one line per\n"
                        "                  record: number, address, content length, feed title\n"
                        "  --channel FILE  write the subscription list (OPML) the file carries\n"
                        "  --record N FILE write the feed document of record N (from 1)\n"
                        "  --epub BOOK FILE\n"
                        "                  write the e-book (EPUB 3) of the file to BOOK: one chapter\n"
                        "                  per record, contents that follow the subscriptions; an\n"
                        "                  existing BOOK is replaced only by a complete new one\n"
                        "  --article PAGE URL\n"
                        "                  write the article found in PAGE, a web page saved from\n"
                        "                  the address URL, as an XHTML fragment\n"
                        "  --help          show this help\n"
                        "\n"
                        "Exit status: 0 on success, 1 when the file cannot be read, is malformed\n"
                        "or lacks what was asked for (the page holds no article), 2 on wrong usage.\n";

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int usage(const QString& why) {
    print(stderr, QStringLiteral("pellavo-nff: %1\nTry 'pellavo-nff --help'.\n").arg(why));
    return Usage;
}

int fail(const QString& why) {
    print(stderr, QStringLiteral("pellavo-nff: %1\n").arg(why));
    return Failed;
}

// The first title element of the document (RSS channel title, Atom feed title), if any.
QString FeedTitle(const QByteArray& document) {
    QXmlStreamReader xml(document);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("title"))
            return xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
    }
    return QString();
}

QString OutlineCount(const QByteArray& opml) {
    QXmlStreamReader xml(opml);
    int outlines = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("outline"))
            ++outlines;
    }
    QString text = QStringLiteral("%1 outline%2").arg(outlines).arg(outlines == 1 ? "" : "s");
    if (xml.hasError())
        text += QStringLiteral(" (not well-formed OPML: %1)").arg(xml.errorString());
    return text;
}

int Malformed(const QString& path, const NewsFeedReader& reader) {
    return fail(QStringLiteral("%1: malformed news feed file: %2").arg(path, reader.ErrorString()));
}

int List(const QString& path, NewsFeedReader& reader) {
    print(stdout,
          QStringLiteral("%1: news feed file, signature %2\n").arg(path).arg(NewsFeedFile::Signature));
    print(stdout, QStringLiteral("synchronize flag: %1\n").arg(reader.SyncFlag() ? 1 : 0));
    if (reader.SyncFlag()) {
        print(stdout, QStringLiteral("channel block: %1 bytes, %2\n")
                          .arg(reader.ChannelFile().size())
                          .arg(OutlineCount(reader.ChannelFile())));
    } else {
        print(stdout, QStringLiteral("channel block: none\n"));
    }
    int count = 0;
    NewsFeedReader::Record record;
    while (reader.ReadNext(record)) {
        ++count;
        QString line =
            QStringLiteral("%1\t%2\t%3 bytes").arg(count).arg(record.url).arg(record.content.size());
        const QString title = FeedTitle(record.content);
        if (!title.isEmpty())
            line += QStringLiteral("\t\"%1\"").arg(title);
        print(stdout, line + QLatin1Char('\n'));
    }
    if (reader.HasError())
        return Malformed(path, reader);
    print(stdout, QStringLiteral("%1 record%2\n").arg(count).arg(count == 1 ? "" : "s"));
    return Ok;
}

int WriteRecord(const QString& path, NewsFeedReader& reader, long long wanted) {
    long long index = 0;
    NewsFeedReader::Record record;
    while (reader.ReadNext(record)) {
        if (++index == wanted) {
            std::fwrite(record.content.constData(), 1, size_t(record.content.size()), stdout);
            return Ok;
        }
    }
    if (reader.HasError())
        return Malformed(path, reader);
    return fail(
        QStringLiteral("%1: there is no record %2; the file holds %3").arg(path).arg(wanted).arg(index));
}

// The book is dated by the run that wrote the file.
int WriteBook(const QString& path, const QString& book) {
    QString error;
    return WriteEBookEdition(path, book, QFileInfo(path).lastModified(), &error) ? Ok : fail(error);
}

// The article of a saved page, as the e-book would carry it.
int WriteArticle(const QString& path, const QUrl& address) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (file.size() > extract::kMaxPageBytes)
        return fail(
            QStringLiteral("%1: the page is larger than %2 MiB").arg(path).arg(extract::kMaxPageBytes >> 20));
    const QByteArray page = file.readAll();
    const std::optional<extract::Article> article = extract::FindArticle({page, address, {}, {}});
    if (!article)
        return fail(QStringLiteral("%1: no article found").arg(path));
    std::fwrite(article->xhtml.constData(), 1, size_t(article->xhtml.size()), stdout);
    std::fputc('\n', stdout);
    return Ok;
}

} // namespace

int main(int argc, char** argv) {
    // The book's cover is drawn with fonts, which need a GUI application; the tool shows no
    // window and must run where there is no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication application(argc, argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        print(stdout, QString::fromLatin1(HelpText));
        return Ok;
    }

    if (!args.isEmpty() && args[0] == QLatin1String("--article")) {
        if (args.size() != 3)
            return usage(QStringLiteral("--article takes a saved page and the address it came from"));
        const QUrl address(args[2], QUrl::StrictMode);
        const QString scheme = address.scheme().toLower();
        if (!address.isValid() || address.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            return usage(QStringLiteral("'%1' is not an http or https address").arg(args[2]));
        return WriteArticle(args[1], address);
    }

    enum class Mode { List, Channel, Record, EBook } mode = Mode::List;
    long long wanted = 0;
    QString path;
    QString book;
    if (args.size() == 1 && !args[0].startsWith(QLatin1Char('-'))) {
        path = args[0];
    } else if (args.size() == 2 && args[0] == QLatin1String("--channel")) {
        mode = Mode::Channel;
        path = args[1];
    } else if (args.size() == 3 && args[0] == QLatin1String("--record")) {
        bool ok = false;
        wanted = args[1].toLongLong(&ok);
        if (!ok || wanted < 1)
            return usage(QStringLiteral("record number '%1' is not a number from 1 up").arg(args[1]));
        mode = Mode::Record;
        path = args[2];
    } else if (args.size() == 3 && args[0] == QLatin1String("--epub")) {
        mode = Mode::EBook;
        book = args[1];
        path = args[2];
        if (QFileInfo(book).absoluteFilePath() == QFileInfo(path).absoluteFilePath())
            return usage(QStringLiteral("the book would take the place of the news feed file"));
    } else {
        return usage(args.isEmpty() ? QStringLiteral("no file given") : QStringLiteral("wrong arguments"));
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    NewsFeedReader reader(file);
    if (!reader.ReadHeader())
        return Malformed(path, reader);

    switch (mode) {
    case Mode::List:
        return List(path, reader);
    case Mode::Channel:
        if (!reader.SyncFlag())
            return fail(QStringLiteral("%1: the file carries no subscription list").arg(path));
        std::fwrite(reader.ChannelFile().constData(), 1, size_t(reader.ChannelFile().size()), stdout);
        return Ok;
    case Mode::Record:
        return WriteRecord(path, reader, wanted);
    case Mode::EBook:
        return WriteBook(path, book);
    }
    return Failed;
}
