#pragma once

#include <string>

namespace gemvolt::battle {

/**
 * The next-fight panel frmNxtMatch ("Game Over") as data: its visibility and
 * label texts, starting with the texts a player sees before the first fight.
 * HandleGameOver fills it; the match flow (ready marks, count-down) writes it
 * through GameCore's setters.
 */
struct NextFightPanel {
    bool frmNxtMatch = false; ///< visible
    std::string lblWinner = "<Player Name> Wins!";
    std::string lblNxtMatch = "The Next Fight will be: <Player1> Vs <Player2>";
    std::string lblP1Ready = "<Player1> Ready = <Y/N>";
    std::string lblP2Ready = "<Player2> Ready = <Y/N>";
    std::string lblCountIn = "0";

    friend bool operator==(const NextFightPanel&, const NextFightPanel&) = default;
};

} // namespace gemvolt::battle
