#include "Client/shell/Twips.h"

#include <QWidget>

#include <cmath>

namespace gemvolt::shell {

namespace {

int logicalDpi(const QWidget* widget, Qt::Orientation axis) {
    const int dpi = !widget                  ? 96
                    : axis == Qt::Horizontal ? widget->logicalDpiX()
                                             : widget->logicalDpiY();
    return dpi > 0 ? dpi : 96;
}

} // namespace

double Twips::pixelsPerTwip(const QWidget* widget) {
    return logicalDpi(widget, Qt::Horizontal) / PerInch;
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

int Twips::wholePixels(const QWidget* widget, int twips, Qt::Orientation axis) {
    // In whole numbers, so an exact inch is never a hair short of its pixels.
    return static_cast<int>(static_cast<long long>(twips) * logicalDpi(widget, axis) /
                            static_cast<long long>(PerInch));
}

} // namespace gemvolt::shell
