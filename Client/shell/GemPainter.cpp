#include "Client/shell/GemPainter.h"

#include "Common/GemCell.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace gemvolt::shell {

QColor GemPainter::toQColor(std::int32_t bgr) {
    const auto v = static_cast<std::uint32_t>(bgr);
    return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                  static_cast<int>((v >> 16) & 0xFF));
}

QPixmap GemPainter::gem(std::int16_t shape, std::int32_t color, int sizePx, qreal dpr) {
    const bool crash = shape == common::ShapeCrash;
    const auto dprKey = static_cast<quint64>(std::lround(dpr * 100.0)) & 0xFFFF;
    const quint64 key = (static_cast<quint64>(static_cast<std::uint32_t>(color)) << 32) |
                        (static_cast<quint64>(sizePx & 0x7FFF) << 17) | (dprKey << 1) |
                        (crash ? 1u : 0u);
    if (const QPixmap* cached = m_cache.object(key))
        return *cached;
    // A copy shares the pixels with the cached one; it stays valid when that one goes.
    const QPixmap pixmap = render(crash, toQColor(color), sizePx, dpr);
    m_cache.insert(key, new QPixmap(pixmap));
    return pixmap;
}

QPixmap GemPainter::render(bool crash, QColor color, int sizePx, qreal dpr) {
    const int devicePx = std::max(1, static_cast<int>(std::ceil(sizePx * dpr)));
    QPixmap pixmap(devicePx, devicePx);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    if (sizePx <= 0)
        return pixmap;

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = sizePx;
    const qreal inset = std::max<qreal>(0.5, s * 0.04);
    const QRectF body(inset, inset, s - 2 * inset, s - 2 * inset);

    QPainterPath outline;
    if (crash)
        outline.addEllipse(body);
    else
        outline.addRoundedRect(body, s * 0.2, s * 0.2);

    // Body: the gem's own colour in the middle, lighter above, darker below.
    if (crash) {
        QRadialGradient fill(body.center() - QPointF(s * 0.12, s * 0.14), s * 0.62);
        fill.setColorAt(0.0, color.lighter(150));
        fill.setColorAt(0.45, color);
        fill.setColorAt(1.0, color.darker(165));
        p.fillPath(outline, fill);
    } else {
        QLinearGradient fill(body.topLeft(), body.bottomLeft());
        fill.setColorAt(0.0, color.lighter(140));
        fill.setColorAt(0.45, color);
        fill.setColorAt(1.0, color.darker(160));
        p.fillPath(outline, fill);
        // A cut face in the middle gives the gem its facet.
        const QRectF face = body.adjusted(s * 0.2, s * 0.2, -s * 0.2, -s * 0.2);
        QLinearGradient faceFill(face.topLeft(), face.bottomRight());
        faceFill.setColorAt(0.0, color.lighter(125));
        faceFill.setColorAt(1.0, color);
        QPainterPath facePath;
        facePath.addRoundedRect(face, s * 0.08, s * 0.08);
        p.fillPath(facePath, faceFill);
    }

    // Light edge and a glint at the top left.
    QPen edge(QColor(255, 255, 255, 150), std::max<qreal>(1.0, s * 0.05));
    p.setPen(edge);
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    p.setPen(QPen(color.darker(220), std::max<qreal>(0.8, s * 0.02)));
    p.drawPath(outline);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QRectF(body.left() + s * 0.16, body.top() + s * 0.1, s * 0.26, s * 0.14));
    return pixmap;
}

} // namespace gemvolt::shell
