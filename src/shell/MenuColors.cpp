#include "shell/MenuColors.h"

namespace {

bool IsFraction(double f) {
    return f > 0.0 && f <= 1.0;
}

int Towards(int channel, int target, double f) {
    return static_cast<int>(channel + f * (target - channel));
}

QColor Shift(const QColor& colour, int target, double f) {
    if (!IsFraction(f))
        return colour;
    const QColor rgb = colour.toRgb();
    return QColor(Towards(rgb.red(), target, f), Towards(rgb.green(), target, f),
                  Towards(rgb.blue(), target, f), rgb.alpha());
}

} // namespace

QColor Lighten(const QColor& colour, double f) {
    return Shift(colour, 255, f);
}

QColor Darken(const QColor& colour, double f) {
    return Shift(colour, 0, f);
}
