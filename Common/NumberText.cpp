#include "Common/NumberText.h"

#include <algorithm>
#include <limits>

namespace gemvolt::common {

std::string toNumberText(std::int64_t value) {
    if (value < 0) {
        return std::to_string(value);
    }
    return " " + std::to_string(value);
}

std::string toIdText(std::int64_t value) {
    return std::to_string(value);
}

std::int64_t numberValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that the most negative value fits too.
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    std::int64_t acc = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (saturated || acc < (lowest + digit) / 10) {
            saturated = true;
            continue;
        }
        acc = acc * 10 - digit;
    }
    if (saturated) {
        return negative ? lowest : std::numeric_limits<std::int64_t>::max();
    }
    if (negative) {
        return acc;
    }
    return acc == lowest ? std::numeric_limits<std::int64_t>::max() : -acc;
}

std::int32_t numberValue32(std::string_view text) {
    const std::int64_t v = numberValue(text);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::string toTwoDigitText(std::int64_t value) {
    if (value >= 0 && value < 10) {
        return "0" + std::to_string(value);
    }
    return std::to_string(value);
}

} // namespace gemvolt::common
