#include "bench/support/ProtocolClient.h"

#include "Common/transport/ControlMessages.h"
#include "Common/transport/WireFormat.h"
#include "bench/support/BenchSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gemvolt::bench {

using transport::FrameKind;

ProtocolClient::~ProtocolClient() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void ProtocolClient::connect(int epoll, int port, const std::string& name) {
    m_epoll = epoll;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        fail("connect failed");
    }
    // Every message goes out at once, as a measured latency must not wait for Nagle.
    int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.ptr = this;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_fd, &ev);
    transport::appendFrame(m_out, FrameKind::Hello,
                           transport::encodeHello({transport::ProtocolVersion,
                                                   std::string(transport::ApplicationId), name}));
    flush();
}

bool ProtocolClient::awaitWelcome(std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (m_playerId == 0) {
        if (std::chrono::steady_clock::now() > deadline || m_closed) {
            return false;
        }
        poll(m_epoll, 10);
    }
    return true;
}

void ProtocolClient::sendData(const common::Bytes& message) {
    transport::appendFrame(
        m_out, FrameKind::Data,
        std::string_view(reinterpret_cast<const char*>(message.data()), message.size()));
    flush();
}

void ProtocolClient::keepAlive() {
    constexpr std::int64_t IdleNs = 5'000'000'000;
    if (m_closed || m_fd < 0 || nowNs() - m_lastSentNs < IdleNs) {
        return;
    }
    transport::appendFrame(m_out, FrameKind::Ping, transport::encodeToken(m_nextToken++));
    flush();
}

void ProtocolClient::disconnect() {
    if (m_closed) {
        return;
    }
    std::string bye;
    transport::appendFrame(bye, FrameKind::Bye, {});
    [[maybe_unused]] auto sent = ::send(m_fd, bye.data(), bye.size(), MSG_NOSIGNAL);
    ::close(m_fd);
    m_fd = -1;
    m_closed = true;
}

void ProtocolClient::poll(int epoll, int timeoutMs) {
    epoll_event events[64];
    const int n = ::epoll_wait(epoll, events, 64, timeoutMs);
    for (int i = 0; i < n; ++i) {
        ProtocolClient& c = *static_cast<ProtocolClient*>(events[i].data.ptr);
        if (events[i].events & EPOLLOUT) {
            c.flush();
        }
        if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            c.readAll();
        }
        // A client that only listens would be dropped as lost after fifteen quiet
        // seconds. Checking it on its own events is enough: a client the server
        // sends nothing gets the server's PING and answers it.
        c.keepAlive();
    }
}

void ProtocolClient::flush() {
    while (m_outStart < m_out.size()) {
        const ssize_t n =
            ::send(m_fd, m_out.data() + m_outStart, m_out.size() - m_outStart, MSG_NOSIGNAL);
        if (n > 0) {
            m_outStart += std::size_t(n);
            m_lastSentNs = nowNs();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        m_closed = true;
        return;
    }
    if (m_outStart == m_out.size()) {
        m_out.clear();
        m_outStart = 0;
    } else if (m_outStart > (1 << 20)) {
        // A client far behind would otherwise keep everything it ever sent.
        m_out.erase(0, m_outStart);
        m_outStart = 0;
    }
    // Ask for EPOLLOUT only while something waits to go out.
    const bool want = m_outStart < m_out.size();
    if (want != m_wantWrite) {
        m_wantWrite = want;
        watch();
    }
}

void ProtocolClient::setReading(bool reading) {
    if (reading != m_reading && !m_closed) {
        m_reading = reading;
        watch();
    }
}

void ProtocolClient::watch() {
    epoll_event ev = {};
    ev.events = (m_reading ? EPOLLIN : 0u) | (m_wantWrite ? EPOLLOUT : 0u);
    ev.data.ptr = this;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_fd, &ev);
}

void ProtocolClient::readAll() {
    for (;;) {
        char* room = m_reader.prepare(65536);
        const ssize_t n = ::recv(m_fd, room, 65536, 0);
        if (n <= 0) {
            m_reader.commit(0);
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                if (!m_closed) {
                    m_closed = true;
                    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr);
                }
            }
            break;
        }
        m_reader.commit(std::size_t(n));
        const std::int64_t now = nowNs();
        transport::Frame frame;
        while (m_reader.next(frame) == transport::FrameReader::Result::FrameReady) {
            handleFrame(frame, now);
        }
    }
}

void ProtocolClient::handleFrame(const transport::Frame& frame, std::int64_t now) {
    ++m_framesSeen;
    switch (frame.kind) {
    case FrameKind::Welcome: {
        transport::Welcome welcome;
        if (transport::decodeWelcome(frame.body, welcome)) {
            m_playerId = welcome.playerId;
        }
        break;
    }
    case FrameKind::Ping:
        transport::appendFrame(m_out, FrameKind::Pong, frame.body);
        flush();
        break;
    case FrameKind::Data:
        onData(frame.body, now);
        break;
    case FrameKind::Bye:
    case FrameKind::Refuse:
        m_closed = true;
        break;
    default:
        break;
    }
}

} // namespace gemvolt::bench
