// Feeds arbitrary bytes to everything that reads from the network: the frame
// reader (in pieces whose sizes come from the input itself) and the decoders
// of every handshake and liveness body.
#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace gemvolt::transport;

namespace {

void decodeBody(FrameKind kind, std::string_view body) {
    switch (kind) {
    case FrameKind::Hello: {
        Hello hello;
        std::uint16_t version = 0;
        (void)peekHelloVersion(body, version);
        if (decodeHello(body, hello)) {
            (void)isValidPlayerName(hello.playerName);
        }
        break;
    }
    case FrameKind::Welcome: {
        Welcome welcome;
        (void)decodeWelcome(body, welcome);
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

    // The input as one body: the first byte picks the decoder.
    if (!input.empty()) {
        const auto kind = static_cast<std::uint8_t>(input[0]);
        if (isKnownFrameKind(kind)) {
            decodeBody(static_cast<FrameKind>(kind), input.substr(1));
        }
        (void)isValidUtf8(input.substr(1));
    }
    return 0;
}
