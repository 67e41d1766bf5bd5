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
    bool Pays = false;   ///< the chosen landing earns counter gems beyond what is pending
};

/**
 * Chooses where the falling pair goes. Every placement is played out on a
 * private copy of the game with the same keys at the same pace the player
 * will use and the fall ticks in between, and resolved by the game's own
 * rules (crash gems, combos, counter gems pending against us). The board that
 * results is judged; with look-ahead, the best placement of the next pair
 * that follows it counts instead. The live game is only read.
 */
class PlacementSearch {
public:
    /** The fall timer's interval at normal speed. */
    static constexpr int FallIntervalMs = 1000;

    explicit PlacementSearch(LevelSettings settings, std::uint32_t seed = 1);

    /** The best placement for the pair that has just entered the live game. */
    SearchResult choose(const battle::GameCore& live);

    /**
     * Play one placement on `game` (its pair just entered) as the player would,
     * until the pair has landed (with `drop`, pressing Down once it is in place).
     * False if the fight stopped first.
     */
    static bool playOut(SimulatedGame& game, const Placement& target, const LevelSettings& settings,
                        bool drop = false);

    const LevelSettings& settings() const { return m_settings; }

private:
    double judge(const LandingRecord& landing);

    LevelSettings m_settings;
    std::mt19937 m_noise;
    int m_simulations = 0;
};

} // namespace gemvolt::bot
