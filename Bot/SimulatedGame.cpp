#include "Bot/SimulatedGame.h"

#include "Common/NumberText.h"

namespace gemvolt::bot {

namespace {

int occupiedCount(const battle::GameCore::BoardStore& cells) {
    int n = 0;
    for (const common::GemCell& cell : cells)
        n += cell.Occupied ? 1 : 0;
    return n;
}

} // namespace

SimulatedGame::SimulatedGame(const battle::GameCore& live) : battle::GameCore(live) {
    detachPorts();
}

void SimulatedGame::resolveLanding() {
    const int b = whatPlayer() - 1;
    if (b < 0) {
        battle::GameCore::resolveLanding();
        return;
    }
    const std::int64_t scoreBefore = common::numberValue(lblCScore(b));
    const std::int64_t pendingBefore =
        std::max<std::int64_t>(0, common::numberValue(lblIncoming(b)));
    const int gemsBefore = occupiedCount(boardCells(b));

    battle::GameCore::resolveLanding();

    LandingRecord rec;
    rec.Board = boardCells(b);
    // Every destruction scores ten points per gem and combo step, and earns
    // one counter gem for the same product.
    rec.Attack = (common::numberValue(lblCScore(b)) - scoreBefore) / 10;
    rec.PendingAfter = std::max<std::int64_t>(0, common::numberValue(lblIncoming(b)));
    const std::int64_t stillPending = std::max<std::int64_t>(0, pendingBefore - rec.Attack);
    const std::int64_t laid = std::max<std::int64_t>(0, stillPending - rec.PendingAfter);
    rec.Destroyed = gemsBefore + laid - occupiedCount(rec.Board);
    rec.Lost = Grids(b, board::EntryColumn, board::EntryRow).Occupied;
    m_last = rec;
    ++m_landings;
}

} // namespace gemvolt::bot
