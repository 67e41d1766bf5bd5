#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace gemvolt::common {

/** A gem's kind, as the outline code of the widget that draws it. */
enum GemShape : std::int16_t {
    ShapeNone = 0,   ///< no gem (the value after clearing)
    ShapeCrash = 3,  ///< crash gem, drawn as a circle
    ShapeNormal = 4, ///< normal gem, drawn as a rounded rectangle
};

/** The four gem colours, as 0x00BBGGRR values (red in the low byte). */
inline constexpr std::int32_t GemRed = 255;       // 0x0000FF
inline constexpr std::int32_t GemYellow = 65535;  // 0x00FFFF
inline constexpr std::int32_t GemGreen = 49152;   // 0x00C000
inline constexpr std::int32_t GemBlue = 16744576; // 0xFF8080, light blue

/** Board geometry: 6 columns (0 left .. 5 right) by 15 rows (0 bottom .. 14 top). */
inline constexpr int BoardColumns = 6;
inline constexpr int BoardRows = 15;
inline constexpr int BoardCells = BoardColumns * BoardRows;

/**
 * One cell of a board or of an attack pattern. Only Occupied tells whether the
 * cell holds a gem: a gem that moves away leaves its Shape and Color behind.
 */
struct GemCell {
    bool Occupied = false;
    std::int16_t Shape = ShapeNone;
    std::int16_t CellIndex = 0; ///< row × 6 + column on a board; column + row × 6 in a pattern
    std::int32_t Color = 0;

    friend bool operator==(const GemCell&, const GemCell&) = default;
};

/** Pattern geometry: 6 columns by 6 rows, row 0 at the bottom; index column + row × 6. */
inline constexpr int PatternColumns = 6;
inline constexpr int PatternRows = 6;
inline constexpr int PatternCells = PatternColumns * PatternRows;

/** A player's counter-gem layout, 36 cells, index column + row × 6. */
using AttackPattern = std::array<GemCell, PatternCells>;

/** One player's pattern as the server last handed it out. */
struct PatternEntry {
    std::string PlayerId; ///< the owner's identifier text (plain decimal)
    AttackPattern Cells{};

    friend bool operator==(const PatternEntry&, const PatternEntry&) = default;
};

} // namespace gemvolt::common
