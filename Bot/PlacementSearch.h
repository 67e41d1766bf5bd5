#pragma once

#include "Bot/LevelSettings.h"
#include "Bot/PairSteering.h"
#include "Bot/SimulatedGame.h"

#include <cstdint>
#include <random>

namespace gemvolt::bot {

/** The choice for one pair. */
struct SearchResult {
    Placement Best;
    double Value = 0;
    int Simulations = 0; ///< placements played out on copies
    bool Found = false;  ///< false when no pair was under control
};

/**
 * Chooses where the falling pair goes. Every placement is played out on a
 * private copy of the game with the same keys at the same pace the player
 * will use (steering, then Down until it lands) and the fall ticks in
 * between, and resolved by the game's own
 * rules (crash gems, combos, counter gems pending against us). The board that
 * results is judged; with look-ahead, the best placement of the next pair
 * that follows it counts instead. The live game is only read.
 */
class PlacementSearch {
public:
    /** The fall timer's interval at normal speed. */
    static constexpr int FallIntervalMs = SimulatedGame::FallIntervalMs;

    explicit PlacementSearch(LevelSettings settings, std::uint32_t seed = 1);

    /**
     * The best placement for the pair that has just entered the live game,
     * whose fall timer ticks next in `nextFallTickIn` ms (normal speed): a pair
     * that entered on a tick has a whole interval, one that entered on a Down
     * key less.
     */
    SearchResult choose(const battle::GameCore& live, int nextFallTickIn = FallIntervalMs);

    /**
     * Play one placement on `game` (its pair just entered) as the player would:
     * steer it, then press Down at the key pace until it has landed, the fall
     * timer ticking in between from game.nextFallTickIn(), which is left at
     * the time from the landing to the next tick. False if the fight stopped first.
     */
    static bool playOut(SimulatedGame& game, const Placement& target,
                        const LevelSettings& settings);

    const LevelSettings& settings() const { return m_settings; }

private:
    double judge(const LandingRecord& landing);

    LevelSettings m_settings;
    std::mt19937 m_noise;
    int m_simulations = 0;
};

} // namespace gemvolt::bot
