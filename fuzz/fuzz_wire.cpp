// Feeds arbitrary bytes to everything that reads from the network: the frame
// reader (in pieces whose sizes come from the input itself), the decoders of
// every handshake, liveness and acknowledgement body of either protocol
// version, and every message decoder. A message that
// decodes must encode back to the very bytes it came from, since the server
// relays messages that way, and the in-place check must accept exactly what
// the decoder accepts; anything else is reported as a crash.
#include "Common/MessageCodec.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

using namespace gemvolt::transport;
namespace common = gemvolt::common;

namespace {

void requireSameBytes(const common::Bytes& again, common::ByteView original) {
    if (!std::equal(again.begin(), again.end(), original.begin(), original.end())) {
        std::abort();
    }
}

void requireSameText(const std::string& again, std::string_view original) {
    if (again != original) {
        std::abort();
    }
}

template <class M> void decodeAs(common::ByteView bytes) {
    const auto result = common::decode<M>(bytes);
    if (result.ok()) {
        requireSameBytes(common::encode(result.value()), bytes);
    }
    // The in-place check stands in for the decoder where a message is only
    // passed on, so it must accept exactly the same bytes.
    if (common::conforms<M>(bytes) != result.ok()) {
        std::abort();
    }
}

template <class Result> void requireRoundTrip(const Result& result, common::ByteView bytes) {
    if (result.ok()) {
        requireSameBytes(common::encode(result.value()), bytes);
    }
}

// Every form of the catalogue whose type byte the message starts with, in
// either direction: a message type added to the catalogue is fuzzed as well.
template <class... Ms> void decodeEveryForm(common::ByteView bytes, std::variant<Ms...>*) {
    ((bytes[0] == static_cast<std::uint8_t>(Ms::Type) ? decodeAs<Ms>(bytes) : void()), ...);
}

// One application message, as a DATA frame carries it.
void decodeMessage(std::string_view body) {
    const common::ByteView bytes = common::byteView(body.data(), body.size());
    for (common::Direction direction :
         {common::Direction::ClientToServer, common::Direction::ServerToClient}) {
        requireRoundTrip(common::decodeMessage(bytes, direction), bytes);
    }
    requireRoundTrip(common::decodeFromClient(bytes), bytes);
    requireRoundTrip(common::decodeFromServer(bytes), bytes);
    if (!body.empty()) {
        decodeEveryForm(bytes, static_cast<common::AnyMessage*>(nullptr));
    }
}

void decodeBody(FrameKind kind, std::string_view body) {
    switch (kind) {
    case FrameKind::Hello: {
        Hello hello;
        std::uint16_t version = 0;
        (void)peekHelloVersion(body, version);
        if (decodeHello(body, hello)) {
            (void)isValidPlayerName(hello.playerName);
            (void)isWellFormedResumeToken(hello.resumeToken);
            // The layout follows the version (the resume fields from version 2 on), and a
            // HELLO that decodes is exactly the bytes its fields make.
            requireSameText(encodeHello(hello), body);
        }
        break;
    }
    case FrameKind::Welcome: {
        // Which layout a WELCOME has is the HELLO's version: read it as either.
        for (std::uint16_t version : {ProtocolVersion, ResumableProtocolVersion}) {
            Welcome welcome;
            if (decodeWelcome(body, welcome, version)) {
                (void)isWellFormedResumeToken(welcome.resumeToken);
                requireSameText(encodeWelcome(welcome), body);
            }
        }
        break;
    }
    case FrameKind::Ack: {
        std::uint32_t count = 0;
        if (decodeToken(body, count)) {
            requireSameText(encodeToken(count), body);
        }
        break;
    }
    case FrameKind::Refuse: {
        Refuse refuse;
        (void)decodeRefuse(body, refuse);
        break;
    }
    case FrameKind::Ping:
    case FrameKind::Pong: {
        std::uint32_t token = 0;
        (void)decodeToken(body, token);
        break;
    }
    case FrameKind::Bye:
        (void)decodeBye(body);
        break;
    case FrameKind::Data:
        decodeMessage(body);
        break;
    }
}

void readStream(std::string_view input, std::size_t piece) {
    FrameReader reader;
    std::size_t pos = 0;
    while (pos < input.size()) {
        const std::size_t n = std::min(piece, input.size() - pos);
        reader.append(input.substr(pos, n));
        pos += n;
        Frame frame;
        FrameReader::Result result;
        while ((result = reader.next(frame)) == FrameReader::Result::FrameReady) {
            decodeBody(frame.kind, frame.body);
        }
        if (result == FrameReader::Result::Error) {
            return;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The whole input as a stream, at once and in small pieces.
    readStream(input, input.size() + 1);
    if (!input.empty()) {
        readStream(input, 1 + static_cast<std::uint8_t>(input[0]) % 17);
    }

    // The input as one application message, and as one body whose first byte
    // picks the frame kind.
    decodeMessage(input);
    if (!input.empty()) {
        const auto kind = static_cast<std::uint8_t>(input[0]);
        if (isKnownFrameKind(kind)) {
            decodeBody(static_cast<FrameKind>(kind), input.substr(1));
        }
        (void)isValidUtf8(input.substr(1));
    }
    return 0;
}
