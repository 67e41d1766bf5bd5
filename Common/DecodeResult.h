#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace gemvolt::common {

/** Why a received message was rejected. */
enum class DecodeError {
    Empty,          ///< no bytes at all, so no type byte
    UnknownType,    ///< a type byte no message has
    WrongType,      ///< a decoder for one type was handed another type
    WrongDirection, ///< a type that never travels in this direction (a client's roster)
    Truncated,      ///< the message ends inside a fixed-size field
    StringPastEnd,  ///< a string field's byte count runs past the end of the message
    NegativeCount,  ///< a repeat count below zero
    CountTooLarge,  ///< a repeat count that the remaining bytes cannot possibly hold
    BadCount,       ///< a count text that is not a plain blank-signed number
    TrailingBytes,  ///< bytes left over after the last field of the layout
};

/** A short name for the error, for logs and test output ("Truncated"). */
const char* decodeErrorName(DecodeError error);

/** The rejection of a message: what went wrong, where, and a readable reason. */
struct DecodeFailure {
    DecodeError Error = DecodeError::Empty;
    std::size_t Offset = 0; ///< byte offset of the field that could not be read
    int TypeByte = -1;      ///< the message's first byte, -1 for an empty message
    std::string Reason;     ///< one line for a person: what was wrong and where
};

/**
 * Either a fully decoded message or the reason it was rejected, never both
 * and never a half-filled message.
 */
template <class T> class DecodeResult {
public:
    DecodeResult(T value) : m_state(std::move(value)) {}
    DecodeResult(DecodeFailure failure) : m_state(std::move(failure)) {}

    /** True when the message was decoded whole. */
    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    /** The decoded message; std::logic_error when the decoding failed. */
    const T& value() const& {
        check();
        return std::get<T>(m_state);
    }
    T& value() & {
        check();
        return std::get<T>(m_state);
    }
    T&& value() && {
        check();
        return std::get<T>(std::move(m_state));
    }
    const T* operator->() const { return &value(); }
    const T& operator*() const { return value(); }

    /** The rejection; std::logic_error when the decoding succeeded. */
    const DecodeFailure& failure() const {
        if (ok()) {
            throw std::logic_error("DecodeResult: no failure, the message was decoded");
        }
        return std::get<DecodeFailure>(m_state);
    }

    /** Shorthands for failure().Error and failure().Reason. */
    DecodeError error() const { return failure().Error; }
    const std::string& reason() const { return failure().Reason; }

private:
    void check() const {
        if (!ok()) {
            throw std::logic_error("DecodeResult: message rejected: " +
                                   std::get<DecodeFailure>(m_state).Reason);
        }
    }

    std::variant<T, DecodeFailure> m_state;
};

} // namespace gemvolt::common
