#include "Common/WireReader.h"

#include "Common/NumberText.h"

namespace gemvolt::common {

namespace {

constexpr std::size_t StringHeader = 4;

} // namespace

std::optional<std::size_t> WireReader::count(WireCount form, std::size_t entrySize,
                                             const char* field) {
    if (failed()) {
        return std::nullopt;
    }
    const std::size_t at = m_position;
    std::int64_t value = 0;
    switch (form) {
    case WireCount::LastIndexI16: {
        std::int16_t last = 0;
        i16(last, field);
        // The last index is the count minus one: a list of this form always
        // names at least one entry, so -1 (none) is refused as well.
        if (!failed() && last < 0) {
            fail(DecodeError::NegativeCount, at,
                 std::string(field) + " is negative (" + std::to_string(last) + ")");
        }
        value = std::int64_t{last} + 1;
        break;
    }
    case WireCount::I16: {
        std::int16_t entries = 0;
        i16(entries, field);
        value = entries;
        break;
    }
    case WireCount::NumberText: {
        std::string text;
        this->text(text, field);
        if (failed()) {
            return std::nullopt;
        }
        // The count is rebuilt from the entries when the message is passed on,
        // so only its one usual form keeps the bytes the same.
        value = numberValue(text);
        if (text != toNumberText(value)) {
            fail(DecodeError::BadCount, at,
                 std::string(field) + " \"" + text.substr(0, 32) + "\" is not a number text");
        }
        break;
    }
    }
    if (failed()) {
        return std::nullopt;
    }
    if (value < 0) {
        fail(DecodeError::NegativeCount, at,
             std::string(field) + " is negative (" + std::to_string(value) + ")");
        return std::nullopt;
    }
    const auto wanted = static_cast<std::uint64_t>(value);
    if (wanted > remaining() / entrySize) {
        fail(DecodeError::CountTooLarge, at,
             std::string(field) + " calls for " + std::to_string(value) + " entries of at least " +
                 std::to_string(entrySize) + " bytes each but only " + std::to_string(remaining()) +
                 " remain");
        return std::nullopt;
    }
    return static_cast<std::size_t>(wanted);
}

void WireReader::fail(DecodeError error, std::size_t at, const std::string& what) {
    if (failed()) {
        return;
    }
    DecodeFailure failure;
    failure.Error = error;
    failure.Offset = at;
    failure.TypeByte = m_bytes.empty() ? -1 : m_bytes[0];
    failure.Reason = std::string(m_message) + ": " + what + " at byte " + std::to_string(at);
    m_failure = std::move(failure);
}

void WireReader::failTruncated(std::size_t at, int width, const char* field) {
    fail(DecodeError::Truncated, at,
         std::string("ends inside ") + field + " (needs " + std::to_string(width) + " bytes, " +
             std::to_string(m_bytes.size() - at) + " left)");
}

void WireReader::failString(std::size_t at, const char* field) {
    if (m_bytes.size() - at < StringHeader) {
        fail(DecodeError::Truncated, at,
             std::string("ends inside the byte count of ") + field + " (needs 4 bytes, " +
                 std::to_string(m_bytes.size() - at) + " left)");
        return;
    }
    std::size_t countAt = at;
    const auto count = static_cast<std::uint32_t>(*GetRaw(m_bytes, 4, countAt));
    fail(DecodeError::StringPastEnd, at,
         std::string(field) + " claims " + std::to_string(count) + " bytes but only " +
             std::to_string(m_bytes.size() - countAt) + " remain");
}

} // namespace gemvolt::common
