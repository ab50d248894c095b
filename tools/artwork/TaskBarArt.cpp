// The task bar's pictures: the panel (158) behind the buttons and the buttons' state
// strips (145 to 157), each three 128 x 15 frames: normal, pressed, mouse over.
#include "Art.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>

#include <algorithm>

namespace art {
namespace {

constexpr int frameWidth = 128;
constexpr int frameHeight = 15;

// Where the buttons sit on the panel: the bar draws the panel at (6, 15) and the buttons
// at x 26, so on the panel they start at x 20; their tops are listed in bar coordinates.
constexpr qreal panelX = 6;
constexpr qreal panelY = 15;
constexpr qreal buttonLeft = 26 - panelX;

enum class Glyph { UpdateAll, UpdateMarked, UpdateCurrent, Import, Export, SendTo, Sync };
enum class Box { None, Empty, Ticked };

struct Button {
    int id;
    QString label;
    Glyph glyph;
    Box box;
};

const QList<Button>& buttons() {
    static const QList<Button> list{
        {145, QStringLiteral("Update All Feeds"), Glyph::UpdateAll, Box::None},
        {146, QStringLiteral("Update Marked Feeds"), Glyph::UpdateMarked, Box::None},
        {150, QStringLiteral("Update Current Feed"), Glyph::UpdateCurrent, Box::None},
        {148, QStringLiteral("Import OPML"), Glyph::Import, Box::None},
        {147, QStringLiteral("Export OPML"), Glyph::Export, Box::None},
        {157, QStringLiteral("Send To"), Glyph::SendTo, Box::None},
        {149, QStringLiteral("Synchronize Channels"), Glyph::Sync, Box::Empty},
        {152, QStringLiteral("Synchronize Channels"), Glyph::Sync, Box::Ticked},
    };
    return list;
}

constexpr qreal labelX = 17;
constexpr qreal boxSide = 11;

// The largest label size at which every label, with its check box, fits its frame.
QFont labelFont() {
    for (qreal size = 10; size > 7; size -= 0.5) {
        const QFont f = sansFont(size, true, true);
        const QFontMetricsF fm(f);
        const bool fits = std::all_of(buttons().begin(), buttons().end(), [&](const Button& b) {
            const qreal room = frameWidth - labelX - 2 - (b.box == Box::None ? 0 : boxSide + 4);
            return fm.horizontalAdvance(b.label) <= room;
        });
        if (fits)
            return f;
    }
    return sansFont(7, true, true);
}

void arrowHead(QPainter& p, QPointF tip, qreal angleDeg, qreal size, const QColor& c) {
    p.save();
    p.translate(tip);
    p.rotate(angleDeg);
    QPainterPath head;
    head.moveTo(0, 0);
    head.lineTo(-size, -size * 0.7);
    head.lineTo(-size, size * 0.7);
    head.closeSubpath();
    p.fillPath(head, c);
    p.restore();
}

// The 11 x 11 picture at the start of each button.
void glyph(QPainter& p, Glyph g, const QColor& c) {
    const QPen pen(c, 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (g) {
    case Glyph::UpdateAll:
        p.drawArc(QRectF(1, 1, 9, 9), 30 * 16, 150 * 16);
        p.drawArc(QRectF(1, 1, 9, 9), 210 * 16, 150 * 16);
        arrowHead(p, QPointF(9.6, 3.0), 110, 3, c);
        arrowHead(p, QPointF(1.4, 8.0), -70, 3, c);
        break;
    case Glyph::UpdateMarked:
        p.setPen(QPen(c, 1));
        p.drawRect(QRectF(0.5, 1.5, 9, 9));
        p.setPen(QPen(colour::orange, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2.5, 6), QPointF(4.5, 8.5), QPointF(10, 1.5)}));
        break;
    case Glyph::UpdateCurrent:
        p.drawArc(QRectF(1, 1, 9, 9), 40 * 16, 290 * 16);
        arrowHead(p, QPointF(9.3, 2.6), 120, 3, c);
        p.setPen(Qt::NoPen);
        p.setBrush(colour::orange);
        p.drawEllipse(QPointF(5.5, 5.5), 1.5, 1.5);
        break;
    case Glyph::Import:
    case Glyph::Export: {
        p.setPen(QPen(c, 1.2));
        p.drawPolyline(
            QPolygonF({QPointF(0.5, 7), QPointF(0.5, 10.5), QPointF(10.5, 10.5), QPointF(10.5, 7)}));
        p.setPen(QPen(colour::orange, 1.6));
        const bool in = g == Glyph::Import;
        p.drawLine(QPointF(5.5, in ? 0 : 8.5), QPointF(5.5, in ? 5 : 4));
        arrowHead(p, QPointF(5.5, in ? 8.5 : 0.5), in ? 90 : -90, 3.5, colour::orange);
        break;
    }
    case Glyph::SendTo:
        p.setPen(QPen(c, 1));
        p.setBrush(colour::paper);
        p.drawRoundedRect(QRectF(2.5, 0.5, 6, 10), 1.2, 1.2);
        p.fillRect(QRectF(3.5, 2, 4, 6), colour::sky);
        p.fillRect(QRectF(4.5, 9, 2, 1), c);
        feedWave(p, QRectF(3.8, 3.2, 3.6, 3.6), colour::orange);
        break;
    case Glyph::Sync:
        p.drawArc(QRectF(1, 1, 9, 9), 20 * 16, 140 * 16);
        p.drawArc(QRectF(1, 1, 9, 9), 200 * 16, 140 * 16);
        arrowHead(p, QPointF(1.6, 3.4), 70, 3, c);
        arrowHead(p, QPointF(9.4, 7.6), -110, 3, c);
        break;
    }
}

enum class State { Normal, Pressed, Hover };

void buttonFrame(QPainter& p, const Button& b, State state) {
    p.fillRect(QRectF(0, 0, frameWidth, frameHeight), colour::paper);
    if (state != State::Normal) {
        const bool pressed = state == State::Pressed;
        QLinearGradient g(QPointF(0, 0), QPointF(0, frameHeight));
        g.setColorAt(0, pressed ? QColor(205, 223, 249) : QColor(244, 249, 255));
        g.setColorAt(1, pressed ? QColor(226, 237, 253) : colour::sky);
        p.setPen(QPen(pressed ? colour::deep : colour::mid, 1));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, frameWidth - 1, frameHeight - 1), 3, 3);
    }
    // A pressed button moves its face by one pixel, like a key going down.
    const qreal shift = state == State::Pressed ? 1 : 0;
    p.save();
    p.translate(3 + shift, 2 + shift);
    glyph(p, b.glyph, colour::deep);
    p.restore();

    const QFont f = labelFont();
    p.setFont(f);
    p.setPen(state == State::Normal ? colour::navy : colour::orangeDark);
    const QRectF textRect(labelX + shift, shift, frameWidth - labelX, frameHeight);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, b.label);

    if (b.box != Box::None) {
        const QRectF box(frameWidth - boxSide - 3.5 + shift, 1.5 + shift, boxSide, boxSide);
        p.setPen(QPen(colour::deep, 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(box, 1.5, 1.5);
        if (b.box == Box::Ticked) {
            p.setPen(QPen(state == State::Normal ? colour::navy : colour::orangeDark, 1.8, Qt::SolidLine,
                          Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF({box.topLeft() + QPointF(2.5, 5.5), box.topLeft() + QPointF(4.5, 8),
                                      box.topLeft() + QPointF(8.5, 2.5)}));
        }
    }
}

void heading(QPainter& p, qreal y, const QString& text) {
    QFont f = sansFont(7.5, true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    p.setFont(f);
    p.setPen(colour::deep);
    const QRectF r(buttonLeft + 2, y, 120, 10);
    QRectF used;
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text, &used);
    p.fillRect(QRectF(used.right() + 5, y + 5, 148 - used.right() - 7, 1), colour::rule);
}

// 153 x 227: a newspaper front page whose masthead carries the program's name; the
// buttons sit on its page in place of the columns of text.
void panel(QPainter& p) {
    const QRectF sheet(0.5, 0.5, 152, 226);
    QPainterPath outline;
    outline.addRoundedRect(sheet, 5, 5);
    p.fillPath(outline, colour::paper);

    // Masthead.
    const QRectF mast(0.5, 0.5, 152, 56);
    QPainterPath mastPath;
    mastPath.addRoundedRect(mast, 5, 5);
    mastPath.addRect(QRectF(0.5, 20, 152, 36.5));
    mastPath.setFillRule(Qt::WindingFill);
    QLinearGradient g(mast.topLeft(), mast.bottomLeft());
    g.setColorAt(0, QColor(98, 146, 219));
    g.setColorAt(1, QColor(44, 84, 150));
    p.fillPath(mastPath.simplified(), g);
    p.setFont(serifFont(27));
    p.setPen(QColor(20, 38, 76, 120));
    p.drawText(QRectF(1, 5, 152, 34), Qt::AlignCenter, QStringLiteral("Pellavo"));
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 4, 152, 34), Qt::AlignCenter, QStringLiteral("Pellavo"));
    p.setFont(serifFont(9, false, true));
    p.setPen(colour::sky);
    p.drawText(QRectF(0, 38, 152, 14), Qt::AlignCenter, QStringLiteral("news feeds for your phone"));
    feedWave(p, QRectF(134, 6, 11, 11), colour::orange);

    p.fillRect(QRectF(4, 59, 145, 1.2), colour::navy);
    p.fillRect(QRectF(4, 61.5, 145, 0.6), colour::navy);

    heading(p, 67, QStringLiteral("FEEDS"));
    heading(p, 157.5, QStringLiteral("PHONE"));
    // The check box below Send To belongs with it; a dotted rule sets it apart.
    p.setPen(QPen(colour::rule, 1, Qt::DotLine));
    p.drawLine(QPointF(buttonLeft + 2, 192.5), QPointF(148, 192.5));

    p.fillRect(QRectF(4, 219, 145, 0.6), colour::navy);
    p.fillRect(QRectF(4, 220.8, 145, 1.2), colour::navy);

    p.setPen(QPen(colour::deep, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
}

} // namespace

QList<Picture> taskBarPictures() {
    QList<Picture> list;
    list.append({QStringLiteral("taskbar_158"), QSize(153, 227), panel});
    for (const Button& b : buttons()) {
        list.append(
            {QStringLiteral("taskbar_%1").arg(b.id), QSize(3 * frameWidth, frameHeight), [b](QPainter& p) {
                 int i = 0;
                 for (State s : {State::Normal, State::Pressed, State::Hover}) {
                     p.save();
                     p.translate(frameWidth * i++, 0);
                     p.setClipRect(QRectF(0, 0, frameWidth, frameHeight));
                     buttonFrame(p, b, s);
                     p.restore();
                 }
             }});
    }
    return list;
}

} // namespace art
