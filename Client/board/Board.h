#pragma once

#include "Client/board/NextGemCell.h"
#include "Client/board/PlayerTable.h"
#include "Client/board/Ports.h"
#include "Client/board/RandomSource.h"
#include "Common/GemCell.h"

#include <array>
#include <cstdint>
#include <string>

namespace gemvolt::board {

/** Virtual-key codes of the four control keys. */
inline constexpr int KeyCodeLeft = 37;
inline constexpr int KeyCodeUp = 38;
inline constexpr int KeyCodeRight = 39;
inline constexpr int KeyCodeDown = 40;

/** Entry cells of every new pair: element 1 (the pivot) on top, element 0 below. */
inline constexpr int EntryColumn = 3;
inline constexpr int EntryRow = 14;

/** The pause after every animated gem, in milliseconds. */
inline constexpr int AnimationPauseMs = 75;

/**
 * Board and piece play of one client: the board store of both boards, the
 * falling and next pairs, the fighters' name labels, the player table with the
 * local identifier, the timers' enabled flags and the random source, with the
 * procedures that play the local board. Every call comes from the one thread
 * that runs the game; nothing here locks.
 *
 * Plain C++ with no Qt: texts are UTF-8 std::string. The outside is reached
 * only through Ports; a null port does nothing.
 *
 * A copy is an independent game: it copies the store, the tables and the
 * random source's position, so drawing on a copy never advances the original.
 * Copies share the original's ports until detachPorts() drops them. Copy the
 * most derived type (battle::GameCore): the landing hook is virtual.
 *
 * What happens after a pair has landed belongs to the layer above, which
 * overrides resolveLanding(); here a landing resolves nothing.
 *
 * Guards: the fall tick and the Left, Right and Up
 * keys act only while the fall timer is enabled and while whatPlayer() still
 * equals FightBoard(), the board the fight started on (fixed by InitGame).
 * After a fight, or when the player table moves the local player to another
 * board mid-fight, they do nothing, so no key can move the last pair's
 * coordinates over a cleared board or write into the other board's store.
 */
class Board {
public:
    using BoardStore = std::array<common::GemCell, common::BoardCells>;

    /** Both boards empty with their cell indices set (as after ClearGrids, nothing drawn). */
    Board();
    virtual ~Board() = default;
    Board(const Board&) = default;
    Board& operator=(const Board&) = default;
    Board(Board&&) = default;
    Board& operator=(Board&&) = default;

    // --- ports ---
    void setPorts(const Ports& ports) { m_ports = ports; }
    const Ports& ports() const { return m_ports; }
    /** Drop every port: from now on this game draws, sounds, sends and waits for nothing. */
    void detachPorts() { m_ports = Ports{}; }

    // --- data, read-only ---
    /** The cell (column c, row r) of board index b (0 = board 1, 1 = board 2). */
    const common::GemCell& Grids(int b, int c, int r) const {
        return m_grids[static_cast<std::size_t>(b)][static_cast<std::size_t>(r * 6 + c)];
    }
    /** Board index b's 90 cells in cell-index order (row × 6 + column). */
    const BoardStore& boardCells(int b) const { return m_grids[static_cast<std::size_t>(b)]; }
    int PairC(int element) const { return m_pairC[static_cast<std::size_t>(element)]; }
    int PairR(int element) const { return m_pairR[static_cast<std::size_t>(element)]; }
    bool PairActive() const { return m_pairActive; }
    /** NextGem(0..3): board 1 lower/upper, board 2 lower/upper. */
    const NextGemCell& NextGem(int index) const {
        return m_nextGem[static_cast<std::size_t>(index)];
    }
    /** lblPlyName(0..1): the fighters' names under the boards ("Player 1"/"Player 2" at start). */
    const std::string& lblPlyName(int index) const {
        return m_lblPlyName[static_cast<std::size_t>(index)];
    }
    const PlayerTable& playerTable() const { return m_players; }
    const std::string& listID(int row) const { return m_players.listID(row); }
    const std::string& listPlayerName(int row) const { return m_players.listPlayerName(row); }
    const std::string& listWins(int row) const { return m_players.listWins(row); }
    const std::string& listLosses(int row) const { return m_players.listLosses(row); }
    std::int32_t LocalPlayerId() const { return m_localPlayerId; }
    bool tmrFallGems() const { return m_tmrFallGems; }
    bool tmrUpdate() const { return m_tmrUpdate; }
    /** The count-down timer's flag; the game never changes it, the match flow does. */
    bool tmrCountDown() const { return m_tmrCountDown; }
    /** The board number the current or last fight started on (0 if none / watching). */
    int FightBoard() const { return m_fightBoard; }
    const RandomSource& randomSource() const { return m_random; }

    // --- setters for the network layer ---
    /** The session's identifier of the local player (0 until the roster arrives). */
    void setLocalPlayerId(std::int32_t id) { m_localPlayerId = id; }
    /** Rewrite the player table whole, in queue order. */
    void setPlayerTable(std::vector<PlayerRow> rows) { m_players.rewrite(std::move(rows)); }
    /**
     * Write Occupied, Shape and Color of a cell of board index b (CellIndex stays);
     * does not draw: follow with SetGem. Out-of-range coordinates are ignored.
     */
    void writeCell(int b, int c, int r, const common::GemCell& cell);
    /** Set and draw next-pair cell NextGem(index); an index outside 0..3 is ignored. */
    void setNextGem(int index, std::int16_t shape, std::int32_t color);
    /**
     * Switch a timer's enabled flag, telling the timer port when it changes. The
     * game switches tmrFallGems and tmrUpdate itself; the shell stops them on
     * disconnect and exit, and the match flow runs tmrCountDown.
     */
    void setTimerEnabled(Timer timer, bool enabled);

    // --- procedures ---
    /** Empty both boards (Occupied false, Shape 0, Color 0, CellIndex row × 6 + column), hide all
     * cells. */
    void ClearGrids();
    /** The local player's board: 1 or 2 from rows 0/1 of listID, else 0. */
    int whatPlayer() const;
    /** Draw cell (sgC, sgR) of board number sgPlayer from the store; never writes it. */
    void SetGem(int sgPlayer, int sgC, int sgR);
    /** Move the gem of the local board at (oldC, oldR) to (newC, newR); the source keeps its stale
     * Shape/Color. */
    void AdjustGems(int oldC, int oldR, int newC, int newR);
    /** Draw the local board's next pair (lower gem first), announce it, give control. */
    void MakeNewGems();
    /** The next pair enters at (3, 13)/(3, 14) whatever those cells held; draws the one after. */
    void UseNextGems();
    /**
     * Start a fight on every client, fighter or watcher: the fight-start hook
     * (fightStarting), the names from the table, and on a fighter's client the
     * first pairs and the timers.
     */
    void InitGame();
    /** Key-down handler: 37 left, 38 rotate, 39 right, 40 one fall tick. Shift is ignored. */
    void KeyDown(int keyCode, int shift = 0);
    /** One tick of the fall timer tmrFallGems (also run by the Down key). */
    void FallTick();
    /** Pack the local board's loose gems down, one animated gem at a time. */
    void FallGems();

protected:
    /**
     * Called by the fall tick when both gems of the pair have landed, after the
     * landing sound and before the next pair enters. Overridden by the layer
     * that resolves the board; here it does nothing.
     */
    virtual void resolveLanding() {}
    /**
     * Called first thing by InitGame on every client, before the names and the
     * first pairs: the layer above resets what must not outlive a fight.
     */
    virtual void fightStarting() {}

    common::GemCell& cellAt(int b, int c, int r) {
        return m_grids[static_cast<std::size_t>(b)][static_cast<std::size_t>(r * 6 + c)];
    }
    /** True while the local player still fights on the board the fight started on. */
    bool fightingOnStartBoard() const;
    void drawCell(int b, int c, int r);
    void pause(int milliseconds);
    void repaint();
    void playCollisionSound(int column);

private:
    bool cellFree(int b, int c, int r) const { return !Grids(b, c, r).Occupied; }
    void moveLeft(int b);
    void moveRight(int b);
    void rotate(int b);
    void moveElement(int element, int newC, int newR);

    std::array<BoardStore, 2> m_grids{};
    std::array<int, 2> m_pairC{EntryColumn, EntryColumn};
    std::array<int, 2> m_pairR{EntryRow - 1, EntryRow};
    bool m_pairActive = false;
    std::array<NextGemCell, 4> m_nextGem{};
    std::array<std::string, 2> m_lblPlyName{"Player 1", "Player 2"};
    PlayerTable m_players;
    std::int32_t m_localPlayerId = 0;
    bool m_tmrFallGems = false;
    bool m_tmrUpdate = false;
    bool m_tmrCountDown = false;
    int m_fightBoard = 0;
    RandomSource m_random;
    Ports m_ports;
};

} // namespace gemvolt::board
