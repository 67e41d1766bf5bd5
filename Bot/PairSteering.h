#pragma once

#include "Client/board/Board.h"

#include <optional>

namespace gemvolt::bot {

/** Where element 0 (the gem that rotates) sits beside element 1 (the pivot). */
enum class Orientation { Below = 0, Right = 1, Above = 2, Left = 3 };

/** A resting place for the falling pair: element 1's column and element 0's side. */
struct Placement {
    Orientation Side = Orientation::Below;
    int Column = 3; ///< element 1's column

    friend bool operator==(const Placement&, const Placement&) = default;
};

/**
 * Steers the falling pair to a placement with the keys a person would press,
 * reading the pair afresh before every key, so a fall tick between two keys
 * changes nothing about the way there. Rotation comes first, then the side
 * moves; at the top row the pivot cannot have its partner above it, so that
 * side waits for one Down.
 */
class PairSteering {
public:
    /** Every placement on an open board: 6 upright each way, 5 lying each way. */
    static const std::array<Placement, 22>& allPlacements();

    /** Where the falling pair of board index b is now. */
    static Orientation orientation(const board::Board& game);

    /**
     * The next key towards `target` (37, 38, 39), KeyCodeDown when the pair
     * needs a step down first, or nothing when it is in place.
     */
    static std::optional<int> nextKey(const board::Board& game, const Placement& target);
};

} // namespace gemvolt::bot
