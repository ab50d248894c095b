#pragma once

#include <QColor>

// The two colour steps the menus derive their tints from. Both leave the colour as it is
// unless 0 < f <= 1, and both cut each channel down to a whole number.

// Moves red, green and blue towards white by the fraction f: c + f * (255 - c).
QColor Lighten(const QColor& colour, double f);
// Moves red, green and blue towards black by the fraction f: c - f * c.
QColor Darken(const QColor& colour, double f);
