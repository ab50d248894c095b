#include "Art.h"

#include <QLinearGradient>
#include <QPainterPath>

#include <algorithm>
#include <array>

namespace art {

QFont sansFont(qreal pixelSize, bool bold, bool condensed) {
    QFont f(condensed ? QStringLiteral("DejaVu Sans Condensed") : QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qRound(pixelSize));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QFont serifFont(qreal pixelSize, bool bold, bool italic) {
    QFont f(QStringLiteral("DejaVu Serif"));
    f.setPixelSize(qRound(pixelSize));
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

void feedWave(QPainter& p, const QRectF& box, const QColor& colour) {
    const qreal s = box.width();
    const QPointF centre(box.left() + s * 0.14, box.bottom() - s * 0.14);
    p.save();
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, s * 0.13, s * 0.13);
    QPen pen(colour, s * 0.15, Qt::SolidLine, Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    for (qreal r : {s * 0.47, s * 0.79}) {
        const QRectF ring(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        p.drawArc(ring, 0, 90 * 16);
    }
    p.restore();
}

void skyGradient(QPainter& p, const QRectF& r) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, colour::sky);
    g.setColorAt(1, colour::deep);
    p.fillRect(r, g);
}

void dropShadow(QPainter& p, const QRectF& r, qreal radius, qreal spread, int alpha) {
    p.save();
    p.setPen(Qt::NoPen);
    const int steps = std::max(1, qRound(spread * 2));
    for (int i = steps; i >= 1; --i) {
        const qreal grow = spread * i / steps;
        QColor c(colour::navy);
        c.setAlpha(alpha / steps);
        p.setBrush(c);
        p.drawRoundedRect(r.adjusted(-grow, -grow * 0.5, grow, grow * 1.2).translated(0, spread * 0.4),
                          radius + grow, radius + grow);
    }
    p.restore();
}

void textLines(QPainter& p, const QRectF& r, qreal gap, qreal thickness, const QColor& colour, int seed) {
    // A fixed rhythm of line lengths reads as set type; the last line of a paragraph is short.
    static constexpr std::array<qreal, 9> lengths{1.0, 0.94, 1.0, 0.97, 0.62, 1.0, 0.9, 1.0, 0.45};
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    int i = seed;
    for (qreal y = r.top(); y + thickness <= r.bottom() + 0.01; y += gap, ++i) {
        const qreal w = r.width() * lengths[static_cast<size_t>(i) % lengths.size()];
        p.drawRect(QRectF(r.left(), y, w, thickness));
    }
    p.restore();
}

void newspaper(QPainter& p, const QRectF& r, const PageStyle& style) {
    const qreal u = style.unit;
    p.save();
    p.setPen(QPen(colour::mid, std::max(0.5, 0.6 * u)));
    p.setBrush(colour::paper);
    p.drawRect(r);

    const qreal margin = 3 * u;
    QRectF body = r.adjusted(margin, margin, -margin, -margin);

    // Masthead.
    const qreal mastH = style.lettering ? 10 * u : 4 * u;
    if (style.lettering) {
        p.setPen(colour::navy);
        p.setFont(serifFont(8.5 * u));
        p.drawText(QRectF(body.left(), body.top() - u, body.width(), mastH),
                   Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Pellavo"));
    } else {
        p.fillRect(QRectF(body.left(), body.top(), body.width(), mastH), colour::deep);
    }
    qreal y = body.top() + mastH + 1.2 * u;
    p.fillRect(QRectF(body.left(), y, body.width(), 0.5 * u), colour::navy);
    p.fillRect(QRectF(body.left(), y + 1.1 * u, body.width(), 0.25 * u), colour::navy);
    y += 2.8 * u;

    // Headline.
    p.fillRect(QRectF(body.left(), y, body.width() * 0.85, 1.8 * u), colour::navy);
    y += 3.6 * u;

    const qreal gutter = 2 * u;
    const int columns = std::max(1, style.columns);
    const qreal colW = (body.width() - gutter * (columns - 1)) / columns;
    for (int c = 0; c < columns; ++c) {
        const qreal x = body.left() + c * (colW + gutter);
        qreal top = y;
        if (style.photo && c == 0) {
            const QRectF photo(x, top, colW, std::min(colW * 0.75, body.bottom() - top));
            QLinearGradient g(photo.topLeft(), photo.bottomLeft());
            g.setColorAt(0, colour::sky);
            g.setColorAt(1, colour::mid);
            p.fillRect(photo, g);
            // A hill and a sun: enough to read as a photograph at any size.
            QPainterPath hill;
            hill.moveTo(photo.bottomLeft());
            hill.quadTo(QPointF(photo.left() + photo.width() * 0.45, photo.top() + photo.height() * 0.35),
                        photo.bottomRight());
            p.fillPath(hill, colour::deep);
            p.setPen(Qt::NoPen);
            p.setBrush(colour::paper);
            p.drawEllipse(QPointF(photo.right() - photo.width() * 0.25, photo.top() + photo.height() * 0.3),
                          photo.height() * 0.12, photo.height() * 0.12);
            top = photo.bottom() + 2 * u;
        }
        textLines(p, QRectF(x, top, colW, body.bottom() - top), 1.9 * u, 0.75 * u, colour::rule, c * 3);
    }
    p.restore();
}

void mug(QPainter& p, QPointF base, qreal h) {
    const qreal w = h * 0.78;
    const QRectF body(base.x() - w / 2, base.y() - h, w, h);
    p.save();
    // Handle.
    p.setPen(QPen(colour::deep, h * 0.13));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(body.right() - h * 0.12, body.top() + h * 0.2, h * 0.42, h * 0.45));
    // Body with a rounded bottom and a light edge.
    QPainterPath cup;
    cup.moveTo(body.topLeft());
    cup.lineTo(body.topRight());
    cup.lineTo(body.right(), body.bottom() - h * 0.15);
    cup.quadTo(body.bottomRight(), QPointF(body.right() - h * 0.15, body.bottom()));
    cup.lineTo(body.left() + h * 0.15, body.bottom());
    cup.quadTo(body.bottomLeft(), QPointF(body.left(), body.bottom() - h * 0.15));
    cup.closeSubpath();
    QLinearGradient g(body.topLeft(), body.topRight());
    g.setColorAt(0, colour::mid);
    g.setColorAt(0.35, colour::deep);
    g.setColorAt(1, colour::navy);
    p.setPen(Qt::NoPen);
    p.fillPath(cup, g);
    // Coffee surface.
    p.setBrush(QColor(92, 58, 34));
    p.drawEllipse(QRectF(body.left(), body.top() - h * 0.06, w, h * 0.12));
    // A band with the feed wave on it, the mug of someone who reads the news.
    feedWave(p, QRectF(body.center().x() - h * 0.14, body.center().y() - h * 0.08, h * 0.28, h * 0.28),
             colour::orange);
    // Steam.
    QColor steam(255, 255, 255, 170);
    p.setPen(QPen(steam, h * 0.05, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const qreal x = body.left() + w * (0.25 + 0.25 * i);
        QPainterPath s;
        s.moveTo(x, body.top() - h * 0.12);
        s.cubicTo(QPointF(x - h * 0.12, body.top() - h * 0.3), QPointF(x + h * 0.12, body.top() - h * 0.4),
                  QPointF(x, body.top() - h * 0.58));
        p.drawPath(s);
    }
    p.restore();
}

} // namespace art
