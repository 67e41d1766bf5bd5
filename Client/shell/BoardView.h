#pragma once

#include "Client/board/DrawPort.h"
#include "Client/shell/GemPainter.h"

#include <QPixmap>
#include <QRegion>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace gemvolt::shell {

/**
 * The play area of the main window: both boards, the four next-pair cells and
 * every child widget placed at its designed twips position, scaled together
 * with the window so the layout stays as designed.
 *
 * It is the game's drawing port: a cell widget is a record here, not a child
 * widget, and a change repaints only that cell. Gems come from a pixmap cache;
 * the background with its wells and grid is drawn once per size.
 */
class BoardView : public QWidget, public board::DrawPort {
    Q_OBJECT
public:
    /** Designed size of the play area, in twips. */
    static constexpr int DesignWidth = 10215;
    static constexpr int DesignHeight = 8640;
    static constexpr int CellTwips = 495;

    explicit BoardView(QWidget* parent = nullptr);

    /** What one cell widget shows. */
    struct Cell {
        std::int16_t shape = 0;
        std::int32_t color = 0;
        bool visible = false;
        friend bool operator==(const Cell&, const Cell&) = default;
    };

    // board::DrawPort
    void drawCell(int boardIndex, int cellIndex, std::int16_t shape, std::int32_t color,
                  bool visible) override;
    void drawNextGem(int index, std::int16_t shape, std::int32_t color) override;
    void repaint() override;

    /** Run before every immediate repaint, to bring the labels up to date first. */
    void setBeforeRepaint(std::function<void()> hook) { m_beforeRepaint = std::move(hook); }

    /** Place a child widget at a rectangle given in design twips; its font scales too. */
    void place(QWidget* child, int left, int top, int width, int height);

    /** The cell as drawn: board index 0/1, cell index row × 6 + column. */
    const Cell& cell(int boardIndex, int cellIndex) const;
    const Cell& nextGem(int index) const { return m_next[static_cast<std::size_t>(index)]; }

    /** Pixel rectangle of a board cell widget / next-pair cell widget at the current size. */
    QRect cellRect(int boardIndex, int cellIndex) const;
    QRect nextGemRect(int index) const;
    /** A rectangle in design twips as pixels at the current size. */
    QRect toPixels(int left, int top, int width, int height) const;
    /** Pixels per twip at the current size. */
    double scale() const { return m_scale; }

    QSize sizeHint() const override;
    const GemPainter& gemPainter() const { return m_gems; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Placed {
        QWidget* widget;
        QRect twips;
        qreal basePointSize;
    };

    void relayout();
    void markDirty(const QRect& rect);
    void renderBackground();
    void paintGem(QPainter& p, const QRect& rect, const Cell& cell, const QRect& exposed);

    std::array<std::array<Cell, 90>, 2> m_cells{};
    std::array<Cell, 4> m_next{};
    std::vector<Placed> m_placed;
    GemPainter m_gems;
    QPixmap m_background;
    QRegion m_dirty;
    double m_scale = 1.0 / 15.0;
    double m_naturalScale = 1.0 / 15.0;
    QPoint m_origin;
    std::function<void()> m_beforeRepaint;
};

} // namespace gemvolt::shell
