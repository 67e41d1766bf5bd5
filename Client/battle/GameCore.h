#pragma once

#include "Client/battle/AttackEditor.h"
#include "Client/battle/NextFightPanel.h"
#include "Client/board/Board.h"
#include "Common/GemCell.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gemvolt::battle {

/** The message shown when an editor click inside the grid matches no cell. */
inline constexpr const char* EditorNoCellMessage =
    "Sorry, I'm not good enough to figure out, which Gem you cursor is over. Therefor I'm going "
    "to give up before I crash the program.";

/**
 * The whole game of one client: the board layer (board::Board) plus what
 * happens after a landing, the counter gems, the figures, the end of a fight,
 * the attack pattern and the next-fight panel.
 *
 * Plain C++ with no Qt. Figures that the game keeps only as label texts stay
 * texts here (lblIncoming "07", lblCScore "120", lblHScore "95 - Alice"); they
 * are read back with common::numberValue. Array labels take the board index b
 * (0 = board 1, 1 = board 2).
 *
 * One instance per client; tests and the computer player make several. A copy
 * is an independent game (its random source is a copy too); call detachPorts()
 * on it before playing it forward so it neither draws, sounds, sends nor
 * pauses. All calls come from one thread; nothing here blocks except through
 * the pause port.
 *
 * Beyond the classic rules, the board-update tick sends the snapshot only
 * while the board-update timer runs and the local player still fights on the
 * board the fight started on (see board::Board for the same guard on keys and
 * the fall tick).
 */
class GameCore : public board::Board {
public:
    GameCore() = default;

    // --- label texts (read-only) ---
    /**
     * Pending counter gems against board b, at least two digits ("00" at start
     * and again at the start of every fight: what was pending in one fight was
     * meant for it, not for the next).
     */
    const std::string& lblIncoming(int b) const { return m_lblIncoming[idx(b)]; }
    const std::string& lblCCombo(int b) const { return m_lblCCombo[idx(b)]; }
    const std::string& lblCChain(int b) const { return m_lblCChain[idx(b)]; }
    const std::string& lblCScore(int b) const { return m_lblCScore[idx(b)]; }
    const std::string& lblBCombo(int b) const { return m_lblBCombo[idx(b)]; }
    const std::string& lblBChain(int b) const { return m_lblBChain[idx(b)]; }
    /** Highest figures since start: value, " - ", holder's name ("0" at start). */
    const std::string& lblHScore() const { return m_lblHScore; }
    const std::string& lblHCombo() const { return m_lblHCombo; }
    const std::string& lblHChain() const { return m_lblHChain; }

    // --- the latest flood search ---
    /** Gems the latest search found beyond the crash gem (the last record index). */
    int DestroyCount() const { return m_destroyCount; }
    const std::vector<std::int16_t>& DestroyC() const { return m_destroyC; }
    const std::vector<std::int16_t>& DestroyR() const { return m_destroyR; }

    // --- patterns, editor, panel ---
    const common::AttackPattern& OwnPattern() const { return m_ownPattern; }
    const std::vector<common::PatternEntry>& PatternTable() const { return m_patternTable; }
    const AttackEditor& attackEditor() const { return m_editor; }
    const NextFightPanel& nextFightPanel() const { return m_panel; }
    bool frmNxtMatch() const { return m_panel.frmNxtMatch; }
    const std::string& lblWinner() const { return m_panel.lblWinner; }
    const std::string& lblNxtMatch() const { return m_panel.lblNxtMatch; }
    const std::string& lblP1Ready() const { return m_panel.lblP1Ready; }
    const std::string& lblP2Ready() const { return m_panel.lblP2Ready; }
    const std::string& lblCountIn() const { return m_panel.lblCountIn; }

    // --- setters for the network layer and the match flow ---
    /** Replace every player's pattern as the server last handed them out. */
    void setPatternTable(std::vector<common::PatternEntry> table) {
        m_patternTable = std::move(table);
    }
    /** Pending-counter text of board b (raised by the counter-attack handler, mirrored from
     * snapshots). */
    void setIncoming(int b, std::string text);
    /** Score, best chain and best combo texts of board b, as another client reported them. */
    void setStatsLabels(int b, std::string score, std::string bestChain, std::string bestCombo);
    void setPanelVisible(bool visible) { m_panel.frmNxtMatch = visible; }
    void setLblWinner(std::string text) { m_panel.lblWinner = std::move(text); }
    void setLblNxtMatch(std::string text) { m_panel.lblNxtMatch = std::move(text); }
    void setLblP1Ready(std::string text) { m_panel.lblP1Ready = std::move(text); }
    void setLblP2Ready(std::string text) { m_panel.lblP2Ready = std::move(text); }
    void setLblCountIn(std::string text) { m_panel.lblCountIn = std::move(text); }
    /** Set DestroyCount before a search (the caller of DestroyerGems sets it to 0). */
    void setDestroyCount(int count);

    // --- procedures ---
    /**
     * Settle the local board after a landing: destructions with their combo,
     * figures and attack, the offset against the pending counter (sending the
     * surplus or laying what stays pending), MsgStats, the defeat test on
     * (3, 14) and the music speed. Does nothing while not fighting.
     */
    void HandleGameStatus();
    /** Depth-first flood from (dgC, dgR) of the local board: below, left, above, right. */
    void DestroyerGems(int dgC, int dgR);
    /** Remove the recorded gems in discovery order, animated, then FallGems. */
    void GetRideofGems();
    /** Lay the pending counter gems from the opponent's pattern into the top row. */
    void Incoming();
    /** Close a fight's figures: highest figures from both boards, then reset score and bests. */
    void HandleStats();
    /** End of a fight on every client: timers off, figures, panel texts, boards cleared, panel
     * shown. */
    void HandleGameOver();
    /** Editor mouse release at (x, y) twips; shift is ignored. */
    void EditorMouseUp(int button, int shift, double x, double y);
    /** Apply: the editor grid becomes OwnPattern and is sent. */
    void cmdApply_Click();
    /** One tick of the board-update timer tmrUpdate: send the own board's snapshot. */
    void BoardUpdateTick();

protected:
    void resolveLanding() override { HandleGameStatus(); }
    void fightStarting() override;

private:
    static std::size_t idx(int b) { return static_cast<std::size_t>(b); }
    void setLabelNumber(std::string& label, std::int64_t value);
    void playDestructionSound(int column);

    std::array<std::string, 2> m_lblIncoming{"00", "00"};
    std::array<std::string, 2> m_lblCCombo{"0", "0"};
    std::array<std::string, 2> m_lblCChain{"0", "0"};
    std::array<std::string, 2> m_lblCScore{"0", "0"};
    std::array<std::string, 2> m_lblBCombo{"0", "0"};
    std::array<std::string, 2> m_lblBChain{"0", "0"};
    std::string m_lblHScore = "0";
    std::string m_lblHCombo = "0";
    std::string m_lblHChain = "0";

    int m_destroyCount = 0;
    std::vector<std::int16_t> m_destroyC;
    std::vector<std::int16_t> m_destroyR;

    common::AttackPattern m_ownPattern{};
    std::vector<common::PatternEntry> m_patternTable;
    AttackEditor m_editor;
    NextFightPanel m_panel;
};

} // namespace gemvolt::battle
