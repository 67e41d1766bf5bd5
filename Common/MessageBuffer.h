#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gemvolt::common {

/** A message as it travels: its first byte is the message type. */
using Bytes = std::vector<std::uint8_t>;

/** A received message, read in place. */
using ByteView = std::span<const std::uint8_t>;

/** A view of bytes held as characters (a QByteArray's data, a std::string). */
inline ByteView byteView(const char* data, std::size_t size) {
    return {reinterpret_cast<const std::uint8_t*>(data), size};
}

/**
 * The five buffer operations every builder and handler of both programs uses.
 * Integers are little-endian. A string field is a u32 byte count followed by
 * that many bytes of UTF-8, no terminator, so the empty text is four zero
 * bytes and a reader finds the end of the field without knowing it in advance.
 *
 * Texts are carried as the bytes they are: nothing checks or repairs their
 * UTF-8, so a text passed on arrives exactly as it was sent, and whoever
 * shows a text decides what to do with bytes that are not valid UTF-8.
 *
 * Writers never fail on a valid width. Readers are bounds-checked: a read that
 * would pass the end of the bytes returns nothing and leaves the position
 * where it was, so a caller can never read outside the message.
 */

/** Empties the buffer and returns the initial write position, 0. */
std::size_t Begin(Bytes& buffer);

/**
 * Writes the low `width` bytes (1, 2 or 4) of `value` at `position`,
 * little-endian, growing the buffer as needed, and advances the position by
 * `width`. Any other width is a programming error: std::invalid_argument.
 */
void PutRaw(Bytes& buffer, std::int64_t value, int width, std::size_t& position);

/**
 * Writes `text` as a string field at `position` and advances the position past
 * it. A text longer than a u32 count can hold throws std::length_error.
 */
void PutString(Bytes& buffer, std::string_view text, std::size_t& position);

/**
 * Reads the `width` bytes (1, 2 or 4) at `position` and advances past them.
 * Width 1 reads an unsigned byte (0..255), widths 2 and 4 signed two's
 * complement integers, as the wire's u8, i16 and i32 fields are. Returns
 * nothing, position unchanged, when the bytes run out or the width is invalid.
 */
std::optional<std::int32_t> GetRaw(ByteView bytes, int width, std::size_t& position);

/**
 * Reads the string field at `position` and advances past it. Returns nothing,
 * position unchanged, when the count or the text would pass the end; the text
 * is only allocated once its count is known to fit in what remains.
 */
std::optional<std::string> GetString(ByteView bytes, std::size_t& position);

} // namespace gemvolt::common
