#pragma once

#include <cstdint>
#include <random>

namespace gemvolt::board {

/**
 * The game's pseudo-random source: deterministic and never seeded, so the n-th
 * pair of a run is the same on every run and every machine, and any tool can
 * predict it. A Mersenne twister with its default seed; each draw becomes a
 * single-precision value in [0, 1) from its top 24 bits. Copying it copies the
 * sequence position, so a copied game draws on without advancing this one.
 */
class RandomSource {
public:
    /** The next raw 32-bit draw. */
    std::uint32_t nextRaw() { return static_cast<std::uint32_t>(m_engine()); }

    /** The next value in [0, 1): float(draw >> 8) / 2^24, the same everywhere. */
    float nextSingle();

    /** The integer part of nextSingle() × n, so 0 .. n-1, each equally likely. */
    int nextBelow(int n) { return static_cast<int>(nextSingle() * static_cast<float>(n)); }

private:
    std::mt19937 m_engine; // default seed 5489
};

} // namespace gemvolt::board
