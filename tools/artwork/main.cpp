// pellavo-artwork: draws every picture of Pellavo into a folder, each at 1x as
// "<name>.png" and at 2x as "<name>@2x.png", which Qt picks on high-density screens.
#include "Art.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>

#include <cstdio>

namespace {

QImage render(const art::Picture& picture, int scale) {
    QImage image(picture.size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
    picture.draw(p);
    p.end();
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    // Drawing needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const QStringList args = app.arguments();
    if (args.size() != 2 || args[1].startsWith(QLatin1Char('-'))) {
        err << "usage: pellavo-artwork <output folder>\n"
               "Draws Pellavo's pictures as PNG files, each at 1x and 2x.\n";
        return args.size() == 2 && args[1] == QLatin1String("--help") ? 0 : 2;
    }
    const QDir out(args[1]);
    if (!QDir().mkpath(out.path())) {
        err << "cannot create " << out.path() << '\n';
        return 1;
    }

    QList<art::Picture> pictures = art::iconPictures();
    pictures += art::taskBarPictures();
    pictures += art::scenePictures();
    for (const art::Picture& picture : pictures) {
        for (int scale : {1, 2}) {
            const QString file = out.filePath(
                picture.name + (scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale)) + ".png");
            if (!render(picture, scale).save(file, "PNG")) {
                err << "cannot write " << file << '\n';
                return 1;
            }
        }
    }
    QTextStream(stdout) << pictures.size() << " pictures written to " << out.path() << '\n';
    return 0;
}
