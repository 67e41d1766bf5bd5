#pragma once

#include "Common/GemCell.h"

#include <array>
#include <cstdint>

namespace gemvolt::battle {

/**
 * The attack pattern editor's grid as data: 36 cells (Shape1 elements), element
 * k drawing pattern cell (k mod 6, k div 6), row 0 lowest. Each starts as a red
 * normal gem. Geometry in twips: a cell is 495 × 495, its left edge at
 * 480 + 480 × column and its top edge at 3240 − 480 × row, so neighbours share
 * a 15-twip band. The editor only changes this grid; Apply (GameCore) makes it
 * the own pattern.
 */
class AttackEditor {
public:
    /** One Shape1 element: its outline shape and fill colour. */
    struct Cell {
        std::int16_t Shape = common::ShapeNormal;
        std::int32_t Color = common::GemRed;
        friend bool operator==(const Cell&, const Cell&) = default;
    };

    /** What a click did. */
    enum class ClickResult {
        Outside,   ///< outside the grid: nothing happens
        NoCell,    ///< inside the grid but no cell contains the point
        Changed,   ///< a cell changed colour or kind
        Unchanged, ///< a cell was hit with a button that changes nothing
    };

    static constexpr int ButtonLeft = 1;
    static constexpr int ButtonRight = 2;
    static constexpr int CellSize = 495;
    static constexpr int Pitch = 480;
    static constexpr int GridLeft = 480;
    static constexpr int BottomRowTop = 3240;

    /** Left edge of element k in twips. */
    static int cellLeft(int k) { return GridLeft + Pitch * (k % 6); }
    /** Top edge of element k in twips. */
    static int cellTop(int k) { return BottomRowTop - Pitch * (k / 6); }

    const Cell& Shape1(int k) const { return m_cells[static_cast<std::size_t>(k)]; }

    /**
     * A mouse button released at (x, y) twips. The point must lie in the grid;
     * the first element (from 0 up) whose rectangle contains it, edges
     * included, is changed: button 1 cycles red → yellow → green → blue → red
     * (any other colour becomes red), button 2 toggles crash/normal. The cell
     * found is returned through hitCell (−1 when none).
     */
    ClickResult click(int button, double x, double y, int* hitCell = nullptr);

    /** Put every cell back to a red normal gem. */
    void reset() { m_cells.fill(Cell{}); }

private:
    std::array<Cell, common::PatternCells> m_cells{};
};

} // namespace gemvolt::battle
