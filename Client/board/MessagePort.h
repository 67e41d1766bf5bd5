#pragma once

#include "Common/GemCell.h"

#include <array>
#include <cstdint>
#include <string>

namespace gemvolt::board {

/**
 * The game's outgoing messages as typed values: the builders the game calls,
 * under their own names. The network layer encodes and sends them. A failed
 * send is the network layer's business: the game goes on either way.
 */
class MessagePort {
public:
    virtual ~MessagePort() = default;
    /** MsgNextPair: board number 1/2 and the two gems of its next pair. */
    virtual void SendNextPair(int board, std::int16_t lowerShape, std::int32_t lowerColor,
                              std::int16_t upperShape, std::int32_t upperColor) = 0;
    /** MsgCounterAttack: counter gems sent at the opponent (never 0). */
    virtual void SendCounterAttack(int count) = 0;
    /** MsgStats: board number and the numeric values of its score, best chain, best combo. */
    virtual void SendStats(int board, std::int64_t score, std::int64_t bestChain,
                           std::int64_t bestCombo) = 0;
    /** MsgGameOver: the local board has overflowed. */
    virtual void SendGameOver() = 0;
    /**
     * MsgBoardState: board number, its 90 cells in cell-index order (row 0 first,
     * column 0 first within a row) and the pending-counter text, unchanged.
     */
    virtual void SendBoardState(int board,
                                const std::array<common::GemCell, common::BoardCells>& cells,
                                const std::string& pending) = 0;
    /** MsgAttackPattern: the own pattern as just applied. */
    virtual void SendAttackPattern(const common::AttackPattern& pattern) = 0;
};

} // namespace gemvolt::board
