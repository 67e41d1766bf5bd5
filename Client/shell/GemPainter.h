#pragma once

#include <QCache>
#include <QColor>
#include <QPixmap>

#include <cstdint>

namespace gemvolt::shell {

/**
 * Draws gems and keeps drawn gems as pixmaps, one per kind, colour, size and
 * device pixel ratio, so a repaint only blits. A normal gem is a rounded
 * square, a crash gem a circle, both shaded with a light edge and a glint.
 *
 * Colours come from other players, who may send a new one with every gem:
 * the cache keeps only the Capacity gems used most recently.
 */
class GemPainter {
public:
    /** Far more than a window shows at once (a few colours, shapes and sizes). */
    static constexpr int Capacity = 256;

    GemPainter() : m_cache(Capacity) {}

    /** The screen colour of a 0x00BBGGRR gem colour. */
    static QColor toQColor(std::int32_t bgr);

    /**
     * The gem of this kind (ShapeNormal or ShapeCrash; anything else draws as a
     * normal gem) and colour, sizePx logical pixels square, rendered for dpr.
     */
    QPixmap gem(std::int16_t shape, std::int32_t color, int sizePx, qreal dpr);

    /** Pixmaps kept (each kind, colour and size once, at most Capacity). */
    int cachedCount() const { return static_cast<int>(m_cache.size()); }
    void clear() { m_cache.clear(); }

private:
    static QPixmap render(bool crash, QColor color, int sizePx, qreal dpr);

    QCache<quint64, QPixmap> m_cache;
};

} // namespace gemvolt::shell
