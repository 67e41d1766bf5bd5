#include "Client/battle/AttackEditor.h"

namespace gemvolt::battle {

AttackEditor::ClickResult AttackEditor::click(int button, double x, double y, int* hitCell) {
    if (hitCell)
        *hitCell = -1;
    const int last = common::PatternCells - 1;
    const bool inGrid = x >= cellLeft(0) && x <= cellLeft(5) + CellSize && y >= cellTop(30) &&
                        y <= cellTop(0) + CellSize;
    if (!inGrid)
        return ClickResult::Outside;
    int found = -1;
    for (int k = 0; k <= last; ++k) {
        // Edges belong to the cell, and in a shared band the lower number wins.
        if (cellLeft(k) <= x && x <= cellLeft(k) + CellSize && cellTop(k) <= y &&
            y <= cellTop(k) + CellSize) {
            found = k;
            break;
        }
    }
    if (found < 0)
        return ClickResult::NoCell;
    if (hitCell)
        *hitCell = found;
    Cell& cell = m_cells[static_cast<std::size_t>(found)];
    if (button == ButtonLeft) {
        switch (cell.Color) {
        case common::GemRed:
            cell.Color = common::GemYellow;
            break;
        case common::GemYellow:
            cell.Color = common::GemGreen;
            break;
        case common::GemGreen:
            cell.Color = common::GemBlue;
            break;
        default:
            cell.Color = common::GemRed;
            break;
        }
        return ClickResult::Changed;
    }
    if (button == ButtonRight) {
        cell.Shape = cell.Shape == common::ShapeCrash ? common::ShapeNormal : common::ShapeCrash;
        return ClickResult::Changed;
    }
    return ClickResult::Unchanged;
}

} // namespace gemvolt::battle
