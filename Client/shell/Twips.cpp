#include "Client/shell/Twips.h"

#include <QWidget>

#include <cmath>

namespace gemvolt::shell {

double Twips::pixelsPerTwip(const QWidget* widget) {
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return (dpi > 0 ? dpi : 96) / PerInch;
}

int Twips::toPixels(const QWidget* widget, double twips) {
    return static_cast<int>(std::lround(twips * pixelsPerTwip(widget)));
}

double Twips::fromPixels(const QWidget* widget, double pixels) {
    return pixels / pixelsPerTwip(widget);
}

QRect Twips::rect(const QWidget* widget, double left, double top, double width, double height) {
    return QRect(toPixels(widget, left), toPixels(widget, top), toPixels(widget, width),
                 toPixels(widget, height));
}

} // namespace gemvolt::shell
