#include "Bot/BoardEvaluator.h"

#include <algorithm>
#include <cstdlib>

namespace gemvolt::bot {

namespace {

constexpr int Columns = 6;
constexpr int Rows = 15;

const common::GemCell& at(const battle::GameCore::BoardStore& cells, int c, int r) {
    return cells[static_cast<std::size_t>(r * Columns + c)];
}

bool sameColour(const battle::GameCore::BoardStore& cells, int c, int r, std::int32_t color) {
    if (c < 0 || c >= Columns || r < 0 || r >= Rows)
        return false;
    const common::GemCell& cell = at(cells, c, r);
    return cell.Occupied && cell.Color == color;
}

} // namespace

BoardFeatures BoardEvaluator::features(const battle::GameCore::BoardStore& cells) {
    BoardFeatures f;
    for (int c = 0; c < Columns; ++c) {
        int h = 0;
        for (int r = Rows - 1; r >= 0; --r) {
            if (at(cells, c, r).Occupied) {
                h = r + 1;
                break;
            }
        }
        f.Heights[static_cast<std::size_t>(c)] = h;
        f.TotalHeight += h;
        f.MaxHeight = std::max(f.MaxHeight, h);
        for (int r = 0; r < h; ++r)
            f.Holes += at(cells, c, r).Occupied ? 0 : 1;
    }
    for (int c = 0; c + 1 < Columns; ++c)
        f.Bumpiness += std::abs(f.Heights[static_cast<std::size_t>(c)] -
                                f.Heights[static_cast<std::size_t>(c + 1)]);

    for (int c = 0; c < Columns; ++c) {
        for (int r = 0; r < Rows; ++r) {
            const common::GemCell& cell = at(cells, c, r);
            if (!cell.Occupied)
                continue;
            if (sameColour(cells, c + 1, r, cell.Color))
                ++f.Groups;
            if (sameColour(cells, c, r + 1, cell.Color))
                ++f.Groups;
            if (cell.Shape != common::ShapeCrash)
                continue;
            // A crash gem left after a resolution touches nothing of its colour;
            // one cell further away there may be gems that the next pair links up.
            const bool near = sameColour(cells, c - 1, r - 1, cell.Color) ||
                              sameColour(cells, c + 1, r - 1, cell.Color) ||
                              sameColour(cells, c - 2, r, cell.Color) ||
                              sameColour(cells, c + 2, r, cell.Color) ||
                              sameColour(cells, c, r - 2, cell.Color);
            if (near)
                ++f.CrashNear;
            f.BuriedCrash += f.Heights[static_cast<std::size_t>(c)] - (r + 1);
        }
    }

    // Column 3 is where every pair enters: past the middle of the board every
    // further row there is a step closer to losing.
    const int h3 = f.Heights[3];
    f.EntryDanger = h3 > 8 ? (h3 - 8) * (h3 - 8) : 0;
    if (at(cells, 3, 12).Occupied)
        f.EntryDanger += 60;
    for (int c : {2, 4}) {
        const int h = f.Heights[static_cast<std::size_t>(c)];
        if (h > 11)
            f.EntryDanger += (h - 11) * 3; // a wall beside the entry blocks the way out
    }
    return f;
}

double BoardEvaluator::boardValue(const battle::GameCore::BoardStore& cells,
                                  const EvaluationWeights& w) {
    const BoardFeatures f = features(cells);
    return -w.Height * f.TotalHeight - w.MaxHeight * f.MaxHeight - w.Bumpiness * f.Bumpiness -
           w.Holes * f.Holes + w.Groups * f.Groups + w.CrashNear * f.CrashNear -
           w.BuriedCrash * f.BuriedCrash - w.EntryDanger * f.EntryDanger;
}

double BoardEvaluator::landingGain(const LandingRecord& landing, const EvaluationWeights& w) {
    return w.Attack * static_cast<double>(landing.Attack) +
           w.Destroyed * static_cast<double>(landing.Destroyed) -
           w.Pending * static_cast<double>(landing.PendingAfter);
}

double BoardEvaluator::value(const LandingRecord& landing, const EvaluationWeights& w) {
    if (landing.Lost)
        return LostValue;
    return landingGain(landing, w) + boardValue(landing.Board, w);
}

} // namespace gemvolt::bot
