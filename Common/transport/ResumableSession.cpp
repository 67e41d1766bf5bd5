#include "Common/transport/ResumableSession.h"

#include "Common/transport/ControlMessages.h"
#include "Common/transport/WireFormat.h"

namespace gemvolt::transport {

bool ResumableSession::keep(const QByteArray& frames, std::uint32_t count) {
    if (count == 0) {
        return true;
    }
    if (!hasRoomFor(frames.size())) {
        return false;
    }
    m_kept.push_back({frames, m_sent + 1, count});
    m_keptBytes += frames.size();
    m_sent += count;
    return true;
}

bool ResumableSession::acknowledge(std::uint32_t count) {
    if (count > m_sent) {
        return false;
    }
    if (count <= m_acknowledged) {
        return true;
    }
    m_acknowledged = count;
    // A run is forgotten once all of it is acknowledged; a run acknowledged in
    // part stays whole (it is at most one batch) and is cut when it is sent again.
    while (!m_kept.empty() && m_kept.front().first + m_kept.front().count - 1 <= count) {
        m_keptBytes -= m_kept.front().bytes.size();
        m_kept.pop_front();
    }
    return true;
}

QByteArray ResumableSession::framesAfter(std::uint32_t count) const {
    QByteArray out;
    for (const Chunk& chunk : m_kept) {
        const std::uint32_t last = chunk.first + chunk.count - 1;
        if (last <= count) {
            continue;
        }
        if (chunk.first > count) {
            out += chunk.bytes;
            continue;
        }
        // The peer has the first frames of this run: skip them by their headers
        // (the frames are our own, so their lengths are sound).
        qsizetype at = 0;
        for (std::uint32_t n = chunk.first; n <= count; ++n) {
            at += qsizetype(FrameHeaderSize - 1) + qsizetype(getU32(chunk.bytes.constData() + at));
        }
        out += chunk.bytes.mid(at);
    }
    return out;
}

void ResumableSession::replaceToken(std::string next, std::string_view resumedWith) {
    m_previousToken.assign(resumedWith);
    m_token = std::move(next);
}

bool ResumableSession::resumesWith(std::string_view token) const {
    // Both are compared whatever the first gives, so the time taken tells nothing.
    const bool current = sameResumeToken(m_token, token);
    const bool previous = !m_previousToken.empty() && sameResumeToken(m_previousToken, token);
    return !token.empty() && (current || previous);
}

} // namespace gemvolt::transport
