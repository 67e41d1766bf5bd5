#pragma once

#include <QColor>
#include <QHash>
#include <QPixmap>

#include <cstdint>

namespace gemvolt::shell {

/**
 * Draws gems and keeps every drawn gem as a pixmap, one per kind, colour, size
 * and device pixel ratio, so a repaint only blits. A normal gem is a rounded
 * square, a crash gem a circle, both shaded with a light edge and a glint.
 */
class GemPainter {
public:
    /** The screen colour of a 0x00BBGGRR gem colour. */
    static QColor toQColor(std::int32_t bgr);

    /**
     * The gem of this kind (ShapeNormal or ShapeCrash; anything else draws as a
     * normal gem) and colour, sizePx logical pixels square, rendered for dpr.
     */
    const QPixmap& gem(std::int16_t shape, std::int32_t color, int sizePx, qreal dpr);

    /** Pixmaps drawn so far (each kind, colour and size once). */
    int cachedCount() const { return static_cast<int>(m_cache.size()); }
    void clear() { m_cache.clear(); }

private:
    static QPixmap render(bool crash, QColor color, int sizePx, qreal dpr);

    QHash<quint64, QPixmap> m_cache;
};

} // namespace gemvolt::shell
