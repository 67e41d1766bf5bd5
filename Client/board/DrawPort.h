#pragma once

#include <cstdint>

namespace gemvolt::board {

/**
 * Draws what the core holds. The core calls it whenever a cell widget would
 * change; the shell maps a board cell to P1Gem/P2Gem and a next-pair cell to
 * NextGem. Calls are cheap notifications: they must not call back into the core.
 */
class DrawPort {
public:
    virtual ~DrawPort() = default;
    /**
     * Board cell widget: boardIndex 0 (P1Gem) or 1 (P2Gem), cellIndex row × 6 +
     * column. A hidden cell may carry the stale shape and colour of a gem that
     * left, exactly as the store holds them.
     */
    virtual void drawCell(int boardIndex, int cellIndex, std::int16_t shape, std::int32_t color,
                          bool visible) = 0;
    /** Next-pair cell NextGem(index), index 0..3 (0/1 board 1 lower/upper, 2/3 board 2). */
    virtual void drawNextGem(int index, std::int16_t shape, std::int32_t color) = 0;
    /** Repaint the window now, so an animation step shows during the pause that follows. */
    virtual void repaint() = 0;
};

} // namespace gemvolt::board
