#include "Client/battle/GameCore.h"

#include "Common/NumberText.h"

#include <algorithm>

namespace gemvolt::battle {

using common::BoardColumns;
using common::BoardRows;
using common::numberValue;

namespace {

constexpr int DefeatColumn = board::EntryColumn;
constexpr int TopRow = BoardRows - 1;
constexpr int ScorePerGem = 10;

} // namespace

void GameCore::setIncoming(int b, std::string text) {
    if (b == 0 || b == 1)
        m_lblIncoming[idx(b)] = std::move(text);
}

void GameCore::setStatsLabels(int b, std::string score, std::string bestChain,
                              std::string bestCombo) {
    if (b != 0 && b != 1)
        return;
    m_lblCScore[idx(b)] = std::move(score);
    m_lblBChain[idx(b)] = std::move(bestChain);
    m_lblBCombo[idx(b)] = std::move(bestCombo);
}

void GameCore::setDestroyCount(int count) {
    m_destroyCount = std::clamp(count, 0, common::BoardCells - 1);
}

void GameCore::setLabelNumber(std::string& label, std::int64_t value) {
    label = common::toIdText(value);
}

void GameCore::HandleGameStatus() {
    const int p = whatPlayer();
    if (p == 0)
        return;
    const int b = p - 1;
    const std::size_t bi = idx(b);

    m_lblCCombo[bi] = "0";
    m_lblCChain[bi] = "0";
    std::int64_t attackTotal = 0;

    // Scan column by column, bottom to top; after every destruction the board
    // has fallen, so the scan starts over from (0, 0).
    bool destroyed = true;
    while (destroyed) {
        destroyed = false;
        for (int c = 0; c < BoardColumns && !destroyed; ++c) {
            for (int r = 0; r < BoardRows && !destroyed; ++r) {
                const common::GemCell& cell = Grids(b, c, r);
                if (!cell.Occupied || cell.Shape != common::ShapeCrash)
                    continue;
                m_destroyCount = 0;
                DestroyerGems(c, r);
                if (m_destroyCount == 0)
                    continue;
                const std::int64_t n = m_destroyCount;
                const std::int64_t combo = numberValue(m_lblCCombo[bi]) + 1;
                setLabelNumber(m_lblCCombo[bi], combo);
                setLabelNumber(m_lblCChain[bi], n);
                setLabelNumber(m_lblCScore[bi],
                               numberValue(m_lblCScore[bi]) + n * combo * ScorePerGem);
                attackTotal += n * combo;
                if (numberValue(m_lblBCombo[bi]) < numberValue(m_lblCCombo[bi]))
                    m_lblBCombo[bi] = m_lblCCombo[bi];
                if (numberValue(m_lblBChain[bi]) < numberValue(m_lblCChain[bi]))
                    m_lblBChain[bi] = m_lblCChain[bi];
                GetRideofGems();
                destroyed = true;
            }
        }
    }

    // Offset the attack against what is pending: only the surplus is sent, and
    // what stays pending is laid now. A pending text that reads negative (never
    // produced by this game) counts as nothing pending.
    const std::int64_t pending = std::max<std::int64_t>(0, numberValue(m_lblIncoming[bi]));
    if (pending <= attackTotal) {
        attackTotal -= pending;
        m_lblIncoming[bi] = "00";
        if (attackTotal != 0 && ports().messages)
            ports().messages->SendCounterAttack(static_cast<int>(attackTotal));
    } else {
        m_lblIncoming[bi] = common::toTwoDigitText(pending - attackTotal);
        Incoming();
    }

    if (ports().messages)
        ports().messages->SendStats(p, numberValue(m_lblCScore[bi]), numberValue(m_lblBChain[bi]),
                                    numberValue(m_lblBCombo[bi]));

    // Judged after the counter gems have fallen: they can lose the fight too.
    if (Grids(b, DefeatColumn, TopRow).Occupied) {
        setTimerEnabled(board::Timer::FallGems, false);
        if (ports().messages)
            ports().messages->SendGameOver();
    }

    if (board::SoundPort* sound = ports().sound) {
        sound->CleanUpSndBuffer();
        if (!sound->checkBGM()) {
            for (int r = TopRow; r >= 0; --r) {
                bool found = false;
                for (int c = 0; c < BoardColumns; ++c) {
                    if (Grids(b, c, r).Occupied) {
                        found = true;
                        break;
                    }
                }
                if (found) {
                    sound->SetBGMSpeed(r);
                    break;
                }
            }
        }
    }
}

void GameCore::DestroyerGems(int dgC, int dgR) {
    const int b = whatPlayer() - 1;
    if (b < 0 || dgC < 0 || dgC >= BoardColumns || dgR < 0 || dgR >= BoardRows)
        return;
    const auto size = static_cast<std::size_t>(m_destroyCount) + 1;
    m_destroyC.resize(size);
    m_destroyR.resize(size);
    m_destroyC[size - 1] = static_cast<std::int16_t>(dgC);
    m_destroyR[size - 1] = static_cast<std::int16_t>(dgR);

    const std::int32_t color = Grids(b, dgC, dgR).Color;
    const auto recorded = [&](int c, int r) {
        for (int i = 0; i <= m_destroyCount; ++i)
            if (m_destroyC[static_cast<std::size_t>(i)] == c &&
                m_destroyR[static_cast<std::size_t>(i)] == r)
                return true;
        return false;
    };
    const auto visit = [&](bool inside, int c, int r) {
        if (!inside)
            return;
        const common::GemCell& cell = Grids(b, c, r);
        if (!cell.Occupied || cell.Color != color || recorded(c, r))
            return;
        ++m_destroyCount;
        DestroyerGems(c, r);
    };
    // Below, left, above, right: the order of discovery is the order of removal.
    visit(dgR - 1 >= 0, dgC, dgR - 1);
    visit(dgC - 1 >= 0, dgC - 1, dgR);
    visit(dgR + 1 <= TopRow, dgC, dgR + 1);
    visit(dgC + 1 <= BoardColumns - 1, dgC + 1, dgR);
}

void GameCore::GetRideofGems() {
    const int b = whatPlayer() - 1;
    if (b < 0)
        return;
    const int last = std::min(m_destroyCount, static_cast<int>(m_destroyC.size()) - 1);
    for (int i = 0; i <= last; ++i) {
        const int c = m_destroyC[static_cast<std::size_t>(i)];
        const int r = m_destroyR[static_cast<std::size_t>(i)];
        pause(board::AnimationPauseMs);
        cellAt(b, c, r).Occupied = false; // Shape and Color stay behind
        drawCell(b, c, r);
        playDestructionSound(c);
        repaint();
    }
    FallGems();
}

void GameCore::Incoming() {
    const int p = whatPlayer();
    if (p == 0)
        return;
    const int b = p - 1;
    const std::size_t bi = idx(b);
    const std::string& opponent = listID(p == 1 ? 1 : 0);
    const auto entry =
        std::find_if(m_patternTable.begin(), m_patternTable.end(),
                     [&](const common::PatternEntry& e) { return e.PlayerId == opponent; });
    if (entry == m_patternTable.end())
        return; // the pattern has not arrived: the count stays pending
    // Copied: FallGems below draws and pauses through the ports, which must not
    // see the table change under them, and the entry must outlive any of that.
    const common::AttackPattern pattern = entry->Cells;

    int patternRow = 0;
    while (numberValue(m_lblIncoming[bi]) > 0) {
        for (int c = 0; c < BoardColumns; ++c) {
            if (!Grids(b, c, TopRow).Occupied) {
                const common::GemCell& source =
                    pattern[static_cast<std::size_t>(c + patternRow * common::PatternColumns)];
                common::GemCell& top = cellAt(b, c, TopRow);
                top.Occupied = source.Occupied;
                top.Color = source.Color;
                top.Shape = source.Shape;
                drawCell(b, c, TopRow);
                const std::int64_t left = numberValue(m_lblIncoming[bi]) - 1;
                m_lblIncoming[bi] = common::toTwoDigitText(left);
                pause(board::AnimationPauseMs);
                repaint();
                if (left == 0)
                    break;
            } else if (Grids(b, BoardColumns - 1, TopRow).Occupied) {
                return; // no room: the rest stays pending, the laid gems stay on top
            }
        }
        patternRow = patternRow < common::PatternRows - 1 ? patternRow + 1 : 0;
        FallGems();
    }
}

void GameCore::HandleStats() {
    const auto raise = [&](std::string& highest, const std::array<std::string, 2>& figures) {
        for (int i = 0; i < 2; ++i)
            if (numberValue(highest) < numberValue(figures[idx(i)]))
                highest = figures[idx(i)] + " - " + lblPlyName(i);
    };
    raise(m_lblHScore, m_lblCScore);
    m_lblCScore = {"0", "0"};
    raise(m_lblHCombo, m_lblBCombo);
    m_lblBCombo = {"0", "0"};
    raise(m_lblHChain, m_lblBChain);
    m_lblBChain = {"0", "0"};
}

void GameCore::HandleGameOver() {
    setTimerEnabled(board::Timer::FallGems, false);
    setTimerEnabled(board::Timer::Update, false);
    HandleStats();
    const std::string& first = listPlayerName(0);
    const std::string& second = listPlayerName(1);
    m_panel.lblWinner = first + " Wins!";
    m_panel.lblNxtMatch = "The Next Fight Will Be: " + first + " Vs " + second;
    m_panel.lblP1Ready = first + " - Ready = No";
    m_panel.lblP2Ready = second + " - Ready = No";
    m_panel.lblCountIn = "N/A";
    ClearGrids();
    m_panel.frmNxtMatch = true;
}

void GameCore::EditorMouseUp(int button, int /*shift*/, double x, double y) {
    if (m_editor.click(button, x, y) == AttackEditor::ClickResult::NoCell && ports().messageBox)
        ports().messageBox->showMessage(EditorNoCellMessage);
}

void GameCore::cmdApply_Click() {
    for (int k = 0; k < common::PatternCells; ++k) {
        const AttackEditor::Cell& cell = m_editor.Shape1(k);
        m_ownPattern[static_cast<std::size_t>(k)] =
            common::GemCell{true, cell.Shape, static_cast<std::int16_t>(k), cell.Color};
    }
    if (ports().messages)
        ports().messages->SendAttackPattern(m_ownPattern);
}

void GameCore::fightStarting() {
    // A count left from the last fight would be laid at the first landing of
    // this one, usually from another opponent's pattern: it belongs to a fight
    // that is over. Nothing else about the counters changes between fights.
    m_lblIncoming = {"00", "00"};
}

void GameCore::BoardUpdateTick() {
    if (!tmrUpdate() || !fightingOnStartBoard())
        return;
    const int b = FightBoard() - 1;
    if (ports().messages)
        ports().messages->SendBoardState(FightBoard(), boardCells(b), m_lblIncoming[idx(b)]);
}

void GameCore::playDestructionSound(int column) {
    if (ports().sound)
        ports().sound->PlaySound(ports().sound->txtGD(), column);
}

} // namespace gemvolt::battle
