#include "tests/support/BoardText.h"

#include <cctype>
#include <stdexcept>

namespace gemvolt::testing {

namespace {

constexpr const char* Letters = "rygb";

int colorSlot(std::int32_t color) {
    switch (color) {
    case common::GemRed:
        return 0;
    case common::GemYellow:
        return 1;
    case common::GemGreen:
        return 2;
    case common::GemBlue:
        return 3;
    default:
        return -1;
    }
}

} // namespace

char gemLetter(const common::GemCell& cell) {
    if (!cell.Occupied)
        return '.';
    const int slot = colorSlot(cell.Color);
    if (slot < 0)
        return '?';
    if (cell.Shape == common::ShapeNormal)
        return Letters[slot];
    if (cell.Shape == common::ShapeCrash)
        return static_cast<char>(std::toupper(Letters[slot]));
    return '?';
}

common::GemCell gemFromLetter(char letter) {
    static constexpr std::int32_t colors[] = {common::GemRed, common::GemYellow, common::GemGreen,
                                              common::GemBlue};
    common::GemCell cell;
    if (letter == '.')
        return cell;
    const char lower = static_cast<char>(std::tolower(letter));
    for (int slot = 0; slot < 4; ++slot) {
        if (Letters[slot] == lower) {
            cell.Occupied = true;
            cell.Color = colors[slot];
            cell.Shape = lower == letter ? common::ShapeNormal : common::ShapeCrash;
            return cell;
        }
    }
    throw std::invalid_argument(std::string("not a gem letter: ") + letter);
}

std::string boardText(const board::Board& game, int b) {
    std::string text;
    for (int r = common::BoardRows - 1; r >= 0; --r) {
        for (int c = 0; c < common::BoardColumns; ++c)
            text += gemLetter(game.Grids(b, c, r));
        text += '\n';
    }
    return text;
}

void loadBoard(board::Board& game, int b, const std::string& text) {
    std::string letters;
    for (char ch : text)
        if (!std::isspace(static_cast<unsigned char>(ch)))
            letters += ch;
    if (letters.size() != static_cast<std::size_t>(common::BoardCells))
        throw std::invalid_argument("a board text needs 90 letters");
    std::size_t i = 0;
    for (int r = common::BoardRows - 1; r >= 0; --r)
        for (int c = 0; c < common::BoardColumns; ++c)
            game.writeCell(b, c, r, gemFromLetter(letters[i++]));
}

} // namespace gemvolt::testing
