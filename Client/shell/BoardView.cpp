#include "Client/shell/BoardView.h"

#include "Client/shell/Twips.h"
#include "Common/GemCell.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace gemvolt::shell {

namespace {

// Designed positions, in twips, of the cell widgets.
constexpr int BoardLeft[2] = {240, 7080};
constexpr int Pitch = 480;
constexpr int BottomRowTop = 7560;
constexpr int TopRowTop = 840;
constexpr int NextLeft[4] = {3390, 3390, 6300, 6300};
constexpr int NextTop[4] = {1320, 840, 1320, 840};
constexpr int WellMargin = 75;

QRect wellTwips(int b) {
    return QRect(BoardLeft[b] - WellMargin, TopRowTop - WellMargin,
                 5 * Pitch + BoardView::CellTwips + 2 * WellMargin,
                 14 * Pitch + BoardView::CellTwips + 2 * WellMargin);
}

QRect nextWellTwips(int b) {
    const int i = b * 2;
    return QRect(NextLeft[i] - WellMargin, NextTop[i + 1] - WellMargin,
                 BoardView::CellTwips + 2 * WellMargin,
                 Pitch + BoardView::CellTwips + 2 * WellMargin);
}

} // namespace

BoardView::BoardView(QWidget* parent) : QWidget(parent) {
    setObjectName("BoardView");
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_naturalScale = Twips::pixelsPerTwip(this);
    m_scale = m_naturalScale;
    setMinimumSize(DesignWidth * m_naturalScale / 2, DesignHeight * m_naturalScale / 2);
}

QSize BoardView::sizeHint() const {
    return QSize(static_cast<int>(std::lround(DesignWidth * m_naturalScale)),
                 static_cast<int>(std::lround(DesignHeight * m_naturalScale)));
}

const BoardView::Cell& BoardView::cell(int boardIndex, int cellIndex) const {
    return m_cells[static_cast<std::size_t>(boardIndex)][static_cast<std::size_t>(cellIndex)];
}

void BoardView::drawCell(int boardIndex, int cellIndex, std::int16_t shape, std::int32_t color,
                         bool visible) {
    if (boardIndex < 0 || boardIndex > 1 || cellIndex < 0 || cellIndex >= 90)
        return;
    Cell& c = m_cells[static_cast<std::size_t>(boardIndex)][static_cast<std::size_t>(cellIndex)];
    const Cell next{shape, color, visible};
    // A hidden cell looks the same whatever stale gem it carries.
    const bool looksSame = c == next || (!c.visible && !visible);
    c = next;
    if (!looksSame)
        markDirty(cellRect(boardIndex, cellIndex));
}

void BoardView::drawNextGem(int index, std::int16_t shape, std::int32_t color) {
    if (index < 0 || index > 3)
        return;
    Cell& c = m_next[static_cast<std::size_t>(index)];
    const Cell next{shape, color, shape == common::ShapeNormal || shape == common::ShapeCrash};
    if (c == next)
        return;
    c = next;
    markDirty(nextGemRect(index));
}

void BoardView::repaint() {
    if (m_beforeRepaint)
        m_beforeRepaint();
    if (m_dirty.isEmpty())
        return;
    const QRegion dirty = m_dirty;
    m_dirty = QRegion();
    QWidget::repaint(dirty);
}

void BoardView::markDirty(const QRect& rect) {
    m_dirty += rect;
    update(rect);
}

void BoardView::place(QWidget* child, int left, int top, int width, int height) {
    m_placed.push_back({child, QRect(left, top, width, height), child->font().pointSizeF()});
    relayout();
}

QRect BoardView::toPixels(int left, int top, int width, int height) const {
    const int x0 = m_origin.x() + static_cast<int>(std::lround(left * m_scale));
    const int y0 = m_origin.y() + static_cast<int>(std::lround(top * m_scale));
    const int x1 = m_origin.x() + static_cast<int>(std::lround((left + width) * m_scale));
    const int y1 = m_origin.y() + static_cast<int>(std::lround((top + height) * m_scale));
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

QRect BoardView::cellRect(int boardIndex, int cellIndex) const {
    const int c = cellIndex % 6;
    const int r = cellIndex / 6;
    return toPixels(BoardLeft[boardIndex] + Pitch * c, BottomRowTop - Pitch * r, CellTwips,
                    CellTwips);
}

QRect BoardView::nextGemRect(int index) const {
    return toPixels(NextLeft[index], NextTop[index], CellTwips, CellTwips);
}

void BoardView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void BoardView::relayout() {
    const double sx = width() / static_cast<double>(DesignWidth);
    const double sy = height() / static_cast<double>(DesignHeight);
    m_scale = std::max(1e-4, std::min(sx, sy));
    m_origin = QPoint(static_cast<int>((width() - DesignWidth * m_scale) / 2),
                      static_cast<int>((height() - DesignHeight * m_scale) / 2));
    const qreal fontFactor = m_scale / m_naturalScale;
    for (const Placed& p : m_placed) {
        p.widget->setGeometry(
            toPixels(p.twips.x(), p.twips.y(), p.twips.width(), p.twips.height()));
        if (p.basePointSize > 0) {
            QFont f = p.widget->font();
            f.setPointSizeF(std::max<qreal>(5.0, p.basePointSize * fontFactor));
            p.widget->setFont(f);
        }
    }
    m_background = QPixmap();
    m_dirty = QRegion();
    update();
}

void BoardView::renderBackground() {
    const qreal dpr = devicePixelRatioF();
    m_background = QPixmap(static_cast<int>(std::ceil(width() * dpr)),
                           static_cast<int>(std::ceil(height() * dpr)));
    m_background.setDevicePixelRatio(dpr);
    QPainter p(&m_background);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0.0, QColor(28, 30, 58));
    sky.setColorAt(1.0, QColor(10, 11, 24));
    p.fillRect(rect(), sky);

    auto drawWell = [&](const QRect& twips, bool grid, int left) {
        const QRectF r = toPixels(twips.x(), twips.y(), twips.width(), twips.height());
        const qreal radius = 150 * m_scale;
        QPainterPath path;
        path.addRoundedRect(r, radius, radius);
        QLinearGradient fill(r.topLeft(), r.bottomLeft());
        fill.setColorAt(0.0, QColor(20, 22, 40));
        fill.setColorAt(1.0, QColor(6, 7, 16));
        p.fillPath(path, fill);
        if (grid) {
            p.setPen(QPen(QColor(255, 255, 255, 18), 1));
            for (int c = 1; c < 6; ++c) {
                const qreal x =
                    m_origin.x() + (left + Pitch * c + (CellTwips - Pitch) / 2.0) * m_scale;
                p.drawLine(QPointF(x, r.top() + 2), QPointF(x, r.bottom() - 2));
            }
            for (int row = 1; row < 15; ++row) {
                const qreal y =
                    m_origin.y() + (TopRowTop + Pitch * row + (CellTwips - Pitch) / 2.0) * m_scale;
                p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
            }
        }
        p.setPen(QPen(QColor(120, 140, 220, 140), std::max<qreal>(1.0, 20 * m_scale)));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    drawWell(wellTwips(0), true, BoardLeft[0]);
    drawWell(wellTwips(1), true, BoardLeft[1]);
    drawWell(nextWellTwips(0), false, 0);
    drawWell(nextWellTwips(1), false, 0);

    // The entry cell at the top of column 3: filling it loses the fight.
    p.setPen(QPen(QColor(255, 90, 90, 110), std::max<qreal>(1.0, 15 * m_scale), Qt::DashLine));
    for (int b = 0; b < 2; ++b)
        p.drawRoundedRect(QRectF(cellRect(b, 14 * 6 + 3)).adjusted(1, 1, -1, -1), 4, 4);
}

void BoardView::paintGem(QPainter& p, const QRect& rect, const Cell& c, const QRect& exposed) {
    if (!c.visible || !rect.intersects(exposed))
        return;
    p.drawPixmap(rect.topLeft(), m_gems.gem(c.shape, c.color, rect.width(), devicePixelRatioF()));
}

void BoardView::paintEvent(QPaintEvent* event) {
    if (m_background.isNull() || m_background.deviceIndependentSize().toSize() != size())
        renderBackground();
    QPainter p(this);
    const QRect exposed = event->rect();
    for (const QRect& r : event->region())
        p.drawPixmap(r, m_background,
                     QRectF(r.topLeft() * m_background.devicePixelRatio(),
                            r.size() * m_background.devicePixelRatio()));
    for (int b = 0; b < 2; ++b)
        for (int k = 0; k < 90; ++k)
            paintGem(p, cellRect(b, k),
                     m_cells[static_cast<std::size_t>(b)][static_cast<std::size_t>(k)], exposed);
    for (int i = 0; i < 4; ++i)
        paintGem(p, nextGemRect(i), m_next[static_cast<std::size_t>(i)], exposed);
}

} // namespace gemvolt::shell
