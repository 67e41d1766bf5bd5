#pragma once

#include "Bot/LevelSettings.h"
#include "Bot/SimulatedGame.h"

#include <array>

namespace gemvolt::bot {

/** The features of a settled board that the evaluation weighs. */
struct BoardFeatures {
    std::array<int, 6> Heights{}; ///< rows filled per column, counted from the floor
    int TotalHeight = 0;
    int MaxHeight = 0;
    int Bumpiness = 0;
    int Holes = 0;
    int Groups = 0;
    int CrashNear = 0;
    int BuriedCrash = 0;
    int EntryDanger = 0;
};

/**
 * Judges a board after a landing: low, even stacks with column 3 kept clear,
 * same-coloured gems side by side and crash gems that can be fed soon are
 * good; counter gems earned are better still; a lost board is the worst.
 */
class BoardEvaluator {
public:
    /** A lost board's value, far below anything a playable board scores. */
    static constexpr double LostValue = -1.0e9;

    static BoardFeatures features(const battle::GameCore::BoardStore& cells);
    /** The value of the board alone. */
    static double boardValue(const battle::GameCore::BoardStore& cells,
                             const EvaluationWeights& weights);
    /** What the landing itself earned: counter gems, destroyed gems, what stays pending. */
    static double landingGain(const LandingRecord& landing, const EvaluationWeights& weights);
    /** Gain plus board value, or LostValue. */
    static double value(const LandingRecord& landing, const EvaluationWeights& weights);
};

} // namespace gemvolt::bot
