#include "Client/board/RandomSource.h"

namespace gemvolt::board {

float RandomSource::nextSingle() {
    // Not std::uniform_real_distribution: its output differs between standard libraries.
    return static_cast<float>(nextRaw() >> 8) / 16777216.0f;
}

} // namespace gemvolt::board
