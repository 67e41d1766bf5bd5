#pragma once

#include "Common/GemCell.h"

#include <array>
#include <cstdint>
#include <string>

namespace gemvolt::board {

/**
 * The game's outgoing messages as typed values; the network layer encodes and
 * sends them (SendNextPair, SendCounterAttack, SendStats, SendGameOver,
 * SendBoardState, SendAttackPattern). A failed send is the network layer's
 * business: the game goes on either way.
 */
class MessagePort {
public:
    virtual ~MessagePort() = default;
    /** MsgNextPair: board number 1/2 and the two gems of its next pair. */
    virtual void sendNextPair(int board, std::int16_t lowerShape, std::int32_t lowerColor,
                              std::int16_t upperShape, std::int32_t upperColor) = 0;
    /** MsgCounterAttack: counter gems sent at the opponent (never 0). */
    virtual void sendCounterAttack(int count) = 0;
    /** MsgStats: board number and the numeric values of its score, best chain, best combo. */
    virtual void sendStats(int board, std::int64_t score, std::int64_t bestChain,
                           std::int64_t bestCombo) = 0;
    /** MsgGameOver: the local board has overflowed. */
    virtual void sendGameOver() = 0;
    /**
     * MsgBoardState: board number, its 90 cells in cell-index order (row 0 first,
     * column 0 first within a row) and the pending-counter text, unchanged.
     */
    virtual void sendBoardState(int board,
                                const std::array<common::GemCell, common::BoardCells>& cells,
                                const std::string& pending) = 0;
    /** MsgAttackPattern: the own pattern as just applied. */
    virtual void sendAttackPattern(const common::AttackPattern& pattern) = 0;
};

} // namespace gemvolt::board
