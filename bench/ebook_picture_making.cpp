// The picture stage's making of 900 fetched pictures for reading devices (photographs from
// 640 to 4000 pixels on the long side as JPEG, drawings as PNG): each decoded, scaled to at
// most 1600 pixels and encoded again, one after another as a run does. Against vipsthumbnail
// (libvips) making the same sizes in the same formats from the same files, in the same run,
// on one thread as well.

#include "benchsupport.h"
#include "ebook/Pictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRadialGradient>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

using namespace pellavo::bench;

namespace {

constexpr int kPictures = 900;
constexpr int kDrawingEvery = 6; // one picture in six is a drawing
constexpr int kSources = 36;     // distinct pictures, each stored under several names
constexpr int kRuns = 3;

QByteArray Encoded(const QImage& image, const char* format, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// Something that encodes as a photograph does: soft light, shapes, grain.
QByteArray Photo(int longSide, int seed) {
    const QSize size(longSide, longSide * (seed % 2 ? 3 : 2) / (seed % 2 ? 4 : 3));
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient sky(size.width() * 0.3, size.height() * 0.2, size.width());
    sky.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 90, 250));
    sky.setColorAt(1, QColor::fromHsv((seed * 37 + 140) % 360, 160, 70));
    painter.fillRect(image.rect(), sky);
    quint32 random = quint32(seed) * 2654435761u;
    for (int i = 0; i < 40; ++i) {
        random = random * 1664525u + 1013904223u;
        const QColor colour = QColor::fromHsv(int(random % 360), 120, 60 + int(random >> 24) % 180, 150);
        painter.setBrush(colour);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF((random >> 8) % size.width(), (random >> 4) % size.height()),
                            size.width() / 12.0, size.height() / 9.0);
    }
    painter.end();
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            random = random * 1664525u + 1013904223u;
            const int grain = int(random >> 28) - 8;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + grain, 255), qBound(0, qGreen(p) + grain, 255),
                           qBound(0, qBlue(p) + grain, 255));
        }
    }
    return Encoded(image, "jpeg", 90);
}

// A chart: flat colours, lines and words.
QByteArray Drawing(int longSide, int seed) {
    QImage image(longSide, longSide * 2 / 3, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int bar = 0; bar < 12; ++bar) {
        const int height = (seed * 31 + bar * 57) % (image.height() - 80) + 40;
        painter.fillRect(40 + bar * (image.width() - 80) / 12, image.height() - 40 - height,
                         (image.width() - 80) / 15, height, QColor::fromHsv((bar * 30) % 360, 200, 200));
    }
    painter.setPen(QPen(Qt::black, 3));
    painter.drawLine(40, image.height() - 40, image.width() - 40, image.height() - 40);
    painter.setFont(QFont(QStringLiteral("sans-serif"), image.height() / 30));
    painter.drawText(60, 60, QStringLiteral("Figure %1: what the council spent").arg(seed));
    painter.end();
    return Encoded(image, "png", -1);
}

// The pictures, written into `folder`: photographs as .jpg, drawings as .png.
QStringList MakePictures(const QString& folder, qint64& bytes) {
    std::vector<QByteArray> sources;
    for (int i = 0; i < kSources; ++i)
        sources.push_back(i % kDrawingEvery == 0 ? Drawing(800 + (i * 97) % 1000, i)
                                                 : Photo(640 + (i * 3360) / (kSources - 1), i));
    QStringList files;
    bytes = 0;
    for (int i = 0; i < kPictures; ++i) {
        const int source = i % kSources;
        const QString name =
            QStringLiteral("%1/p%2.%3")
                .arg(folder)
                .arg(i)
                .arg(source % kDrawingEvery == 0 ? QStringLiteral("png") : QStringLiteral("jpg"));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(sources[size_t(source)]) != sources[size_t(source)].size())
            return {};
        bytes += sources[size_t(source)].size();
        files << name;
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (vips.isEmpty()) {
        std::fprintf(stderr, "ebook_picture_making: vipsthumbnail (libvips-tools) is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    qint64 fetched = 0;
    const QStringList files = MakePictures(dir.path(), fetched);
    if (files.isEmpty())
        return 1;

    qint64 stored = 0;
    int made = 0;
    const Figure ours = timeMs(kRuns, [&] {
        stored = 0;
        made = 0;
        for (const QString& name : files) {
            QFile file(name);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const ebook::PreparedPicture picture = ebook::PreparePicture(file.readAll(), false);
            stored += picture.bytes.size();
            made += picture.format != ebook::PictureFormat::None ? 1 : 0;
        }
    });
    if (made != kPictures) {
        std::fprintf(stderr, "ebook_picture_making: %d of %d pictures made\n", made, kPictures);
        return 1;
    }

    // The same sizes, shrunk only, in the same formats and quality; one thread, as the run.
    const QString out = dir.filePath(QStringLiteral("vips"));
    QDir().mkpath(out);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIPS_CONCURRENCY"), QStringLiteral("1"));
    bool vipsOk = true;
    const Figure baseline = timeMs(kRuns, [&] {
        for (const QString& suffix : {QStringLiteral("jpg"), QStringLiteral("png")}) {
            QProcess process;
            process.setProcessEnvironment(environment);
            QStringList arguments = {
                QStringLiteral("--size=1600x1600>"),
                QStringLiteral("--output=%1/%s.%2%3")
                    .arg(out, suffix, suffix == QLatin1String("jpg") ? QStringLiteral("[Q=80]") : QString())};
            arguments += files.filter(QLatin1Char('.') + suffix);
            process.start(vips, arguments);
            vipsOk = vipsOk && process.waitForFinished(-1) && process.exitCode() == 0;
        }
    });
    if (!vipsOk) {
        std::fprintf(stderr, "ebook_picture_making: vipsthumbnail failed\n");
        return 1;
    }
    printFigure(QStringLiteral("picture_making_900"), ours, QStringLiteral("ms"));
    printFigure(QStringLiteral("vipsthumbnail_900"), baseline, QStringLiteral("ms"));
    printFigure(QStringLiteral("picture_bytes_fetched"), summarise({double(fetched)}),
                QStringLiteral("bytes"));
    printFigure(QStringLiteral("picture_bytes_stored"), summarise({double(stored)}), QStringLiteral("bytes"));
    printRatio(QStringLiteral("picture_making_vs_vipsthumbnail"), ours.median / baseline.median,
               QStringLiteral("PreparePicture"), QStringLiteral("vipsthumbnail"));
    return 0;
}
