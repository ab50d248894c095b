// The small pictures: the application icon in every size, the tree's icons and the
// menus' tool bar strip. Small sizes are drawn on their own pixel grid, so that lines
// land on whole pixels at 1x and stay sharp.
#include "Art.h"

#include <QLinearGradient>
#include <QPainterPath>

namespace art {
namespace {

const QPen hairline(const QColor& c) {
    return QPen(c, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

void orangeBadge(QPainter& p, const QRectF& r, qreal radius) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(250, 160, 60));
    g.setColorAt(1, colour::orangeDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
}

// The application icon for 16 to 24 pixels: one folded sheet, a masthead, two lines and the badge.
void appIconSmall(QPainter& p, qreal side) {
    p.save();
    p.scale(side / 16.0, side / 16.0);
    const QRectF sheet(1.5, 1.5, 10, 13);
    p.setPen(hairline(colour::deep));
    p.setBrush(colour::paper);
    p.drawRect(sheet);
    p.fillRect(QRectF(2, 8, 9, 6), colour::paperShade); // the lower half, past the fold
    p.fillRect(QRectF(2, 8, 9, 1), colour::mid);
    p.fillRect(QRectF(3, 3, 7, 2), colour::deep);
    p.fillRect(QRectF(3, 6, 7, 1), colour::rule);
    p.fillRect(QRectF(3, 10, 5, 1), colour::rule);
    orangeBadge(p, QRectF(8, 8, 8, 8), 1.8);
    feedWave(p, QRectF(9.5, 9.5, 5, 5), Qt::white);
    p.restore();
}

// The application icon for 32 pixels and up, designed on a 64-unit grid.
void appIconLarge(QPainter& p, qreal side) {
    p.save();
    p.scale(side / 64.0, side / 64.0);
    // The back page of the folded paper peeks out behind the front one.
    const QRectF back(13, 3, 44, 52);
    dropShadow(p, back, 1, 1.5, 40);
    p.setPen(QPen(colour::mid, 1));
    p.setBrush(colour::paperShade);
    p.drawRect(back);
    textLines(p, QRectF(44, 8, 10, 40), 3.2, 1.2, colour::rule, 2);

    const QRectF front(5, 8, 44, 52);
    dropShadow(p, front, 1, 2, 60);
    p.setPen(QPen(colour::deep, 1.2));
    p.setBrush(colour::paper);
    p.drawRect(front);
    // Below the fold the page turns slightly away from the light.
    QLinearGradient fold(QPointF(0, 34), QPointF(0, 60));
    fold.setColorAt(0, QColor(206, 220, 243));
    fold.setColorAt(0.25, colour::paperShade);
    fold.setColorAt(1, colour::paper);
    p.fillRect(QRectF(5.6, 34, 42.8, 25.4), fold);
    p.fillRect(QRectF(5.6, 33.4, 42.8, 0.8), colour::mid);

    p.fillRect(QRectF(9, 12, 36, 7), colour::deep);
    p.fillRect(QRectF(12, 14.6, 20, 1.8), colour::sky);
    p.fillRect(QRectF(9, 21, 36, 1), colour::navy);
    p.fillRect(QRectF(9, 24, 30, 2.6), colour::navy);
    textLines(p, QRectF(9, 28.5, 16, 4), 2.6, 1.1, colour::rule);
    textLines(p, QRectF(27, 28.5, 18, 4), 2.6, 1.1, colour::rule, 4);
    textLines(p, QRectF(9, 37, 20, 20), 3.0, 1.2, colour::rule, 1);

    const QRectF badge(33, 33, 28, 28);
    dropShadow(p, badge, 6, 2, 80);
    orangeBadge(p, badge, 6);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(badge.adjusted(1, 1, -1, -1), 5, 5);
    feedWave(p, QRectF(39, 39, 16, 16), Qt::white);
    p.restore();
}

void page(QPainter& p, const QRectF& r, qreal corner) {
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - corner, r.top());
    path.lineTo(r.right(), r.top() + corner);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.setPen(hairline(colour::deep));
    p.setBrush(colour::paper);
    p.drawPath(path);
    QPainterPath ear;
    ear.moveTo(r.right() - corner, r.top());
    ear.lineTo(r.right() - corner, r.top() + corner);
    ear.lineTo(r.right(), r.top() + corner);
    p.setBrush(colour::paperShade);
    p.drawPath(ear);
}

void treeFeed(QPainter& p) {
    page(p, QRectF(2.5, 0.5, 11, 15), 4);
    p.fillRect(QRectF(4, 3, 5, 1), colour::rule);
    feedWave(p, QRectF(4, 6, 8, 8), colour::orange);
}

void folderBack(QPainter& p) {
    QPainterPath back;
    back.moveTo(0.5, 13.5);
    back.lineTo(0.5, 2.5);
    back.lineTo(5.5, 2.5);
    back.lineTo(7, 4.5);
    back.lineTo(14.5, 4.5);
    back.lineTo(14.5, 13.5);
    back.closeSubpath();
    p.setPen(hairline(colour::navy));
    p.setBrush(colour::deep);
    p.drawPath(back);
}

void treeGroupClosed(QPainter& p) {
    folderBack(p);
    // A newspaper's edge shows above the front of the folder.
    p.fillRect(QRectF(2, 5, 11, 2), colour::paper);
    QLinearGradient g(QPointF(0, 6), QPointF(0, 14));
    g.setColorAt(0, colour::sky);
    g.setColorAt(1, colour::mid);
    p.setPen(hairline(colour::navy));
    p.setBrush(g);
    p.drawRect(QRectF(0.5, 6.5, 14, 7));
    p.fillRect(QRectF(1, 7, 13, 1), QColor(255, 255, 255, 150));
}

void treeGroupOpen(QPainter& p) {
    folderBack(p);
    // The papers inside, half out of the open folder.
    p.setPen(hairline(colour::deep));
    p.setBrush(colour::paper);
    p.drawRect(QRectF(2.5, 3.5, 10, 8));
    p.fillRect(QRectF(4, 5, 7, 1), colour::rule);
    p.fillRect(QRectF(4, 7, 5, 1), colour::rule);
    QPainterPath flap;
    flap.moveTo(0.5, 13.5);
    flap.lineTo(3, 7.5);
    flap.lineTo(15.5, 7.5);
    flap.lineTo(13, 13.5);
    flap.closeSubpath();
    QLinearGradient g(QPointF(0, 7), QPointF(0, 14));
    g.setColorAt(0, QColor(240, 246, 255));
    g.setColorAt(1, colour::mid);
    p.setPen(hairline(colour::navy));
    p.setBrush(g);
    p.drawPath(flap);
}

// Tool bar strip: eight 16 x 15 pictures side by side.
void toolNew(QPainter& p) {
    page(p, QRectF(3.5, 1.5, 10, 13), 3);
    p.fillRect(QRectF(5, 8, 6, 1), colour::rule);
    p.fillRect(QRectF(5, 10, 6, 1), colour::rule);
    p.fillRect(QRectF(5, 12, 4, 1), colour::rule);
    // A spark for "new".
    p.setPen(QPen(colour::orange, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 1), QPointF(3, 6));
    p.drawLine(QPointF(0.5, 3.5), QPointF(5.5, 3.5));
}

void toolOpen(QPainter& p) {
    folderBack(p);
    QPainterPath flap;
    flap.moveTo(0.5, 13.5);
    flap.lineTo(3, 7.5);
    flap.lineTo(15.5, 7.5);
    flap.lineTo(13, 13.5);
    flap.closeSubpath();
    p.setPen(hairline(colour::navy));
    p.setBrush(colour::sky);
    p.drawPath(flap);
    p.setPen(QPen(colour::orange, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 0.5, 7, 6), 0, 180 * 16);
}

void toolSave(QPainter& p) {
    QPainterPath disk;
    disk.moveTo(1.5, 1.5);
    disk.lineTo(12.5, 1.5);
    disk.lineTo(14.5, 3.5);
    disk.lineTo(14.5, 13.5);
    disk.lineTo(1.5, 13.5);
    disk.closeSubpath();
    p.setPen(hairline(colour::navy));
    p.setBrush(colour::deep);
    p.drawPath(disk);
    p.fillRect(QRectF(4, 2, 8, 5), colour::paper);
    p.fillRect(QRectF(5, 3, 6, 1), colour::rule);
    p.fillRect(QRectF(5, 9, 7, 4), colour::sky);
    p.fillRect(QRectF(6, 10, 2, 2), colour::navy);
}

void toolCut(QPainter& p) {
    p.setPen(QPen(colour::navy, 1.3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5, 1), QPointF(10.2, 9.5));
    p.drawLine(QPointF(11, 1), QPointF(5.8, 9.5));
    p.setPen(QPen(colour::orange, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(2, 9.5, 4.5, 4.5));
    p.drawEllipse(QRectF(9.5, 9.5, 4.5, 4.5));
}

void toolCopy(QPainter& p) {
    page(p, QRectF(1.5, 0.5, 8, 10), 2);
    p.fillRect(QRectF(3, 4, 4, 1), colour::rule);
    p.fillRect(QRectF(3, 6, 4, 1), colour::rule);
    page(p, QRectF(6.5, 4.5, 8, 10), 2);
    p.fillRect(QRectF(8, 8, 5, 1), colour::rule);
    p.fillRect(QRectF(8, 10, 5, 1), colour::rule);
    p.fillRect(QRectF(8, 12, 3, 1), colour::rule);
}

void toolPaste(QPainter& p) {
    p.setPen(hairline(colour::navy));
    p.setBrush(colour::deep);
    p.drawRoundedRect(QRectF(1.5, 2.5, 10, 12), 1, 1);
    p.setBrush(colour::sky);
    p.drawRect(QRectF(4.5, 1.5, 4, 2));
    page(p, QRectF(6.5, 5.5, 8, 9), 2);
    p.fillRect(QRectF(8, 9, 5, 1), colour::rule);
    p.fillRect(QRectF(8, 11, 4, 1), colour::rule);
}

void toolPrint(QPainter& p) {
    p.setPen(hairline(colour::deep));
    p.setBrush(colour::paper);
    p.drawRect(QRectF(4.5, 0.5, 7, 5));
    p.setPen(hairline(colour::navy));
    QLinearGradient g(QPointF(0, 5), QPointF(0, 12));
    g.setColorAt(0, colour::mid);
    g.setColorAt(1, colour::deep);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 5.5, 15, 6), 1, 1);
    p.fillRect(QRectF(12, 7, 2, 1), colour::orange);
    p.setPen(hairline(colour::deep));
    p.setBrush(colour::paper);
    p.drawRect(QRectF(3.5, 9.5, 9, 5));
    p.fillRect(QRectF(5, 11, 6, 1), colour::rule);
    p.fillRect(QRectF(5, 13, 4, 1), colour::rule);
}

void toolAbout(QPainter& p) {
    QLinearGradient g(QPointF(0, 0), QPointF(0, 15));
    g.setColorAt(0, colour::mid);
    g.setColorAt(1, colour::deep);
    p.setPen(hairline(colour::navy));
    p.setBrush(g);
    p.drawEllipse(QRectF(1, 0.5, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(7, 3, 2, 2));
    p.drawRect(QRectF(7, 6, 2, 6));
    p.drawRect(QRectF(6, 6, 1, 1));
    p.drawRect(QRectF(6, 11, 4, 1));
}

} // namespace

void appIcon(QPainter& p, qreal side) {
    if (side < 32)
        appIconSmall(p, side);
    else
        appIconLarge(p, side);
}

QList<Picture> iconPictures() {
    QList<Picture> list;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        list.append({QStringLiteral("app_%1").arg(side), QSize(side, side),
                     [side](QPainter& p) { appIcon(p, side); }});
    }
    list.append({QStringLiteral("tree_group_closed"), QSize(16, 16), treeGroupClosed});
    list.append({QStringLiteral("tree_group_open"), QSize(16, 16), treeGroupOpen});
    list.append({QStringLiteral("tree_feed"), QSize(16, 16), treeFeed});
    list.append({QStringLiteral("toolbar"), QSize(128, 15), [](QPainter& p) {
                     // New, Open, Save, Cut, Copy, Paste, Print, About: the buttons of tool bar 128.
                     const std::function<void(QPainter&)> tools[] = {
                         toolNew, toolOpen, toolSave, toolCut, toolCopy, toolPaste, toolPrint, toolAbout};
                     for (int i = 0; i < 8; ++i) {
                         p.save();
                         p.translate(16 * i, 0);
                         p.setClipRect(QRectF(0, 0, 16, 15));
                         tools[i](p);
                         p.restore();
                     }
                 }});
    return list;
}

} // namespace art
