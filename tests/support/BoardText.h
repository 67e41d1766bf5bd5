#pragma once

#include "Client/board/Board.h"

#include <string>

namespace gemvolt::testing {

/**
 * Boards written as text: 15 lines of 6 letters, the top row (14) first, so a
 * board reads as it looks. '.' is an empty cell; r y g b are normal gems and
 * R Y G B crash gems of red, yellow, green, blue. Blanks and newlines between
 * cells are ignored.
 */
std::string boardText(const board::Board& game, int b);

/** Write a board text into board index b of the store (CellIndex stays, nothing drawn). */
void loadBoard(board::Board& game, int b, const std::string& text);

/** The letter of one gem (as above); '?' for a code outside the game's eight gems. */
char gemLetter(const common::GemCell& cell);

/** A gem from its letter (an empty cell for '.'). */
common::GemCell gemFromLetter(char letter);

} // namespace gemvolt::testing
