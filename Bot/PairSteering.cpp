#include "Bot/PairSteering.h"

namespace gemvolt::bot {

const std::array<Placement, 22>& PairSteering::allPlacements() {
    static const std::array<Placement, 22> all = [] {
        std::array<Placement, 22> list{};
        std::size_t i = 0;
        for (int c = 0; c < 6; ++c) {
            list[i++] = {Orientation::Below, c};
            list[i++] = {Orientation::Above, c};
        }
        for (int c = 0; c < 5; ++c)
            list[i++] = {Orientation::Right, c};
        for (int c = 1; c < 6; ++c)
            list[i++] = {Orientation::Left, c};
        return list;
    }();
    return all;
}

Orientation PairSteering::orientation(const board::Board& game) {
    const int c0 = game.PairC(0), c1 = game.PairC(1);
    if (c0 < c1)
        return Orientation::Left;
    if (c0 > c1)
        return Orientation::Right;
    return game.PairR(0) <= game.PairR(1) ? Orientation::Below : Orientation::Above;
}

std::optional<int> PairSteering::nextKey(const board::Board& game, const Placement& target) {
    if (orientation(game) != target.Side) {
        // Nothing fits above a pivot in the top row: one step down first.
        if (target.Side == Orientation::Above && game.PairR(1) >= board::EntryRow)
            return board::KeyCodeDown;
        return board::KeyCodeUp;
    }
    if (game.PairC(1) < target.Column)
        return board::KeyCodeRight;
    if (game.PairC(1) > target.Column)
        return board::KeyCodeLeft;
    return std::nullopt;
}

} // namespace gemvolt::bot
