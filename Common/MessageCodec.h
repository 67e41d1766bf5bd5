#pragma once

#include "Common/DecodeResult.h"
#include "Common/MessageBuffer.h"
#include "Common/Messages.h"

namespace gemvolt::common {

/**
 * Encoding and decoding of the message catalogue.
 *
 * encode() writes the type byte and the fields in layout order. decode<M>()
 * accepts exactly one whole message of type M: a message shorter than its
 * layout, a string running past the end, a wrong type byte, a negative or
 * impossible count, or bytes left over are rejected whole with the reason.
 * Nothing is read outside the bytes given, and no list is reserved before the
 * bytes that remain are known to be able to hold it.
 *
 * For every message decode<M>() accepts, encode() of the result gives back
 * the very same bytes; that is what lets the server relay a fighter's board
 * byte for byte.
 */

Bytes encode(const MsgChat& message);
Bytes encode(const MsgRoster& message); ///< std::length_error unless 1 to 32768 entries
Bytes encode(const MsgPlayerLeft& message);
Bytes encode(const MsgStandings& message); ///< std::length_error beyond 32767 rows
Bytes encode(const MsgAttackPattern& message);
Bytes encode(const MsgAttackPatternToAll& message);
Bytes encode(const MsgBoardState& message);
Bytes encode(const MsgNextPair& message);
Bytes encode(const MsgCounterAttack& message);
Bytes encode(const MsgCounterAttackToAll& message);
Bytes encode(const MsgStats& message);
Bytes encode(const MsgGameOver& message);
Bytes encode(const MsgReady& message);
Bytes encode(const MsgReadyToAll& message);
Bytes encode(const AnyMessage& message);

/**
 * Decodes `bytes` as one message of type M (any of the structs of the
 * catalogue; the type byte included).
 */
template <class M> DecodeResult<M> decode(ByteView bytes);

/**
 * Decodes any message travelling in `direction`, choosing the layout by the
 * first byte. From a client, types 2 and 4 are rejected (WrongDirection) and
 * types 5, 8 and 11 are read in their client form; from the server, in their
 * ...ToAll form. messageType() of the result tells which message it was; a
 * rejection carries the type byte when there was one.
 */
DecodeResult<AnyMessage> decodeMessage(ByteView bytes, Direction direction);

} // namespace gemvolt::common
