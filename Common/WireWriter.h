#pragma once

#include "Common/MessageBuffer.h"
#include "Common/WireField.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>

namespace gemvolt::common {

/**
 * Writes one message: its type byte, then the fields of a record as its
 * fields() lists them. A list too long for its count throws
 * std::length_error naming the message; nothing else fails.
 */
class WireWriter {
public:
    WireWriter(std::uint8_t typeByte, const char* message) : m_message(message) {
        m_position = Begin(m_bytes);
        PutRaw(m_bytes, typeByte, 1, m_position);
    }

    void u8(std::uint8_t value) { PutRaw(m_bytes, value, 1, m_position); }
    void i16(std::int16_t value) { PutRaw(m_bytes, value, 2, m_position); }
    void i32(std::int32_t value) { PutRaw(m_bytes, value, 4, m_position); }
    void text(std::string_view value) { PutString(m_bytes, value, m_position); }
    void number(const NumberField& value) { text(value.text()); }

    /** Every field of `record`, in wire order. */
    template <class S> void record(const S& record) {
        static constexpr auto Fields = S::fields();
        std::apply([&](const auto&... f) { (field(f, record), ...); }, Fields);
    }

    Bytes take() { return std::move(m_bytes); }

private:
    template <WireKind K, class S, class T> void field(const WireField<K, S, T>& f, const S& s) {
        const T& value = s.*f.Member;
        if constexpr (K == WireKind::U8) {
            u8(value);
        } else if constexpr (K == WireKind::I16) {
            i16(value);
        } else if constexpr (K == WireKind::I32) {
            i32(value);
        } else if constexpr (K == WireKind::Text) {
            text(value);
        } else if constexpr (K == WireKind::Number) {
            number(value);
        } else if constexpr (K == WireKind::Repeat) {
            for (const auto& entry : value) {
                record(entry);
            }
        } else {
            static_assert(K == WireKind::List, "every field kind can be written");
            count(f.Count, value.size());
            if (f.Order == WireOrder::Rows) {
                for (const auto& entry : value) {
                    record(entry);
                }
            } else {
                using E = typename T::value_type;
                static constexpr auto Columns = E::fields();
                std::apply(
                    [&](const auto&... column) {
                        (([&] {
                             for (const E& entry : value) {
                                 field(column, entry);
                             }
                         }()),
                         ...);
                    },
                    Columns);
            }
        }
    }

    void count(WireCount form, std::size_t entries) {
        constexpr std::size_t I16Max = std::numeric_limits<std::int16_t>::max();
        switch (form) {
        case WireCount::LastIndexI16:
            if (entries == 0 || entries - 1 > I16Max) {
                throw std::length_error(std::string(m_message) + ": 1 to 32768 entries");
            }
            i16(static_cast<std::int16_t>(entries - 1));
            break;
        case WireCount::I16:
            if (entries > I16Max) {
                throw std::length_error(std::string(m_message) + ": at most 32767 entries");
            }
            i16(static_cast<std::int16_t>(entries));
            break;
        case WireCount::NumberText:
            number(NumberField::number(static_cast<std::int64_t>(entries)));
            break;
        }
    }

    Bytes m_bytes;
    std::size_t m_position = 0;
    const char* m_message;
};

} // namespace gemvolt::common
