#include "EpubTestUtil.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <zip.h>

namespace pellavo::test {

namespace {
const QString kEpubCheckJar = QStringLiteral("/usr/share/java/epubcheck.jar");
// Qt writes neither GIF nor WebP: these were made with ImageMagick.
const char kGif[] =
    "\x47\x49\x46\x38\x39\x61\x03\x00\x03\x00\xf0\x00\x00\x00\x80\x00\x00\x00\x00\x21\xf9\x04\x00\x00\x00\x00"
    "\x00\x2c\x00\x00\x00\x00\x03\x00\x03\x00\x00\x02\x03\x84\x7f\x05\x00\x3b";
const char kWebP[] = "\x52\x49\x46\x46\x3c\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x20\x30\x00\x00"
                     "\x00\xd0\x01\x00\x9d\x01\x2a\x02\x00\x02\x00\x02\x00\x34\x25\xa0\x02\x74\xba"
                     "\x01\xf8\x00\x03\xb0\x00\xfe\xf0\xc4\x0b\xff\x20\xb9\x61\x75\xc8\xd7\xff\x20"
                     "\x3f\xe4\x07\xfc\x80\xff\xf8\xf2\x00\x00\x00";
} // namespace

Epub readEpub(const QString& path) {
    Epub book;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return book;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, zip_uint64_t(i), 0, &stat);
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(file, data.data(), stat.size);
        zip_fclose(file);
        const QString name = QString::fromUtf8(stat.name);
        book.names << name;
        book.files.insert(name, data);
        if (i == 0) {
            book.firstMethod = stat.comp_method;
            book.firstExtraFields = zip_file_extra_fields_count(archive, 0, ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
        }
    }
    zip_close(archive);
    return book;
}

QByteArray tinyPicture(const QByteArray& format, int seed) {
    if (format == "webp")
        return QByteArray(kWebP, qsizetype(sizeof kWebP - 1));
    if (format == "gif")
        return QByteArray(kGif, qsizetype(sizeof kGif - 1));
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((seed * 47) % 360, 200, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format.constData());
    return bytes;
}

QByteArray noisyPhoto(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = seed = seed * 1664525u + 1013904223u;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", 80);
    return bytes;
}

bool hasEpubCheck() {
    return QFile::exists(kEpubCheckJar) && !QStandardPaths::findExecutable(QStringLiteral("java")).isEmpty();
}

QString epubCheckProblem(const QString& path) {
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral("java"), {QStringLiteral("-jar"), kEpubCheckJar, path});
    if (!check.waitForFinished(120000))
        return path + QStringLiteral(": EPUBCheck did not finish");
    const QString output = QString::fromUtf8(check.readAll());
    const bool valid = check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0 &&
                       !output.contains(QLatin1String("ERROR")) && !output.contains(QLatin1String("FATAL")) &&
                       !output.contains(QLatin1String("WARNING"));
    return valid ? QString() : path + QLatin1Char('\n') + output;
}

bool hasMutool() {
    return !QStandardPaths::findExecutable(QStringLiteral("mutool")).isEmpty();
}

QString mutoolProblem(const QString& path) {
    QTemporaryDir pages;
    QProcess draw;
    draw.start(QStringLiteral("mutool"),
               {QStringLiteral("draw"), QStringLiteral("-F"), QStringLiteral("png"), QStringLiteral("-o"),
                pages.filePath(QStringLiteral("page%d.png")), path});
    if (!draw.waitForFinished(300000))
        return path + QStringLiteral(": mutool did not finish");
    // mutool reports each page it draws, and says of every EPUB 3 book that it does not know
    // the version and of itself that it lacks colour management: none of that is a problem.
    static const QRegularExpression kSaysNothing(QStringLiteral(
        "^(page .*|warning: ICC support is not available|warning: unknown epub version: 3.0)$"));
    QStringList errors;
    for (const QString& line :
         QString::fromUtf8(draw.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!kSaysNothing.match(line).hasMatch())
            errors << line;
    const bool drawn = !QDir(pages.path()).entryList(QDir::Files).isEmpty();
    return draw.exitStatus() == QProcess::NormalExit && draw.exitCode() == 0 && errors.isEmpty() && drawn
               ? QString()
               : path + QLatin1Char('\n') + errors.join(QLatin1Char('\n'));
}

} // namespace pellavo::test
