#pragma once

#include "Common/DecodeResult.h"
#include "Common/MessageBuffer.h"
#include "Common/WireField.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

namespace gemvolt::common {

/**
 * Reads the fields of one message in order and remembers the first failure;
 * every read after a failure is refused, so a decoder reads straight on and
 * checks once at the end. Nothing is read outside the bytes given, and no
 * list is made longer than the bytes that remain could possibly fill.
 */
class WireReader {
public:
    WireReader(ByteView bytes, const char* message) : m_bytes(bytes), m_message(message) {}

    bool failed() const { return m_failure.has_value(); }
    std::size_t position() const { return m_position; }
    std::size_t remaining() const { return m_bytes.size() - m_position; }

    /** The next `width` bytes (1, 2 or 4) as the wire's u8, i16 or i32; nothing past the end. */
    std::optional<std::int32_t> raw(int width, const char* field) {
        if (failed()) {
            return std::nullopt;
        }
        const std::size_t at = m_position;
        auto value = GetRaw(m_bytes, width, m_position);
        if (!value) {
            failTruncated(at, width, field);
        }
        return value;
    }

    void u8(std::uint8_t& out, const char* field) {
        if (auto v = raw(1, field)) {
            out = static_cast<std::uint8_t>(*v);
        }
    }
    void i16(std::int16_t& out, const char* field) {
        if (auto v = raw(2, field)) {
            out = static_cast<std::int16_t>(*v);
        }
    }
    void i32(std::int32_t& out, const char* field) {
        if (auto v = raw(4, field)) {
            out = *v;
        }
    }
    void text(std::string& out, const char* field) {
        if (failed()) {
            return;
        }
        const std::size_t at = m_position;
        if (auto value = GetString(m_bytes, m_position)) {
            out = std::move(*value);
            return;
        }
        failString(at, field);
    }
    void number(NumberField& out, const char* field) {
        std::string value;
        text(value, field);
        if (!failed()) {
            out = NumberField(std::move(value));
        }
    }

    /**
     * A list's count in its form: refuses a negative one, a number text not
     * in its usual form, and one whose entries, at `entrySize` bytes each at
     * the very least, cannot fit in what is left.
     */
    std::optional<std::size_t> count(WireCount form, std::size_t entrySize, const char* field);

    /** Every field of `record`, in wire order. */
    template <class S> void record(S& record) {
        static constexpr auto Fields = S::fields();
        std::apply([&](const auto&... f) { (field(f, record), ...); }, Fields);
    }

    /** Rejects the message (only the first failure counts). */
    void fail(DecodeError error, std::size_t at, const std::string& what);

    DecodeFailure takeFailure() { return std::move(*m_failure); }

private:
    template <WireKind K, class S, class T> void field(const WireField<K, S, T>& f, S& s) {
        T& value = s.*f.Member;
        if constexpr (K == WireKind::U8) {
            u8(value, f.Label);
        } else if constexpr (K == WireKind::I16) {
            i16(value, f.Label);
        } else if constexpr (K == WireKind::I32) {
            i32(value, f.Label);
        } else if constexpr (K == WireKind::Text) {
            text(value, f.Label);
        } else if constexpr (K == WireKind::Number) {
            number(value, f.Label);
        } else if constexpr (K == WireKind::Repeat) {
            for (auto& entry : value) {
                record(entry);
            }
        } else {
            static_assert(K == WireKind::List, "every field kind can be read");
            using E = typename T::value_type;
            const auto entries = count(f.Count, wire::minSize<E>(), f.Label);
            if (!entries) {
                return;
            }
            value.resize(*entries);
            if (f.Order == WireOrder::Rows) {
                for (E& entry : value) {
                    record(entry);
                }
            } else {
                static constexpr auto Columns = E::fields();
                std::apply(
                    [&](const auto&... column) {
                        (([&] {
                             for (E& entry : value) {
                                 field(column, entry);
                             }
                         }()),
                         ...);
                    },
                    Columns);
            }
        }
    }

    void failTruncated(std::size_t at, int width, const char* field);
    void failString(std::size_t at, const char* field);

    ByteView m_bytes;
    const char* m_message;
    std::size_t m_position = 0;
    std::optional<DecodeFailure> m_failure;
};

} // namespace gemvolt::common
