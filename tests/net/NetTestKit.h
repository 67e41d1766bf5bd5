#pragma once

// Messages as the server sends them, for the client's tests.

#include "Common/MessageCodec.h"
#include "Common/Messages.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gemvolt::testing {

struct StandingRow {
    std::int32_t Id;
    int Wins = 0;
    int Losses = 0;
};

inline common::MsgRoster roster(std::vector<std::pair<std::int32_t, std::string>> players) {
    common::MsgRoster m;
    for (auto& [id, name] : players)
        m.Entries.push_back({id, name});
    return m;
}

inline common::MsgStandings standings(std::vector<StandingRow> rows) {
    using common::NumberField;
    common::MsgStandings m;
    for (const StandingRow& r : rows)
        m.Rows.push_back(
            {NumberField::id(r.Id), NumberField::id(r.Wins), NumberField::id(r.Losses)});
    return m;
}

inline common::MsgReadyToAll ready(std::int32_t sender) {
    return common::MsgReadyToAll::relay(sender);
}

inline common::MsgCounterAttackToAll counter(std::int32_t sender, int count) {
    return common::MsgCounterAttackToAll::relay(
        sender, common::MsgCounterAttack{common::NumberField::number(count)});
}

/** A snapshot of `board` with one gem at (c, r) and the pending text. */
inline common::MsgBoardState snapshot(int board, int c, int r, std::int32_t color,
                                      std::string pending) {
    std::array<common::GemCell, common::BoardCells> cells{};
    for (int i = 0; i < common::BoardCells; ++i)
        cells[static_cast<std::size_t>(i)].CellIndex = static_cast<std::int16_t>(i);
    auto& cell = cells[static_cast<std::size_t>(r * common::BoardColumns + c)];
    cell.Occupied = true;
    cell.Shape = common::ShapeCrash;
    cell.Color = color;
    return common::MsgBoardState::fromBoard(board, cells, std::move(pending));
}

inline common::MsgStats stats(int board, int score, int chain, int combo) {
    using common::NumberField;
    return {NumberField::number(board), NumberField::number(score), NumberField::number(chain),
            NumberField::number(combo)};
}

inline common::MsgNextPair nextPair(int board, int ls, std::int32_t lc, int us, std::int32_t uc) {
    using common::NumberField;
    return {NumberField::number(board), NumberField::number(ls), NumberField::number(lc),
            NumberField::number(us), NumberField::number(uc)};
}

/** Every cell of a pattern the same gem. */
inline common::MsgAttackPatternToAll
patterns(std::vector<std::pair<std::int32_t, std::int32_t>> ownerColors) {
    std::vector<common::PatternEntry> entries;
    for (auto& [owner, color] : ownerColors) {
        common::AttackPattern p{};
        for (int k = 0; k < common::PatternCells; ++k)
            p[static_cast<std::size_t>(k)] =
                common::GemCell{true, common::ShapeNormal, static_cast<std::int16_t>(k), color};
        entries.push_back({std::to_string(owner), p});
    }
    return common::MsgAttackPatternToAll::fromEntries(entries);
}

} // namespace gemvolt::testing
