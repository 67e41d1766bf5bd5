#include "Bot/PlacementSearch.h"

#include "Bot/BoardEvaluator.h"

#include <algorithm>
#include <limits>

namespace gemvolt::bot {

namespace {

// Keys a pair gets before the player gives up steering it: a rotation that
// keeps failing against tall neighbours must not hold the pair forever.
constexpr int MaxSteeringKeys = 12;
// Enough keys and fall ticks for any pair to land, with margin.
constexpr int MaxEvents = 200;
constexpr double ImmediateGainBonus = 1.5;

struct PairPosition {
    int c0, r0, c1, r1;
    friend bool operator==(const PairPosition&, const PairPosition&) = default;
};

PairPosition positionOf(const board::Board& g) {
    return {g.PairC(0), g.PairR(0), g.PairC(1), g.PairR(1)};
}

} // namespace

PlacementSearch::PlacementSearch(LevelSettings settings, std::uint32_t seed)
    : m_settings(std::move(settings)), m_noise(seed) {}

bool PlacementSearch::playOut(SimulatedGame& game, const Placement& target,
                              const LevelSettings& settings) {
    const int start = game.landings();
    // Keys follow the think time; the fall timer goes its own way.
    long now = 0;
    long nextKey = settings.ThinkMs;
    long nextTick = std::max(0, game.nextFallTickIn());
    int keys = 0;
    bool steering = true;
    for (int events = 0; events < MaxEvents && game.landings() == start; ++events) {
        if (!game.tmrFallGems())
            return false;
        if (nextKey <= nextTick) {
            now = nextKey;
            nextKey += settings.KeyDelayMs;
            if (steering && game.PairActive() && keys < MaxSteeringKeys) {
                if (const std::optional<int> key = PairSteering::nextKey(game, target)) {
                    const PairPosition before = positionOf(game);
                    game.KeyDown(*key);
                    ++keys;
                    // A refused key means the way is blocked: take what we have.
                    if (*key != board::KeyCodeDown && positionOf(game) == before)
                        steering = false;
                    continue;
                }
            }
            steering = false;
            game.KeyDown(board::KeyCodeDown);
        } else {
            now = nextTick;
            game.FallTick();
            nextTick += FallIntervalMs;
        }
    }
    game.setNextFallTickIn(static_cast<int>(nextTick - now));
    return game.landings() > start;
}

double PlacementSearch::judge(const LandingRecord& landing) {
    double v = BoardEvaluator::value(landing, m_settings.Weights);
    if (!landing.Lost && m_settings.Noise > 0) {
        std::normal_distribution<double> spread(0.0, m_settings.Noise);
        v += spread(m_noise);
    }
    return v;
}

SearchResult PlacementSearch::choose(const battle::GameCore& live, int nextFallTickIn) {
    SearchResult result;
    if (live.whatPlayer() == 0 || !live.PairActive() || !live.tmrFallGems())
        return result;
    result.Value = -std::numeric_limits<double>::infinity();
    SimulatedGame base(live);
    base.setNextFallTickIn(std::clamp(nextFallTickIn, 0, FallIntervalMs));
    for (const Placement& first : PairSteering::allPlacements()) {
        SimulatedGame game(base);
        ++result.Simulations;
        if (!playOut(game, first, m_settings) && game.landings() == 0)
            continue;
        const LandingRecord landing = game.lastLanding();
        double value = judge(landing);
        if (m_settings.LookAhead && !landing.Lost && game.tmrFallGems() && game.PairActive()) {
            // The next pair is known (it waits in the next-pair cells): its best
            // placement on this board decides, plus what this landing earned.
            double bestSecond = -std::numeric_limits<double>::infinity();
            for (const Placement& second : PairSteering::allPlacements()) {
                SimulatedGame next(game);
                ++result.Simulations;
                if (!playOut(next, second, m_settings) && next.landings() == game.landings())
                    continue;
                bestSecond = std::max(bestSecond, judge(next.lastLanding()));
            }
            if (bestSecond > -std::numeric_limits<double>::infinity())
                // A gain in hand beats the same gain one pair later, which the
                // opponent's counter gems may spoil.
                value =
                    ImmediateGainBonus * BoardEvaluator::landingGain(landing, m_settings.Weights) +
                    bestSecond;
        }
        if (!result.Found || value > result.Value) {
            result.Found = true;
            result.Value = value;
            result.Best = first;
        }
    }
    return result;
}

} // namespace gemvolt::bot
