// The larger pictures: the dialogs' illustrations, the splash screen and the about box.
// They are small still lifes of newsprint on the task bar's blue, lit from the top left.
#include "Art.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace art {
namespace {

// A sky-to-deep background with a soft light in the top left corner.
void backdrop(QPainter& p, const QSizeF& size) {
    const QRectF r(QPointF(0, 0), size);
    skyGradient(p, r);
    QRadialGradient light(QPointF(size.width() * 0.2, size.height() * 0.1),
                          std::max(size.width(), size.height()));
    light.setColorAt(0, QColor(255, 255, 255, 110));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(r, light);
}

// Large faint rings of a feed wave radiating from `centre`.
void watermark(QPainter& p, QPointF centre, qreal r0, int rings, int alpha = 30) {
    p.save();
    p.setPen(QPen(QColor(255, 255, 255, alpha), r0 * 0.35, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= rings; ++i) {
        const qreal r = r0 * i;
        p.drawEllipse(centre, r, r);
    }
    p.restore();
}

// A newspaper of size `size` centred at `centre`, turned by `angle` degrees, with its shadow.
void lyingPaper(QPainter& p, QPointF centre, QSizeF size, qreal angle, const PageStyle& style) {
    p.save();
    p.translate(centre);
    p.rotate(angle);
    const QRectF r(-size.width() / 2, -size.height() / 2, size.width(), size.height());
    dropShadow(p, r, 0, 2.5 * style.unit, 70);
    newspaper(p, r, style);
    p.restore();
}

// A newspaper folded in half across its middle: the lower half turns away from the light.
void foldedPaper(QPainter& p, QPointF centre, QSizeF size, qreal angle, qreal unit) {
    p.save();
    p.translate(centre);
    p.rotate(angle);
    const QRectF r(-size.width() / 2, -size.height() / 2, size.width(), size.height());
    dropShadow(p, r, 0, 3 * unit, 80);
    newspaper(p, r, {2, true, true, unit});
    QLinearGradient shade(QPointF(0, 0), QPointF(0, r.bottom()));
    shade.setColorAt(0, QColor(40, 70, 130, 70));
    shade.setColorAt(0.3, QColor(40, 70, 130, 25));
    shade.setColorAt(1, QColor(40, 70, 130, 0));
    p.fillRect(QRectF(r.left(), 0, r.width(), r.bottom()), shade);
    p.fillRect(QRectF(r.left(), -0.4 * unit, r.width(), 0.8 * unit), QColor(255, 255, 255, 200));
    p.restore();
}

void dlgFeed(QPainter& p) {
    const QSizeF size(86, 193);
    backdrop(p, size);
    watermark(p, QPointF(0, 193), 26, 5, 22);
    lyingPaper(p, QPointF(46, 152), QSizeF(62, 80), 7, {2, false, false, 1.1});
    lyingPaper(p, QPointF(40, 100), QSizeF(62, 80), -6, {3, true, false, 1.1});
    lyingPaper(p, QPointF(44, 47), QSizeF(62, 80), 3, {2, true, true, 1.1});
}

// Reading glasses resting on a page of small print: the lenses enlarge what is under them.
void dlgGroup(QPainter& p) {
    const QRectF r(0, 0, 250, 44);
    p.fillRect(r, colour::paper);
    for (int c = 0; c < 6; ++c)
        textLines(p, QRectF(4 + c * 41.5, 4, 37, 40), 2.6, 1.0, colour::rule, c * 2);
    p.fillRect(QRectF(4, 4, 78, 3), colour::navy);

    // Fade the print into the task bar's blue towards the right.
    QLinearGradient fade(r.topLeft(), r.topRight());
    fade.setColorAt(0.0, QColor(221, 236, 255, 0));
    fade.setColorAt(0.45, QColor(221, 236, 255, 150));
    fade.setColorAt(1.0, QColor(74, 122, 201, 235));
    p.fillRect(r, fade);

    const QPointF left(160, 24);
    const QPointF right(203, 24);
    const qreal rx = 17;
    const qreal ry = 12.5;
    for (const QPointF& c : {left, right}) {
        QPainterPath lens;
        lens.addEllipse(c, rx, ry);
        p.save();
        p.setClipPath(lens);
        p.fillRect(r, colour::paper);
        p.translate(c);
        p.scale(1.6, 1.6);
        p.translate(-c);
        textLines(p, QRectF(c.x() - 20, c.y() - 14, 40, 30), 2.6, 1.0, colour::mid, 3);
        p.restore();
        QRadialGradient tint(c - QPointF(6, 5), rx * 1.3);
        tint.setColorAt(0, QColor(255, 255, 255, 90));
        tint.setColorAt(1, QColor(74, 122, 201, 70));
        p.fillPath(lens, tint);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(20, 38, 76, 60), 4));
    p.drawEllipse(left + QPointF(1, 2), rx, ry);
    p.drawEllipse(right + QPointF(1, 2), rx, ry);
    p.setPen(QPen(colour::navy, 2.4));
    p.drawEllipse(left, rx, ry);
    p.drawEllipse(right, rx, ry);
    QPainterPath bridge;
    bridge.moveTo(left.x() + rx, left.y() - 3);
    bridge.quadTo(QPointF((left.x() + right.x()) / 2, left.y() - 10), QPointF(right.x() - rx, right.y() - 3));
    p.drawPath(bridge);
    QPainterPath temple;
    temple.moveTo(right.x() + rx, right.y() - 4);
    temple.cubicTo(QPointF(236, 12), QPointF(244, 8), QPointF(252, 2));
    p.drawPath(temple);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.4, Qt::SolidLine, Qt::RoundCap));
    for (const QPointF& c : {left, right})
        p.drawArc(QRectF(c.x() - rx + 4, c.y() - ry + 3, 2 * rx - 8, 2 * ry - 6), 100 * 16, 60 * 16);
}

// A morning still life: a folded paper and a mug of coffee.
void cupAndPaper(QPainter& p) {
    const QSizeF size(93, 109);
    backdrop(p, size);
    // The table's edge.
    QLinearGradient table(QPointF(0, 78), QPointF(0, 109));
    table.setColorAt(0, QColor(58, 100, 176, 0));
    table.setColorAt(1, QColor(40, 76, 140, 120));
    p.fillRect(QRectF(0, 70, 93, 39), table);
    foldedPaper(p, QPointF(36, 52), QSizeF(50, 66), -11, 0.95);
    mug(p, QPointF(72, 98), 27);
}

void dlgImport(QPainter& p) {
    cupAndPaper(p);
    // Pages arriving from elsewhere: a badge with an arrow into the tray.
    const QRectF badge(64, 5, 24, 24);
    dropShadow(p, badge, 12, 1.5, 70);
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(colour::deep);
    p.drawEllipse(badge);
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(76, 10), QPointF(76, 19));
    p.drawPolyline(QPolygonF({QPointF(72, 16), QPointF(76, 20), QPointF(80, 16)}));
    p.drawPolyline(QPolygonF({QPointF(70, 20), QPointF(70, 23), QPointF(82, 23), QPointF(82, 20)}));
}

// Feeds coming in: sheets fly off the feed wave and settle on a stack.
void dlgProgress(QPainter& p) {
    const QSizeF size(93, 109);
    backdrop(p, size);
    watermark(p, QPointF(0, 109), 22, 5, 20);
    feedWave(p, QRectF(8, 64, 38, 38), colour::orange);
    lyingPaper(p, QPointF(68, 30), QSizeF(36, 46), 4, {2, true, false, 0.65});
    lyingPaper(p, QPointF(66, 27), QSizeF(36, 46), -3, {2, true, true, 0.65});
    struct Flight {
        QPointF at;
        qreal angle;
        qreal scale;
    };
    for (const Flight& f : {Flight{{40, 66}, -25, 0.45}, Flight{{56, 70}, -12, 0.55}}) {
        p.save();
        p.setPen(QPen(QColor(255, 255, 255, 140), 1.2, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 3; ++i)
            p.drawLine(f.at + QPointF(-12 - 3 * i, 4 + 4 * i), f.at + QPointF(-5 - 3 * i, 2 + 4 * i));
        p.restore();
        lyingPaper(p, f.at, QSizeF(36 * f.scale * 1.2, 46 * f.scale * 1.2), f.angle, {1, false, false, 0.45});
    }
}

// The schedule: an alarm clock standing on the morning paper.
void dlgOptions(QPainter& p) {
    const QSizeF size(86, 170);
    backdrop(p, size);
    watermark(p, QPointF(86, 170), 24, 6, 18);
    lyingPaper(p, QPointF(44, 122), QSizeF(60, 78), 5, {2, true, true, 1.0});

    const QPointF c(43, 50);
    const qreal r = 25;
    p.save();
    // Feet and bells.
    p.setPen(QPen(colour::navy, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-14, 20), c + QPointF(-19, 29));
    p.drawLine(c + QPointF(14, 20), c + QPointF(19, 29));
    p.setPen(QPen(colour::navy, 1.2));
    QLinearGradient bell(QPointF(0, c.y() - r - 12), QPointF(0, c.y() - r + 4));
    bell.setColorAt(0, colour::mid);
    bell.setColorAt(1, colour::deep);
    p.setBrush(bell);
    for (int side : {-1, 1}) {
        p.save();
        p.translate(c + QPointF(side * 17, -r + 1));
        p.rotate(side * 35);
        p.drawChord(QRectF(-10, -9, 20, 18), 0, 180 * 16);
        p.restore();
    }
    dropShadow(p, QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), r, 3, 90);
    QLinearGradient rim(c - QPointF(r, r), c + QPointF(r, r));
    rim.setColorAt(0, colour::mid);
    rim.setColorAt(1, colour::navy);
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawEllipse(c, r, r);
    p.setBrush(colour::paper);
    p.drawEllipse(c, r - 4, r - 4);
    p.setPen(QPen(colour::navy, 1.2));
    for (int i = 0; i < 12; ++i) {
        const qreal a = i * M_PI / 6;
        const qreal inner = i % 3 == 0 ? r - 10 : r - 8;
        p.drawLine(c + QPointF(std::sin(a) * inner, -std::cos(a) * inner),
                   c + QPointF(std::sin(a) * (r - 6), -std::cos(a) * (r - 6)));
    }
    // Eight o'clock, time for the morning update.
    p.setPen(QPen(colour::navy, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(std::sin(-2 * M_PI / 3) * 10, -std::cos(-2 * M_PI / 3) * 10));
    p.setPen(QPen(colour::navy, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(0, -16));
    p.setPen(QPen(colour::orange, 1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-std::sin(0.9) * 5, std::cos(0.9) * 5),
               c + QPointF(std::sin(0.9) * 17, -std::cos(0.9) * 17));
    p.setPen(Qt::NoPen);
    p.setBrush(colour::orange);
    p.drawEllipse(c, 2, 2);
    p.restore();
}

// A phone of height `h` centred at `centre`, showing a feed.
void phone(QPainter& p, QPointF centre, qreal h, qreal angle) {
    const qreal w = h * 0.52;
    p.save();
    p.translate(centre);
    p.rotate(angle);
    const QRectF body(-w / 2, -h / 2, w, h);
    dropShadow(p, body, w * 0.16, h * 0.05, 110);
    QLinearGradient g(body.topLeft(), body.bottomRight());
    g.setColorAt(0, QColor(60, 90, 146));
    g.setColorAt(1, QColor(18, 32, 64));
    p.setPen(QPen(QColor(150, 180, 230), 0.8));
    p.setBrush(g);
    p.drawRoundedRect(body, w * 0.16, w * 0.16);
    const QRectF screen = body.adjusted(w * 0.08, h * 0.1, -w * 0.08, -h * 0.12);
    p.fillRect(screen, colour::paper);
    p.fillRect(QRectF(screen.left(), screen.top(), screen.width(), h * 0.1), colour::deep);
    feedWave(p, QRectF(screen.left() + w * 0.06, screen.top() + h * 0.015, h * 0.07, h * 0.07),
             colour::orange);
    p.fillRect(QRectF(screen.left() + w * 0.28, screen.top() + h * 0.035, w * 0.45, h * 0.03), colour::sky);
    const qreal rowH = h * 0.13;
    for (int i = 0; i < 5; ++i) {
        const qreal y = screen.top() + h * 0.14 + i * rowH;
        if (y + rowH * 0.8 > screen.bottom())
            break;
        p.fillRect(QRectF(screen.left() + w * 0.07, y, w * 0.6, h * 0.025), colour::navy);
        textLines(p, QRectF(screen.left() + w * 0.07, y + h * 0.045, screen.width() - w * 0.14, h * 0.05),
                  h * 0.035, h * 0.015, colour::rule, i);
    }
    p.fillRect(QRectF(-w * 0.15, body.bottom() - h * 0.07, w * 0.3, h * 0.02), QColor(150, 180, 230));
    p.restore();
}

void lettering(QPainter& p, const QRectF& r, qreal pixelSize) {
    p.setFont(serifFont(pixelSize));
    p.setPen(QColor(20, 38, 76, 110));
    p.drawText(r.translated(pixelSize * 0.04, pixelSize * 0.06), Qt::AlignCenter, QStringLiteral("Pellavo"));
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("Pellavo"));
}

void splash(QPainter& p) {
    const QSizeF size(225, 277);
    backdrop(p, size);
    watermark(p, QPointF(0, 277), 34, 8, 16);
    lyingPaper(p, QPointF(96, 92), QSizeF(118, 150), -9, {3, true, false, 1.8});
    lyingPaper(p, QPointF(104, 88), QSizeF(118, 150), 4, {2, true, true, 1.8});
    phone(p, QPointF(170, 132), 108, 8);

    // The name plate across the bottom.
    QLinearGradient plate(QPointF(0, 196), QPointF(0, 277));
    plate.setColorAt(0, QColor(44, 84, 150, 0));
    plate.setColorAt(0.35, QColor(44, 84, 150, 200));
    plate.setColorAt(1, QColor(28, 52, 99, 245));
    p.fillRect(QRectF(0, 196, 225, 81), plate);
    lettering(p, QRectF(0, 206, 225, 44), 40);
    p.fillRect(QRectF(40, 250, 145, 0.8), colour::sky);
    p.setFont(serifFont(10.5, false, true));
    p.setPen(colour::sky);
    p.drawText(QRectF(0, 252, 225, 18), Qt::AlignCenter, QStringLiteral("news feeds for your phone"));
    p.setPen(QPen(colour::deep, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 224, 276));
}

void about(QPainter& p) {
    const QSizeF size(74, 156);
    backdrop(p, size);
    watermark(p, QPointF(0, 156), 16, 9, 16);
    p.save();
    p.translate(5, 18);
    appIcon(p, 64);
    p.restore();
    lettering(p, QRectF(0, 100, 74, 24), 16);
    p.fillRect(QRectF(14, 125, 46, 0.6), colour::sky);
    p.setFont(serifFont(8, false, true));
    p.setPen(colour::sky);
    p.drawText(QRectF(0, 127, 74, 12), Qt::AlignCenter, QStringLiteral("news feeds"));
    p.drawText(QRectF(0, 137, 74, 12), Qt::AlignCenter, QStringLiteral("for your phone"));
}

} // namespace

QList<Picture> scenePictures() {
    return {
        {QStringLiteral("dlg_feed"), QSize(86, 193), dlgFeed},
        {QStringLiteral("dlg_group"), QSize(250, 44), dlgGroup},
        {QStringLiteral("dlg_delete"), QSize(93, 109), cupAndPaper},
        {QStringLiteral("dlg_import"), QSize(93, 109), dlgImport},
        {QStringLiteral("dlg_progress"), QSize(93, 109), dlgProgress},
        {QStringLiteral("dlg_options"), QSize(86, 170), dlgOptions},
        {QStringLiteral("splash"), QSize(225, 277), splash},
        {QStringLiteral("about"), QSize(74, 156), about},
    };
}

} // namespace art
