#include "Common/transport/FrameReader.h"

#include <algorithm>

namespace gemvolt::transport {

void FrameReader::compact() {
    // Frames already handed out are dropped only when more bytes come, so a
    // body stays valid until then; what is left is at most one partial frame.
    if (m_start == 0) {
        return;
    }
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
    } else {
        m_buffer.erase(0, m_start);
    }
    m_start = 0;
}

void FrameReader::append(const char* data, std::size_t size) {
    compact();
    m_buffer.append(data, size);
}

char* FrameReader::prepare(std::size_t size) {
    compact();
    m_prepared = m_buffer.size();
    m_buffer.resize(m_prepared + size);
    return m_buffer.data() + m_prepared;
}

void FrameReader::commit(std::size_t written) {
    if (m_prepared + written < m_buffer.size()) {
        m_buffer.resize(m_prepared + written);
    }
    m_prepared = m_buffer.size();
}

FrameReader::Result FrameReader::next(Frame& frame) {
    if (m_error != FrameError::None) {
        return Result::Error;
    }
    const std::size_t available = m_buffer.size() - m_start;
    if (available < 4) {
        return Result::NeedMore;
    }
    const char* head = m_buffer.data() + m_start;
    const std::uint32_t length = getU32(head);
    if (length == 0 || length > m_maxLength) {
        m_error = FrameError::BadLength;
        return Result::Error;
    }
    if (available < 5) {
        return Result::NeedMore;
    }
    const auto kind = static_cast<std::uint8_t>(head[4]);
    if (!isKnownFrameKind(kind)) {
        m_error = FrameError::UnknownKind;
        return Result::Error;
    }
    if (available - 4 < length) {
        return Result::NeedMore;
    }
    frame.kind = static_cast<FrameKind>(kind);
    frame.body = std::string_view(head + FrameHeaderSize, length - 1);
    m_start += 4 + std::size_t(length);
    return Result::FrameReady;
}

void FrameReader::setMaxLength(std::uint32_t length) {
    m_maxLength = std::min(length, MaxFrameLength);
}

void FrameReader::reset() {
    m_maxLength = MaxFrameLength;
    m_buffer.clear();
    m_start = 0;
    m_prepared = 0;
    m_error = FrameError::None;
}

const char* describe(FrameError error) {
    switch (error) {
    case FrameError::None:
        return "no error";
    case FrameError::BadLength:
        return "frame length out of range";
    case FrameError::UnknownKind:
        return "unknown frame kind";
    }
    return "unknown error";
}

} // namespace gemvolt::transport
