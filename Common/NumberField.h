#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace gemvolt::common {

/**
 * A numeric field of a message as the text that travels. Decoding keeps the
 * text exactly as received, so a message passed on is byte for byte what its
 * sender wrote even when the text is not in the usual form ("07", "", "x").
 * Builders make the text from a number with the form the layout asks for.
 */
class NumberField {
public:
    NumberField() = default;

    /** Keeps `text` as it is. */
    explicit NumberField(std::string text) : m_text(std::move(text)) {}

    /** Blank-signed number text: " 7", "-3" (board numbers, colours, shapes, counts). */
    static NumberField number(std::int64_t value);

    /** Identifier text, plain decimal: "7", "-3" (identifiers, wins, losses). */
    static NumberField id(std::int64_t value);

    /** The text exactly as built or received. */
    const std::string& text() const { return m_text; }

    /** The numeric value of the text; a text with no number reads as 0. */
    std::int64_t value() const;

    /** value() clamped into 32 bits, for identifiers, colours and counts. */
    std::int32_t value32() const;

    friend bool operator==(const NumberField&, const NumberField&) = default;

private:
    std::string m_text;
};

} // namespace gemvolt::common
