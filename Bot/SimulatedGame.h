#pragma once

#include "Client/battle/GameCore.h"

#include <cstdint>

namespace gemvolt::bot {

/** What one landing did on a simulated board, read right after its resolution. */
struct LandingRecord {
    battle::GameCore::BoardStore Board{}; ///< the own board after the resolution, before the
                                          ///< next pair enters
    std::int64_t Attack = 0;              ///< counter gems earned (before the offset)
    std::int64_t Destroyed = 0;           ///< gems destroyed
    std::int64_t PendingAfter = 0;        ///< counter gems still pending against us
    bool Lost = false;                    ///< the entry cell is taken: the fight is lost
};

/**
 * A private copy of a game to try moves on. It copies everything, the random
 * source included, so whatever it draws leaves the live game's sequence alone,
 * and it drops every port: it neither draws, sounds, sends nor pauses. Each
 * landing is resolved by the game's own rules and recorded before the next
 * pair enters.
 *
 * The game itself has no clock; the copy keeps the one thing of time that
 * steering depends on: how far off the fall timer's next tick is.
 */
class SimulatedGame : public battle::GameCore {
public:
    /** The fall timer's interval at normal speed. */
    static constexpr int FallIntervalMs = 1000;

    explicit SimulatedGame(const battle::GameCore& live);

    /** Milliseconds from now to the fall timer's next tick (a whole interval at first). */
    int nextFallTickIn() const { return m_nextFallTickIn; }
    void setNextFallTickIn(int milliseconds) { m_nextFallTickIn = milliseconds; }

    /** Landings resolved since the copy was made. */
    int landings() const { return m_landings; }
    /** The latest landing (valid once landings() > 0). */
    const LandingRecord& lastLanding() const { return m_last; }

protected:
    void resolveLanding() override;

private:
    int m_nextFallTickIn = FallIntervalMs;
    int m_landings = 0;
    LandingRecord m_last;
};

} // namespace gemvolt::bot
