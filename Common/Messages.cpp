#include "Common/Messages.h"

#include <algorithm>
#include <limits>
#include <type_traits>

namespace gemvolt::common {

PatternCellField PatternCellField::fromGemCell(const GemCell& cell) {
    return {NumberField::number(cell.Color), NumberField::number(cell.Shape)};
}

PatternFields patternFields(const AttackPattern& pattern) {
    PatternFields cells{};
    for (int i = 0; i < PatternCells; ++i) {
        cells[static_cast<std::size_t>(i)] =
            PatternCellField::fromGemCell(pattern[static_cast<std::size_t>(i)]);
    }
    return cells;
}

AttackPattern patternFromFields(const PatternFields& cells) {
    AttackPattern pattern{};
    for (int i = 0; i < PatternCells; ++i) {
        const auto& field = cells[static_cast<std::size_t>(i)];
        GemCell& cell = pattern[static_cast<std::size_t>(i)];
        cell.Occupied = true;
        // A shape beyond 16 bits is no shape a gem has; clamping keeps it one.
        cell.Shape = static_cast<std::int16_t>(
            std::clamp<std::int64_t>(field.Shape.value(), std::numeric_limits<std::int16_t>::min(),
                                     std::numeric_limits<std::int16_t>::max()));
        cell.Color = field.Color.value32();
        cell.CellIndex = static_cast<std::int16_t>(i);
    }
    return pattern;
}

MsgAttackPatternToAll MsgAttackPatternToAll::fromEntries(const std::vector<PatternEntry>& entries) {
    MsgAttackPatternToAll message;
    message.Entries.reserve(entries.size());
    for (const PatternEntry& entry : entries) {
        message.Entries.push_back({NumberField(entry.PlayerId), patternFields(entry.Cells)});
    }
    return message;
}

std::vector<PatternEntry> MsgAttackPatternToAll::toEntries() const {
    std::vector<PatternEntry> table;
    table.reserve(Entries.size());
    for (const PatternSetEntry& entry : Entries) {
        table.push_back({entry.Owner.text(), patternFromFields(entry.Cells)});
    }
    return table;
}

BoardCellField BoardCellField::fromGemCell(const GemCell& cell) {
    return {NumberField::number(cell.Color), cell.Shape,
            static_cast<std::uint8_t>(cell.Occupied ? 2 : 1)};
}

GemCell BoardCellField::toGemCell() const {
    GemCell cell;
    cell.Occupied = occupied();
    cell.Shape = Shape;
    cell.Color = Color.value32();
    return cell;
}

MsgBoardState MsgBoardState::fromBoard(int board, const std::array<GemCell, BoardCells>& cells,
                                       std::string pending) {
    MsgBoardState message;
    message.Board = NumberField::number(board);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        message.Cells[i] = BoardCellField::fromGemCell(cells[i]);
    }
    message.Pending = std::move(pending);
    return message;
}

MsgCounterAttackToAll MsgCounterAttackToAll::relay(std::int32_t sender,
                                                   const MsgCounterAttack& received) {
    return {NumberField::number(sender), received.Count};
}

MsgReadyToAll MsgReadyToAll::relay(std::int32_t sender) {
    return {NumberField::number(sender)};
}

MsgType messageType(const AnyMessage& message) {
    return std::visit([](const auto& m) { return std::decay_t<decltype(m)>::Type; }, message);
}

} // namespace gemvolt::common
