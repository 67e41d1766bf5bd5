#include "Common/transport/WireFormat.h"

namespace gemvolt::transport {

void appendFrame(std::string& out, FrameKind kind, std::string_view body) {
    char header[FrameHeaderSize];
    writeFrameHeader(header, kind, body.size());
    out.append(header, FrameHeaderSize);
    out.append(body);
}

std::string encodeFrame(FrameKind kind, std::string_view body) {
    std::string out;
    out.reserve(FrameHeaderSize + body.size());
    appendFrame(out, kind, body);
    return out;
}

} // namespace gemvolt::transport
