#pragma once

#include "Common/NumberField.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace gemvolt::common {

/** The shapes a field takes on the wire. */
enum class WireKind {
    U8,     ///< one unsigned byte
    I16,    ///< two bytes, signed, little-endian
    I32,    ///< four bytes, signed, little-endian
    Text,   ///< a string field: u32 byte count, then the bytes
    Number, ///< a number text, carried as a string field and kept as received
    Repeat, ///< a fixed number of records, one after the other, no count
    List,   ///< a count, then that many records
};

/** How a list's count travels in front of its entries. */
enum class WireCount {
    LastIndexI16, ///< an i16 holding the entries minus one: 1 to 32768 entries, never none
    I16,          ///< an i16 holding the entries: 0 to 32767
    NumberText,   ///< a blank-signed number text; only that one form of a number is read
};

/** How a list's entries follow its count. */
enum class WireOrder {
    Rows,    ///< entry after entry, each with all its fields
    Columns, ///< the first field of every entry, then the second of every entry, ...
};

/**
 * One field of record S in its wire layout: the member, its shape, and the
 * words a rejection uses for it ("the board number"). A record lists its
 * fields once, in wire order, in a static fields() function; the encoder and
 * the decoder both walk that list, so the two cannot disagree on a layout.
 * Records inside a Repeat or List field list their own fields the same way.
 */
template <WireKind K, class S, class T> struct WireField {
    static constexpr WireKind Kind = K;
    using Record = S;
    using Value = T;

    T S::*Member;
    const char* Label;
    WireCount Count = WireCount::I16;
    WireOrder Order = WireOrder::Rows;
};

/** The builders a record's fields() uses; each accepts only members of its own type. */
namespace wire {

template <class S> constexpr auto u8(std::uint8_t S::*member, const char* label) {
    return WireField<WireKind::U8, S, std::uint8_t>{member, label};
}
template <class S> constexpr auto i16(std::int16_t S::*member, const char* label) {
    return WireField<WireKind::I16, S, std::int16_t>{member, label};
}
template <class S> constexpr auto i32(std::int32_t S::*member, const char* label) {
    return WireField<WireKind::I32, S, std::int32_t>{member, label};
}
template <class S> constexpr auto text(std::string S::*member, const char* label) {
    return WireField<WireKind::Text, S, std::string>{member, label};
}
template <class S> constexpr auto number(NumberField S::*member, const char* label) {
    return WireField<WireKind::Number, S, NumberField>{member, label};
}
/** N records of type E; the labels are E's own. */
template <class S, class E, std::size_t N> constexpr auto repeat(std::array<E, N> S::*member) {
    return WireField<WireKind::Repeat, S, std::array<E, N>>{member, ""};
}
/** A counted list of records of type E; `label` names the count. */
template <class S, class E>
constexpr auto list(std::vector<E> S::*member, WireCount count, const char* label,
                    WireOrder order = WireOrder::Rows) {
    return WireField<WireKind::List, S, std::vector<E>>{member, label, count, order};
}

/** Bytes the count of a list takes. */
constexpr std::size_t countSize(WireCount count) {
    return count == WireCount::NumberText ? 4 : 2;
}

template <class S> constexpr std::size_t minSize();

/** The fewest bytes one field can take: what a decoder may count on before reserving. */
template <WireKind K, class S, class T> constexpr std::size_t minSize(const WireField<K, S, T>& f) {
    if constexpr (K == WireKind::U8) {
        return 1;
    } else if constexpr (K == WireKind::I16) {
        return 2;
    } else if constexpr (K == WireKind::I32 || K == WireKind::Text || K == WireKind::Number) {
        return 4;
    } else if constexpr (K == WireKind::Repeat) {
        return std::tuple_size_v<T> * minSize<typename T::value_type>();
    } else {
        static_assert(K == WireKind::List, "every field kind has a smallest size");
        return countSize(f.Count) +
               (f.Count == WireCount::LastIndexI16 ? minSize<typename T::value_type>() : 0);
    }
}

/** The fewest bytes a record of type S can take on the wire. */
template <class S> constexpr std::size_t minSize() {
    return std::apply([](const auto&... f) { return (std::size_t{0} + ... + minSize(f)); },
                      S::fields());
}

} // namespace wire

} // namespace gemvolt::common
