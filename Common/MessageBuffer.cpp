#include "Common/MessageBuffer.h"

#include <limits>
#include <stdexcept>

namespace gemvolt::common {

namespace {

bool validWidth(int width) {
    return width == 1 || width == 2 || width == 4;
}

// True when `count` bytes starting at `position` lie inside `size` bytes,
// written so that no sum can overflow.
bool fits(std::size_t size, std::size_t position, std::size_t count) {
    return position <= size && count <= size - position;
}

} // namespace

std::size_t Begin(Bytes& buffer) {
    buffer.clear();
    return 0;
}

void PutRaw(Bytes& buffer, std::int64_t value, int width, std::size_t& position) {
    if (!validWidth(width)) {
        throw std::invalid_argument("PutRaw: width must be 1, 2 or 4");
    }
    const auto w = static_cast<std::size_t>(width);
    if (buffer.size() < position + w) {
        buffer.resize(position + w);
    }
    const auto bits = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < w; ++i) {
        buffer[position + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    position += w;
}

void PutString(Bytes& buffer, std::string_view text, std::size_t& position) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("PutString: text longer than a string field can carry");
    }
    PutRaw(buffer, static_cast<std::int64_t>(text.size()), 4, position);
    if (buffer.size() < position + text.size()) {
        buffer.resize(position + text.size());
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        buffer[position + i] = static_cast<std::uint8_t>(text[i]);
    }
    position += text.size();
}

std::optional<std::int32_t> GetRaw(ByteView bytes, int width, std::size_t& position) {
    if (!validWidth(width) || !fits(bytes.size(), position, static_cast<std::size_t>(width))) {
        return std::nullopt;
    }
    std::uint32_t bits = 0;
    for (int i = 0; i < width; ++i) {
        bits |= static_cast<std::uint32_t>(bytes[position + static_cast<std::size_t>(i)])
                << (8 * i);
    }
    position += static_cast<std::size_t>(width);
    switch (width) {
    case 1:
        return static_cast<std::int32_t>(bits);
    case 2:
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
    default:
        return static_cast<std::int32_t>(bits);
    }
}

std::optional<std::string> GetString(ByteView bytes, std::size_t& position) {
    std::size_t at = position;
    const auto count = GetRaw(bytes, 4, at);
    if (!count) {
        return std::nullopt;
    }
    const std::size_t length = static_cast<std::uint32_t>(*count);
    if (!fits(bytes.size(), at, length)) {
        return std::nullopt;
    }
    std::string text;
    if (length > 0) {
        text.assign(reinterpret_cast<const char*>(bytes.data() + at), length);
    }
    position = at + length;
    return text;
}

} // namespace gemvolt::common
