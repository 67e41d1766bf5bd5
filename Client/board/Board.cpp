#include "Client/board/Board.h"

#include "Common/NumberText.h"

namespace gemvolt::board {

using common::BoardColumns;
using common::BoardRows;
using common::GemCell;

namespace {

bool onBoard(int c, int r) {
    return c >= 0 && c < BoardColumns && r >= 0 && r < BoardRows;
}

// The eight gems a pair can hold, by the drawn number: 0..3 normal, 4..7 crash,
// red, yellow, green, blue in each half.
NextGemCell gemForDraw(int d) {
    static constexpr std::array<std::int32_t, 4> colors{common::GemRed, common::GemYellow,
                                                        common::GemGreen, common::GemBlue};
    return NextGemCell{d >= 4 ? common::ShapeCrash : common::ShapeNormal,
                       colors[static_cast<std::size_t>(d % 4)]};
}

} // namespace

Board::Board() {
    for (auto& board : m_grids)
        for (int k = 0; k < common::BoardCells; ++k)
            board[static_cast<std::size_t>(k)].CellIndex = static_cast<std::int16_t>(k);
}

void Board::writeCell(int b, int c, int r, const GemCell& cell) {
    if (b < 0 || b > 1 || !onBoard(c, r))
        return;
    GemCell& target = cellAt(b, c, r);
    target.Occupied = cell.Occupied;
    target.Shape = cell.Shape;
    target.Color = cell.Color;
}

void Board::setNextGem(int index, std::int16_t shape, std::int32_t color) {
    if (index < 0 || index > 3)
        return;
    m_nextGem[static_cast<std::size_t>(index)] = NextGemCell{shape, color};
    if (m_ports.draw)
        m_ports.draw->drawNextGem(index, shape, color);
}

void Board::ClearGrids() {
    int k = 0;
    for (int r = 0; r < BoardRows; ++r) {
        for (int c = 0; c < BoardColumns; ++c) {
            for (int b = 0; b < 2; ++b) {
                GemCell& cell = cellAt(b, c, r);
                cell.Occupied = false;
                cell.Shape = common::ShapeNone;
                cell.Color = 0;
                cell.CellIndex = static_cast<std::int16_t>(k);
                if (m_ports.draw)
                    m_ports.draw->drawCell(b, k, cell.Shape, cell.Color, false);
            }
            ++k;
        }
    }
}

int Board::whatPlayer() const {
    // An identifier that is no number (or a missing row) reads as 0, so a local
    // identifier of 0 (before the roster) matches an empty table's row 0 only
    // when that row exists.
    if (m_players.rowCount() >= 1 && common::numberValue(m_players.listID(0)) == m_localPlayerId)
        return 1;
    if (m_players.rowCount() >= 2 && common::numberValue(m_players.listID(1)) == m_localPlayerId)
        return 2;
    return 0;
}

void Board::SetGem(int sgPlayer, int sgC, int sgR) {
    if ((sgPlayer != 1 && sgPlayer != 2) || !onBoard(sgC, sgR))
        return;
    drawCell(sgPlayer - 1, sgC, sgR);
}

void Board::AdjustGems(int oldC, int oldR, int newC, int newR) {
    const int b = whatPlayer() - 1;
    if (b < 0 || !onBoard(oldC, oldR) || !onBoard(newC, newR))
        return;
    const GemCell from = Grids(b, oldC, oldR);
    GemCell& to = cellAt(b, newC, newR);
    to.Occupied = from.Occupied;
    to.Shape = from.Shape;
    to.Color = from.Color;
    cellAt(b, oldC, oldR).Occupied = false;
    if (m_ports.draw) {
        m_ports.draw->drawCell(b, to.CellIndex, to.Shape, to.Color, to.Occupied);
        const GemCell& old = Grids(b, oldC, oldR);
        m_ports.draw->drawCell(b, old.CellIndex, old.Shape, old.Color, false);
    }
}

void Board::MakeNewGems() {
    const int p = whatPlayer();
    if (p == 0)
        return;
    const int nb = p == 1 ? 0 : 2;
    // The lower gem (element 0) is drawn before the upper one: two draws per pair.
    const NextGemCell lower = gemForDraw(m_random.nextBelow(8));
    setNextGem(nb, lower.Shape, lower.Color);
    const NextGemCell upper = gemForDraw(m_random.nextBelow(4));
    setNextGem(nb + 1, upper.Shape, upper.Color);
    m_pairActive = true;
    if (m_ports.messages)
        m_ports.messages->SendNextPair(p, lower.Shape, lower.Color, upper.Shape, upper.Color);
}

void Board::UseNextGems() {
    m_pairR[1] = EntryRow;
    m_pairC[1] = EntryColumn;
    m_pairR[0] = EntryRow - 1;
    m_pairC[0] = EntryColumn;
    const int p = whatPlayer();
    if (p == 0)
        return;
    const int b = p - 1;
    const int nb = p == 1 ? 0 : 2;
    const auto enter = [&](int row, const NextGemCell& gem) {
        GemCell& cell = cellAt(b, EntryColumn, row);
        cell.Occupied = true;
        cell.Shape = gem.Shape;
        cell.Color = gem.Color;
        drawCell(b, EntryColumn, row);
    };
    enter(EntryRow, m_nextGem[static_cast<std::size_t>(nb + 1)]);
    enter(EntryRow - 1, m_nextGem[static_cast<std::size_t>(nb)]);
    MakeNewGems();
}

void Board::InitGame() {
    fightStarting();
    m_lblPlyName[0] = m_players.listPlayerName(0);
    m_lblPlyName[1] = m_players.listPlayerName(1);
    m_fightBoard = whatPlayer();
    if (m_fightBoard == 0)
        return;
    MakeNewGems();
    UseNextGems();
    setTimerEnabled(Timer::FallGems, true);
    setTimerEnabled(Timer::Update, true);
}

void Board::KeyDown(int keyCode, int /*shift*/) {
    const int p = whatPlayer();
    if (p == 0)
        return;
    if (keyCode == KeyCodeDown) {
        if (m_tmrFallGems)
            FallTick();
        return;
    }
    // Side moves and rotation need a pair under control in a running fight.
    if (!m_pairActive || !m_tmrFallGems || !fightingOnStartBoard())
        return;
    const int b = p - 1;
    switch (keyCode) {
    case KeyCodeLeft:
        moveLeft(b);
        break;
    case KeyCodeRight:
        moveRight(b);
        break;
    case KeyCodeUp:
        rotate(b);
        break;
    default:
        break;
    }
}

void Board::moveElement(int element, int newC, int newR) {
    const auto e = static_cast<std::size_t>(element);
    const int oldC = m_pairC[e];
    const int oldR = m_pairR[e];
    m_pairC[e] = newC;
    m_pairR[e] = newR;
    AdjustGems(oldC, oldR, newC, newR);
}

void Board::moveLeft(int b) {
    const int c0 = m_pairC[0], r0 = m_pairR[0], c1 = m_pairC[1], r1 = m_pairR[1];
    if (r0 != r1) {
        if (c0 != 0 && cellFree(b, c0 - 1, r0) && cellFree(b, c1 - 1, r1)) {
            moveElement(0, c0 - 1, r0);
            moveElement(1, c1 - 1, r1);
        }
    } else if (c0 < c1) {
        if (c0 != 0 && cellFree(b, c0 - 1, r0)) {
            moveElement(0, c0 - 1, r0);
            moveElement(1, c1 - 1, r1);
        }
    } else if (c1 != 0 && cellFree(b, c1 - 1, r1)) {
        moveElement(1, c1 - 1, r1);
        moveElement(0, c0 - 1, r0);
    }
}

void Board::moveRight(int b) {
    const int c0 = m_pairC[0], r0 = m_pairR[0], c1 = m_pairC[1], r1 = m_pairR[1];
    const int wall = BoardColumns - 1;
    if (r0 != r1) {
        if (c0 != wall && cellFree(b, c0 + 1, r0) && cellFree(b, c1 + 1, r1)) {
            moveElement(0, c0 + 1, r0);
            moveElement(1, c1 + 1, r1);
        }
    } else if (c0 > c1) {
        if (c0 != wall && cellFree(b, c0 + 1, r0)) {
            moveElement(0, c0 + 1, r0);
            moveElement(1, c1 + 1, r1);
        }
    } else if (c1 != wall && cellFree(b, c1 + 1, r1)) {
        moveElement(1, c1 + 1, r1);
        moveElement(0, c0 + 1, r0);
    }
}

void Board::rotate(int b) {
    const int c0 = m_pairC[0], r0 = m_pairR[0], c1 = m_pairC[1], r1 = m_pairR[1];
    struct Candidate {
        int c, r;
    };
    // Element 0 turns a quarter counter-clockwise around element 1; failing that
    // it flips to the opposite side, then tries a quarter clockwise.
    std::array<Candidate, 3> candidates{};
    if (c0 < c1) // left of element 1
        candidates = {{{c0 + 1, r0 - 1}, {c0 + 2, r0}, {c0 + 1, r0 + 1}}};
    else if (c0 > c1) // right
        candidates = {{{c0 - 1, r0 + 1}, {c0 - 2, r0}, {c0 - 1, r0 - 1}}};
    else if (r0 <= r1) // below
        candidates = {{{c0 + 1, r0 + 1}, {c0, r0 + 2}, {c0 - 1, r0 + 1}}};
    else // above
        candidates = {{{c0 - 1, r0 - 1}, {c0, r0 - 2}, {c0 + 1, r0 - 1}}};
    for (const Candidate& cand : candidates) {
        // The bound is tested before the cell is read.
        if (onBoard(cand.c, cand.r) && cellFree(b, cand.c, cand.r)) {
            moveElement(0, cand.c, cand.r);
            return;
        }
    }
}

void Board::FallTick() {
    if (!m_tmrFallGems || !fightingOnStartBoard())
        return;
    const int b = m_fightBoard - 1;
    const int c0 = m_pairC[0], r0 = m_pairR[0], c1 = m_pairC[1], r1 = m_pairR[1];
    bool canFall0 = true;
    bool canFall1 = true;

    // Floor.
    if (r0 == 0) {
        canFall0 = false;
        if (c1 == c0)
            canFall1 = false;
    }
    if (r1 == 0) {
        canFall1 = false;
        if (c0 == c1)
            canFall0 = false;
    }
    // Support of element 0: a gem under it that is not element 1.
    if (canFall0 && Grids(b, c0, r0 - 1).Occupied && (r0 - 1 != r1 || c1 != c0)) {
        canFall0 = false;
        if (r0 + 1 == r1)
            canFall1 = false;
    }
    // Support of element 1, the same with the elements exchanged.
    if (canFall1 && Grids(b, c1, r1 - 1).Occupied && (r1 - 1 != r0 || c1 != c0)) {
        canFall1 = false;
        if (r1 + 1 == r0)
            canFall0 = false;
    }

    if (!canFall0 && m_pairActive)
        playCollisionSound(c0);
    if (!canFall1 && m_pairActive)
        playCollisionSound(c1);

    // The lower element drops first so the upper one can take the cell it leaves.
    const auto drop = [&](int element, bool canFall) {
        if (canFall)
            moveElement(element, m_pairC[static_cast<std::size_t>(element)],
                        m_pairR[static_cast<std::size_t>(element)] - 1);
        else
            m_pairActive = false;
    };
    if (canFall0 && r0 > r1) {
        drop(1, canFall1);
        drop(0, canFall0);
    } else {
        drop(0, canFall0);
        drop(1, canFall1);
    }

    if (!canFall0 && !canFall1) {
        playCollisionSound(c0 < c1 ? c0 : c1);
        resolveLanding();
        UseNextGems();
    }
}

void Board::FallGems() {
    const int b = whatPlayer() - 1;
    if (b < 0)
        return;
    for (int c = 0; c < BoardColumns; ++c) {
        for (int r = 0; r < BoardRows; ++r) {
            if (Grids(b, c, r).Occupied)
                continue;
            int k = 1;
            while (r + k < BoardRows && !Grids(b, c, r + k).Occupied)
                ++k;
            if (r + k >= BoardRows)
                break; // nothing above: this column is done
            pause(AnimationPauseMs);
            AdjustGems(c, r + k, c, r);
            playCollisionSound(c);
            repaint();
        }
    }
}

void Board::setTimerEnabled(Timer timer, bool enabled) {
    bool& flag = timer == Timer::FallGems ? m_tmrFallGems
                 : timer == Timer::Update ? m_tmrUpdate
                                          : m_tmrCountDown;
    if (flag == enabled)
        return;
    flag = enabled;
    if (m_ports.timers)
        m_ports.timers->timerChanged(timer, enabled);
}

bool Board::fightingOnStartBoard() const {
    return m_fightBoard != 0 && whatPlayer() == m_fightBoard;
}

void Board::drawCell(int b, int c, int r) {
    if (!m_ports.draw)
        return;
    const GemCell& cell = Grids(b, c, r);
    m_ports.draw->drawCell(b, cell.CellIndex, cell.Shape, cell.Color, cell.Occupied);
}

void Board::pause(int milliseconds) {
    if (m_ports.pause)
        m_ports.pause->pause(milliseconds);
}

void Board::repaint() {
    if (m_ports.draw)
        m_ports.draw->repaint();
}

void Board::playCollisionSound(int column) {
    if (m_ports.sound)
        m_ports.sound->PlaySound(m_ports.sound->txtGC(), column);
}

} // namespace gemvolt::board
