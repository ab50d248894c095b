#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>

#include <functional>

// The drawing vocabulary shared by every picture: one palette built around the task
// bar's gradient, paper, ink and the orange of the feed wave, and a few motifs (sheets
// of newsprint, the feed wave, the masthead) that each picture combines.
namespace art {

namespace colour {
inline const QColor sky{221, 236, 255};   // top of the task bar gradient
inline const QColor deep{74, 122, 201};   // bottom of the task bar gradient
inline const QColor mid{148, 182, 232};   // between the two
inline const QColor navy{28, 52, 99};     // ink
inline const QColor paper{251, 252, 255}; // newsprint
inline const QColor paperShade{229, 237, 250};
inline const QColor rule{172, 193, 226};  // text lines on paper
inline const QColor orange{236, 124, 22}; // the feed wave and active labels
inline const QColor orangeDark{196, 92, 8};
} // namespace colour

// One picture: its file name without extension, its size in logical pixels, and the
// code that draws it into a painter already scaled to those logical pixels.
struct Picture {
    QString name;
    QSize size;
    std::function<void(QPainter&)> draw;
};

QList<Picture> iconPictures();
QList<Picture> taskBarPictures();
QList<Picture> scenePictures();

QFont sansFont(qreal pixelSize, bool bold = false, bool condensed = false);
QFont serifFont(qreal pixelSize, bool bold = true, bool italic = false);

// The feed wave (a dot and two quarter rings) filling the square `box`.
void feedWave(QPainter& p, const QRectF& box, const QColor& colour);

// A vertical gradient from sky to deep over `r`.
void skyGradient(QPainter& p, const QRectF& r);

// A soft drop shadow under a rounded rectangle.
void dropShadow(QPainter& p, const QRectF& r, qreal radius, qreal spread, int alpha = 70);

// A newspaper front page in `r`: masthead, headline, columns of text and a picture block.
// `unit` sets the scale of the lines (1 for small sheets, larger for big ones).
struct PageStyle {
    int columns = 2;
    bool photo = true;
    bool lettering = false; // "Pellavo" in the masthead instead of a plain band
    qreal unit = 1.0;
};
void newspaper(QPainter& p, const QRectF& r, const PageStyle& style);

// Evenly spaced text lines of varying length inside `r`.
void textLines(QPainter& p, const QRectF& r, qreal gap, qreal thickness, const QColor& colour, int seed = 0);

// The application icon, `side` logical pixels square.
void appIcon(QPainter& p, qreal side);

// A mug with steam, standing on its base at `base` (centre of the bottom), `h` high.
void mug(QPainter& p, QPointF base, qreal h);

} // namespace art
