#pragma once

#include "Common/GemCell.h"

#include <cstdint>

namespace gemvolt::board {

/** One next-pair cell: the gem it shows, kept as the widget's outline shape and fill colour. */
struct NextGemCell {
    std::int16_t Shape = common::ShapeNone;
    std::int32_t Color = 0;

    friend bool operator==(const NextGemCell&, const NextGemCell&) = default;
};

} // namespace gemvolt::board
