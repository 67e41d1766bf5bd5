#pragma once

#include <QPoint>
#include <QRect>
#include <QRectF>

class QWidget;

namespace gemvolt::shell {

/**
 * Window lengths are designed in twips (1/1440 inch). Twips turns them into
 * device-independent pixels through the logical DPI of the screen a widget is
 * on, so the layout keeps its physical size on any screen.
 */
class Twips {
public:
    static constexpr double PerInch = 1440.0;

    /** Pixels per twip for this widget's screen (96 DPI gives 1/15). */
    static double pixelsPerTwip(const QWidget* widget);
    /** A length in twips as pixels, rounded. */
    static int toPixels(const QWidget* widget, double twips);
    /** A pixel length as twips. */
    static double fromPixels(const QWidget* widget, double pixels);
    /** A rectangle given in twips as pixels. */
    static QRect rect(const QWidget* widget, double left, double top, double width, double height);
    /**
     * A whole number of twips as the whole pixels it covers along one axis,
     * through that axis's own logical DPI, rounded down: a margin never grows
     * into the room of what it borders (100 twips are 6 pixels at 96 DPI).
     */
    static int wholePixels(const QWidget* widget, int twips, Qt::Orientation axis);
};

} // namespace gemvolt::shell
