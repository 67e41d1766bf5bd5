#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gemvolt::common {

/**
 * Blank-signed number text: a value of zero or more is a blank and its digits
 * (" 7", " 0", " 120"), a negative one "-" and its digits ("-3").
 */
std::string toNumberText(std::int64_t value);

/**
 * Identifier text: plain decimal digits with no blank and no leading zeros
 * ("7", "-3"). Also the form of wins and losses. Compared character by
 * character in places, so every producer must use this one function.
 */
std::string toIdText(std::int64_t value);

/**
 * The numeric value of a text: leading blanks are skipped, an optional sign
 * and the decimal digits are read, reading stops at the first other
 * character, and a text with no number reads as 0. So "07" is 7, " 120" is
 * 120, "95 - Alice" is 95, "N/A" is 0. Values beyond 64 bits saturate.
 */
std::int64_t numberValue(std::string_view text);

/** numberValue clamped into the 32-bit range, for fields that are 32 bits wide. */
std::int32_t numberValue32(std::string_view text);

/** A count shown with at least two digits: 7 is "07", 12 is "12", 0 is "00". */
std::string toTwoDigitText(std::int64_t value);

} // namespace gemvolt::common
