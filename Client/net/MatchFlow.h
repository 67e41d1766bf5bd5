#pragma once

#include "Client/battle/GameCore.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace gemvolt::net {

/** The message of the Ready button with fewer than two players. */
inline constexpr const char* WaitForPlayersMessage = "Please, wait for more Players.";

/**
 * The course from one fight to the next on one client: the Ready button, the
 * ready marks, the count-down, the standings rule and the end of a fight, on
 * the next-fight panel that the core keeps.
 *
 * Readiness is a flag per board beside its label, not read back from the
 * label, so any name can be ready. The flags belong to one pairing (the
 * identifiers of rows 0 and 1): a new pairing and the game-over fill clear
 * them. Marks count only while no fight runs on this client (from InitGame at
 * the end of the count-down to the game-over fill).
 */
class MatchFlow {
public:
    /** The two identifiers of the next fight; -1 for a row that does not exist. */
    using Pairing = std::pair<std::int64_t, std::int64_t>;

    explicit MatchFlow(battle::GameCore& core) : m_core(core) {}

    /** How the Ready button sends MsgReady (the builder SendReady). */
    void setReadySender(std::function<void()> sendReady) { m_sendReady = std::move(sendReady); }

    /** The Ready button: nothing for a watcher, a notice with one player, else MsgReady. */
    void RdyButton_Click();

    /**
     * A relayed MsgReady from `sender`: marks board 1 or 2 ready and, when both
     * are, puts the count at "3" and starts the count-down. A sender on neither
     * board, or a mark during a fight, changes nothing.
     */
    void MarkReady(std::int64_t sender);

    /** After the player table was rewritten from standings: flags, panel and texts. */
    void AfterStandings();

    /** The server's end of a fight: the core's game-over fill, and a fresh pair of flags. */
    void GameOver();

    /** One tick of tmrCountDown: counts down, and at 0 starts the fight and hides the panel. */
    void CountDownTick();

    /** A new session: no fight runs here any more and nothing is marked ready. */
    void Reset();

    /**
     * True the first time per fight that an odd message must be reported, so a
     * flood of them shows one box.
     */
    bool takeStrangeNotice();

    bool P1Ready() const { return m_ready[0]; }
    bool P2Ready() const { return m_ready[1]; }
    /** True from InitGame to the game-over fill. */
    bool FightRunning() const { return m_fightRunning; }
    /** The pairing of rows 0 and 1 of the player table now. */
    Pairing currentPairing() const;

private:
    void showMessage(const std::string& text);
    void writeReadyLabels(const Pairing& pairing);

    battle::GameCore& m_core;
    std::function<void()> m_sendReady;
    std::array<bool, 2> m_ready{false, false};
    Pairing m_readyPairing{-1, -1};
    std::optional<Pairing> m_shownPairing;
    bool m_fightRunning = false;
    bool m_strangeShown = false;
};

} // namespace gemvolt::net
