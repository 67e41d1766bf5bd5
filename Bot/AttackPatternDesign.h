#pragma once

#include "Bot/LevelSettings.h"
#include "Client/battle/AttackEditor.h"
#include "Client/battle/GameCore.h"

#include <array>

namespace gemvolt::bot {

/**
 * The computer's own attack patterns, one per level, and how it enters one
 * into the editor: with the mouse clicks a person would make (left clicks to
 * cycle the colour, a right click for a crash gem), never by writing the grid.
 *
 * Counter gems hurt most when they give the victim nothing to work with, so
 * the stronger levels lay colours that never touch their own kind and no
 * crash gems; the easy level keeps a few crash gems in its pattern, which its
 * opponent can use.
 */
class AttackPatternDesign {
public:
    using Grid = std::array<battle::AttackEditor::Cell, common::PatternCells>;

    /** The pattern of a level, cell k = column + row × 6, row 0 lowest. */
    static Grid forLevel(Level level);

    /** Click the editor of `game` until its grid is `grid` (Apply is left to the caller). */
    static void enterIntoEditor(battle::GameCore& game, const Grid& grid);
};

} // namespace gemvolt::bot
