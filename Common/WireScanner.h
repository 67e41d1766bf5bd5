#pragma once

#include "Common/MessageBuffer.h"
#include "Common/NumberText.h"
#include "Common/WireField.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>

namespace gemvolt::common {

/**
 * Walks the fields of one message in order, as WireReader reads them, and
 * accepts exactly the bytes it accepts, but keeps nothing: no text is copied
 * and no list is made. What a message that is only passed on costs is then
 * one pass over its bytes. The first failure stops the walk; why it failed is
 * WireReader's to tell.
 */
class WireScanner {
public:
    explicit WireScanner(ByteView bytes) : m_bytes(bytes) {}

    bool failed() const { return m_failed; }
    std::size_t remaining() const { return m_bytes.size() - m_position; }

    /** Steps over `width` bytes; nothing past the end. */
    void skip(std::size_t width) {
        if (m_failed || width > remaining()) {
            m_failed = true;
            return;
        }
        m_position += width;
    }

    /** Steps over a string field; its text, in place, until the bytes go. */
    std::string_view text() {
        const std::size_t at = m_position;
        skip(4);
        if (m_failed) {
            return {};
        }
        const std::size_t length = std::size_t(m_bytes[at]) | std::size_t(m_bytes[at + 1]) << 8 |
                                   std::size_t(m_bytes[at + 2]) << 16 |
                                   std::size_t(m_bytes[at + 3]) << 24;
        const std::size_t start = m_position;
        skip(length);
        if (m_failed) {
            return {};
        }
        return {reinterpret_cast<const char*>(m_bytes.data() + start), length};
    }

    /** Every field of a record of type S, in wire order. */
    template <class S> void record() {
        static constexpr auto Fields = S::fields();
        std::apply([&](const auto&... f) { (field(f), ...); }, Fields);
    }

    /** One field of its record; a Number or Text field's text is then lastText(). */
    template <WireKind K, class S, class T> void field(const WireField<K, S, T>& f) {
        if (m_failed) {
            return;
        }
        if constexpr (K == WireKind::U8) {
            skip(1);
        } else if constexpr (K == WireKind::I16) {
            skip(2);
        } else if constexpr (K == WireKind::I32) {
            skip(4);
        } else if constexpr (K == WireKind::Text || K == WireKind::Number) {
            m_lastText = text();
        } else if constexpr (K == WireKind::Repeat) {
            for (std::size_t i = 0; i < std::tuple_size_v<T> && !m_failed; ++i) {
                record<typename T::value_type>();
            }
        } else {
            static_assert(K == WireKind::List, "every field kind can be stepped over");
            using E = typename T::value_type;
            const std::size_t entries = count(f.Count, wire::minSize<E>());
            if (f.Order == WireOrder::Rows) {
                for (std::size_t i = 0; i < entries && !m_failed; ++i) {
                    record<E>();
                }
            } else {
                static constexpr auto Columns = E::fields();
                std::apply(
                    [&](const auto&... column) {
                        (([&] {
                             for (std::size_t i = 0; i < entries && !m_failed; ++i) {
                                 field(column);
                             }
                         }()),
                         ...);
                    },
                    Columns);
            }
        }
    }

    /** The text of the last Number or Text field stepped over. */
    std::string_view lastText() const { return m_lastText; }

private:
    // A list's count under WireReader::count()'s rules; 0 after a failure.
    std::size_t count(WireCount form, std::size_t entrySize) {
        std::int64_t value = 0;
        const std::size_t at = m_position;
        switch (form) {
        case WireCount::LastIndexI16:
            skip(2);
            value = m_failed ? 0 : std::int64_t{i16At(at)} + 1;
            // A list of this form names at least one entry.
            m_failed = m_failed || value < 1;
            break;
        case WireCount::I16:
            skip(2);
            value = m_failed ? 0 : i16At(at);
            break;
        case WireCount::NumberText: {
            const std::string_view digits = text();
            value = m_failed ? 0 : numberValue(digits);
            // Only the one usual form of a count keeps the bytes when the list is built again.
            m_failed = m_failed || digits != toNumberText(value);
            break;
        }
        }
        if (m_failed || value < 0 || static_cast<std::uint64_t>(value) > remaining() / entrySize) {
            m_failed = true;
            return 0;
        }
        return static_cast<std::size_t>(value);
    }

    std::int16_t i16At(std::size_t at) const {
        return static_cast<std::int16_t>(
            static_cast<std::uint16_t>(m_bytes[at] | m_bytes[at + 1] << 8));
    }

    ByteView m_bytes;
    std::size_t m_position = 0;
    bool m_failed = false;
    std::string_view m_lastText;
};

} // namespace gemvolt::common
