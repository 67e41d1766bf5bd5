#include "Common/DecodeResult.h"

namespace gemvolt::common {

const char* decodeErrorName(DecodeError error) {
    switch (error) {
    case DecodeError::Empty:
        return "Empty";
    case DecodeError::UnknownType:
        return "UnknownType";
    case DecodeError::WrongType:
        return "WrongType";
    case DecodeError::WrongDirection:
        return "WrongDirection";
    case DecodeError::Truncated:
        return "Truncated";
    case DecodeError::StringPastEnd:
        return "StringPastEnd";
    case DecodeError::NegativeCount:
        return "NegativeCount";
    case DecodeError::CountTooLarge:
        return "CountTooLarge";
    case DecodeError::BadCount:
        return "BadCount";
    case DecodeError::TrailingBytes:
        return "TrailingBytes";
    }
    return "?";
}

} // namespace gemvolt::common
