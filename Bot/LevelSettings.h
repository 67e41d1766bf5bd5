#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace gemvolt::bot {

/** How well the computer plays. */
enum class Level { Easy, Normal, Hard };

/** The weights of the board evaluation; a zero weight switches a term off. */
struct EvaluationWeights {
    double Attack = 0;      ///< per counter gem earned by a landing
    double Destroyed = 0;   ///< per gem destroyed (also those that only cancel pending gems)
    double Height = 0;      ///< per gem of the stack (sum of column heights)
    double MaxHeight = 0;   ///< per row of the tallest column
    double Bumpiness = 0;   ///< per row of difference between neighbouring columns
    double Holes = 0;       ///< per empty cell with a gem above it
    double Groups = 0;      ///< per same-coloured neighbour pair (material for crash gems)
    double CrashNear = 0;   ///< per crash gem with its colour one cell away, ready to be fed
    double BuriedCrash = 0; ///< per gem stacked on a crash gem that has no partner yet
    double EntryDanger = 0; ///< the steep penalty of a tall column 3
    double Pending = 0;     ///< per counter gem still pending against us after the landing
};

/**
 * Everything a level changes: how fast the computer presses keys, whether it
 * looks at the next pair, and how well it judges a board. Times are at normal
 * speed; fast sessions divide them.
 *
 * Every level steers its pair into place and then presses Down at its key
 * pace until the pair lands, as a person does who knows where the pair goes:
 * waiting for the timer would leave the fight empty for a minute, and the
 * level shows in how quickly it thinks and presses, not in idling.
 */
struct LevelSettings {
    Level Which = Level::Normal;
    int ThinkMs = 400;      ///< from a new pair to its first key
    int KeyDelayMs = 200;   ///< between two keys, Down included
    bool LookAhead = false; ///< also place the next pair before choosing
    double Noise = 0;       ///< random spread added to every evaluation (misjudgement)
    EvaluationWeights Weights;

    /** The settings of a level. */
    static LevelSettings forLevel(Level level);
};

/** "easy", "normal" or "hard"; nothing for any other text. */
std::optional<Level> parseLevel(std::string_view text);
/** The level's name as the command line spells it. */
std::string levelName(Level level);

} // namespace gemvolt::bot
