#include "Bot/AttackPatternDesign.h"

namespace gemvolt::bot {

namespace {

constexpr std::array<std::int32_t, 4> ColourCycle{common::GemRed, common::GemYellow,
                                                  common::GemGreen, common::GemBlue};

int cycleIndex(std::int32_t colour) {
    for (std::size_t i = 0; i < ColourCycle.size(); ++i)
        if (ColourCycle[i] == colour)
            return static_cast<int>(i);
    return -1;
}

} // namespace

AttackPatternDesign::Grid AttackPatternDesign::forLevel(Level level) {
    Grid grid{};
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 6; ++c) {
            battle::AttackEditor::Cell& cell = grid[static_cast<std::size_t>(c + r * 6)];
            int colour = 0;
            switch (level) {
            case Level::Easy:
                // Diagonal stripes with a crash gem at each end of every other row.
                colour = (c + r) % 4;
                cell.Shape =
                    (r % 2 == 0 && (c == 0 || c == 5)) ? common::ShapeCrash : common::ShapeNormal;
                break;
            case Level::Normal:
                // Neighbours across and above differ by one step of the cycle.
                colour = (c + 3 * r) % 4;
                cell.Shape = common::ShapeNormal;
                break;
            case Level::Hard:
                // Across by two steps, above by one: no two neighbours alike and
                // no colour repeating down a column for four rows.
                colour = (2 * c + r + (c / 2)) % 4;
                cell.Shape = common::ShapeNormal;
                break;
            }
            cell.Color = ColourCycle[static_cast<std::size_t>(colour)];
        }
    }
    if (level == Level::Hard) {
        // The formula can repeat a colour where (c / 2) steps: break those ties.
        for (int r = 0; r < 6; ++r) {
            for (int c = 1; c < 6; ++c) {
                auto& left = grid[static_cast<std::size_t>(c - 1 + r * 6)];
                auto& cell = grid[static_cast<std::size_t>(c + r * 6)];
                const auto* below =
                    r > 0 ? &grid[static_cast<std::size_t>(c + (r - 1) * 6)] : nullptr;
                int i = cycleIndex(cell.Color);
                while (cell.Color == left.Color || (below && cell.Color == below->Color)) {
                    i = (i + 1) % 4;
                    cell.Color = ColourCycle[static_cast<std::size_t>(i)];
                }
            }
        }
    }
    return grid;
}

void AttackPatternDesign::enterIntoEditor(battle::GameCore& game, const Grid& grid) {
    using battle::AttackEditor;
    for (int k = 0; k < common::PatternCells; ++k) {
        const double x = AttackEditor::cellLeft(k) + AttackEditor::CellSize / 2.0;
        const double y = AttackEditor::cellTop(k) + AttackEditor::CellSize / 2.0;
        const AttackEditor::Cell& want = grid[static_cast<std::size_t>(k)];
        // At most four left clicks bring any colour round to the one wanted.
        for (int i = 0; i < 5 && game.attackEditor().Shape1(k).Color != want.Color; ++i)
            game.EditorMouseUp(AttackEditor::ButtonLeft, 0, x, y);
        if ((game.attackEditor().Shape1(k).Shape == common::ShapeCrash) !=
            (want.Shape == common::ShapeCrash))
            game.EditorMouseUp(AttackEditor::ButtonRight, 0, x, y);
    }
}

} // namespace gemvolt::bot
