#include "bench/support/ProtocolClient.h"

#include "Common/transport/ControlMessages.h"
#include "Common/transport/WireFormat.h"
#include "bench/support/BenchSupport.h"

#include <algorithm>
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

namespace {

// The program's client: an ACK within this of a DATA frame, at once after 64.
constexpr std::int64_t AckDelayNs = 250'000'000;
constexpr std::uint32_t AckAtOnce = 64;
// Resume tries: at once, then 1, 2, 4, 8, 8 ... s after the failed ones, for 30 s.
constexpr std::int64_t FirstWaitNs = 1'000'000'000;
constexpr std::int64_t LongestWaitNs = 8'000'000'000;
constexpr std::int64_t GiveUpNs = 30'000'000'000;
// What the client keeps unacknowledged at most before its session ends.
constexpr std::size_t UnackedLimit = 1 << 20;

} // namespace

int ProtocolClient::openSocket(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    // Every message goes out at once, as a measured latency must not wait for Nagle.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.ptr = this;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    return fd;
}

void ProtocolClient::connect(int epoll, int port, const std::string& name) {
    m_epoll = epoll;
    m_port = port;
    m_name = name;
    m_fd = openSocket(port);
    if (m_fd < 0) {
        fail("connect failed");
    }
    sendHello();
}

void ProtocolClient::sendHello() {
    m_reader = transport::FrameReader();
    m_out.clear();
    m_outStart = 0;
    m_wantWrite = false;
    m_welcomedHere = false;
    transport::Hello hello{m_resumable ? transport::ResumableProtocolVersion
                                       : transport::ProtocolVersion,
                           std::string(transport::ApplicationId), m_name};
    if (m_interrupted) {
        hello.resumeToken = m_token;
        hello.receivedCount = m_received;
    }
    transport::appendFrame(m_out, FrameKind::Hello, transport::encodeHello(hello));
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
    if (m_closed) {
        return;
    }
    std::string frame;
    transport::appendFrame(
        frame, FrameKind::Data,
        std::string_view(reinterpret_cast<const char*>(message.data()), message.size()));
    if (m_resumable) {
        // Kept until acknowledged; while the connection is being resumed it goes
        // out with the rest after the WELCOME.
        ++m_sentCount;
        m_unackedBytes += frame.size();
        m_unacked.push_back(frame);
        if (m_unackedBytes > UnackedLimit) {
            disconnect();
            return;
        }
        if (m_interrupted || !m_welcomedHere) {
            return;
        }
    }
    m_out += frame;
    flush();
}

void ProtocolClient::sendAck() {
    m_ackDueNs = -1;
    if (m_fd < 0 || !m_welcomedHere || m_ackSent == m_received) {
        return;
    }
    m_ackSent = m_received;
    transport::appendFrame(m_out, FrameKind::Ack, transport::encodeToken(m_received));
    flush();
}

void ProtocolClient::service() {
    if (m_closed || !m_resumable) {
        return;
    }
    const std::int64_t now = nowNs();
    if (m_ackDueNs >= 0 && now >= m_ackDueNs) {
        sendAck();
    }
    if (!m_interrupted || m_fd >= 0 || now < m_nextTryNs) {
        return;
    }
    if (now - m_lostNs > GiveUpNs) {
        endForGood();
        return;
    }
    m_fd = openSocket(m_port);
    if (m_fd < 0) {
        lost();
        return;
    }
    sendHello();
}

void ProtocolClient::closeSocket() {
    if (m_fd >= 0) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr);
        ::close(m_fd);
        m_fd = -1;
    }
}

void ProtocolClient::lost() {
    closeSocket();
    if (!m_resumable || m_playerId == 0) {
        m_closed = true;
        return;
    }
    const std::int64_t now = nowNs();
    if (!m_interrupted) {
        // A welcomed connection broke: try again at once.
        m_interrupted = true;
        ++m_interruptions;
        m_lostNs = now;
        m_nextTryNs = now;
        m_nextWaitNs = FirstWaitNs;
        return;
    }
    // A try failed before its WELCOME.
    m_nextTryNs = now + m_nextWaitNs;
    m_nextWaitNs = std::min(m_nextWaitNs * 2, LongestWaitNs);
    if (m_nextTryNs - m_lostNs > GiveUpNs) {
        endForGood();
    }
}

void ProtocolClient::endForGood() {
    closeSocket();
    m_closed = true;
    m_interrupted = false;
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
    if (m_fd < 0) {
        endForGood();
        return;
    }
    std::string bye;
    transport::appendFrame(bye, FrameKind::Bye, {});
    [[maybe_unused]] auto sent = ::send(m_fd, bye.data(), bye.size(), MSG_NOSIGNAL);
    endForGood();
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
    if (m_fd < 0) {
        return;
    }
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
        lost();
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
    if (reading != m_reading && !m_closed && m_fd >= 0) {
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
    while (m_fd >= 0) {
        char* room = m_reader.prepare(65536);
        const ssize_t n = ::recv(m_fd, room, 65536, 0);
        if (n <= 0) {
            m_reader.commit(0);
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                if (!m_closed) {
                    lost();
                }
            }
            break;
        }
        m_reader.commit(std::size_t(n));
        const std::int64_t now = nowNs();
        transport::Frame frame;
        const int fd = m_fd;
        while (m_fd == fd && !m_closed &&
               m_reader.next(frame) == transport::FrameReader::Result::FrameReady) {
            handleFrame(frame, now);
        }
    }
}

void ProtocolClient::onWelcome(std::string_view body) {
    transport::Welcome welcome;
    if (!transport::decodeWelcome(body, welcome,
                                  m_resumable ? transport::ResumableProtocolVersion
                                              : transport::ProtocolVersion)) {
        return;
    }
    m_welcomedHere = true;
    if (!m_resumable) {
        m_playerId = welcome.playerId;
        return;
    }
    m_token = welcome.resumeToken;
    if (!m_interrupted) {
        // A new session: what was given to send before its WELCOME goes now.
        m_playerId = welcome.playerId;
        for (const std::string& frame : m_unacked) {
            m_out += frame;
        }
        flush();
        return;
    }
    // What the server has from us is acknowledged; the rest goes again, in order.
    if (welcome.playerId != m_playerId || welcome.receivedCount < m_serverAcked ||
        welcome.receivedCount > m_sentCount) {
        disconnect();
        return;
    }
    onAck(transport::encodeToken(welcome.receivedCount));
    m_interrupted = false;
    ++m_resumes;
    for (const std::string& frame : m_unacked) {
        m_out += frame;
    }
    flush();
}

void ProtocolClient::onAck(std::string_view body) {
    std::uint32_t count = 0;
    if (!transport::decodeToken(body, count) || count > m_sentCount) {
        disconnect();
        return;
    }
    while (m_serverAcked < count && !m_unacked.empty()) {
        m_unackedBytes -= m_unacked.front().size();
        m_unacked.pop_front();
        ++m_serverAcked;
    }
}

void ProtocolClient::handleFrame(const transport::Frame& frame, std::int64_t now) {
    ++m_framesSeen;
    switch (frame.kind) {
    case FrameKind::Welcome:
        onWelcome(frame.body);
        break;
    case FrameKind::Ping:
        transport::appendFrame(m_out, FrameKind::Pong, frame.body);
        flush();
        break;
    case FrameKind::Ack:
        onAck(frame.body);
        break;
    case FrameKind::Data:
        if (m_resumable) {
            ++m_received;
            if (m_received - m_ackSent >= AckAtOnce) {
                sendAck();
            } else if (m_ackDueNs < 0) {
                m_ackDueNs = now + AckDelayNs;
            }
        }
        onData(frame.body, now);
        break;
    case FrameKind::Bye:
    case FrameKind::Refuse:
        endForGood();
        break;
    default:
        break;
    }
}

} // namespace gemvolt::bench
