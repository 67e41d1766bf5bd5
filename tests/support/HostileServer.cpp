#include "HostileServer.h"

#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"
#include "Common/transport/WireFormat.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gemvolt::testing {

namespace {

using Clock = std::chrono::steady_clock;
using transport::FrameKind;

// Reads what has come and throws it away; false once the client has closed.
bool drain(int fd) {
    char scratch[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

} // namespace

HostileServer::HostileServer() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::listen(m_listener, 4) == 0 &&
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        m_port = ntohs(address.sin_port);
    }
}

HostileServer::~HostileServer() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_socket >= 0) {
        ::close(m_socket);
    }
    ::close(m_listener);
}

void HostileServer::refuse(std::string text) {
    m_thread = std::thread([this, text = std::move(text)] { run({}, 0, Ms(0), false, text); });
}

void HostileServer::flood(std::string message, std::uint64_t maxBytes, Ms maxTime) {
    m_thread = std::thread([this, message = std::move(message), maxBytes, maxTime] {
        run(message, maxBytes, maxTime, true, {});
    });
}

bool HostileServer::acceptHello(Ms limit) {
    const auto deadline = Clock::now() + limit;
    pollfd listener{m_listener, POLLIN, 0};
    while (!m_stop && Clock::now() < deadline && ::poll(&listener, 1, 20) == 0) {
    }
    if (m_stop || Clock::now() >= deadline) {
        return false;
    }
    m_socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    transport::FrameReader reader;
    transport::Frame frame;
    while (m_socket >= 0 && !m_stop && Clock::now() < deadline) {
        pollfd ready{m_socket, POLLIN, 0};
        ::poll(&ready, 1, 20);
        char buffer[4096];
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) {
            return false;
        }
        if (n > 0) {
            reader.append(buffer, std::size_t(n));
        }
        if (reader.next(frame) == transport::FrameReader::Result::FrameReady) {
            // Answered in the client's own version, so its WELCOME is one it can read.
            return frame.kind == FrameKind::Hello &&
                   transport::peekHelloVersion(frame.body, m_helloVersion);
        }
    }
    return false;
}

void HostileServer::sendAll(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size() && !m_stop) {
        const ssize_t n = ::send(m_socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            at += std::size_t(n);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return;
        } else {
            pollfd ready{m_socket, POLLOUT, 0};
            ::poll(&ready, 1, 20);
        }
    }
}

void HostileServer::run(std::string message, std::uint64_t maxBytes, Ms maxTime, bool welcome,
                        std::string refusal) {
    if (!acceptHello(Ms(20000))) {
        std::lock_guard lock(m_mutex);
        m_floodOver = true;
        m_changed.notify_all();
        return;
    }
    if (!welcome) {
        sendAll(transport::encodeFrame(FrameKind::Refuse, transport::encodeRefuse({2, refusal})));
    } else {
        transport::Welcome welcomeBody{1, "Hostile", m_helloVersion};
        if (m_helloVersion != transport::ProtocolVersion) {
            welcomeBody.resumeToken = transport::newResumeToken();
        }
        sendAll(transport::encodeFrame(FrameKind::Welcome, transport::encodeWelcome(welcomeBody)));
        {
            std::lock_guard lock(m_mutex);
            m_lastProgress = Clock::now();
        }
        const auto deadline = Clock::now() + maxTime;
        std::string frame;
        std::size_t at = 0;
        std::uint64_t number = 0;
        bool open = true;
        while (open && !m_stop && Clock::now() < deadline) {
            if (at == frame.size()) {
                if (m_bytesSent >= maxBytes) {
                    break;
                }
                char digits[16];
                std::snprintf(digits, sizeof digits, "%08llu",
                              static_cast<unsigned long long>(number++ % 100000000));
                message.replace(message.size() - 8, 8, digits, 8);
                frame = transport::encodeFrame(FrameKind::Data, message);
                at = 0;
            }
            const ssize_t n = ::send(m_socket, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
            if (n > 0) {
                at += std::size_t(n);
                m_bytesSent += std::uint64_t(n);
                if (at == frame.size()) {
                    ++m_framesSent;
                }
                std::lock_guard lock(m_mutex);
                m_lastProgress = Clock::now();
                m_changed.notify_all();
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                break;
            }
            pollfd ready{m_socket, POLLOUT | POLLIN, 0};
            if (::poll(&ready, 1, 10) > 0 && (ready.revents & POLLIN)) {
                open = drain(m_socket);
            }
            std::lock_guard lock(m_mutex);
            m_changed.notify_all();
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_floodOver = true;
        m_changed.notify_all();
    }
    // Silent from now on, but open until the end, so the client decides when it leaves.
    while (!m_stop) {
        pollfd ready{m_socket, POLLIN, 0};
        if (::poll(&ready, 1, 20) > 0 && !drain(m_socket)) {
            break;
        }
    }
}

bool HostileServer::waitForStall(Ms quiet, Ms limit) {
    const auto deadline = Clock::now() + limit;
    std::unique_lock lock(m_mutex);
    while (Clock::now() < deadline) {
        if (m_floodOver) {
            return false;
        }
        if (m_lastProgress != Clock::time_point() && Clock::now() - m_lastProgress >= quiet) {
            return true;
        }
        m_changed.wait_for(lock, Ms(10));
    }
    return false;
}

bool HostileServer::waitForBytes(std::uint64_t bytes, Ms limit) {
    const auto deadline = Clock::now() + limit;
    std::unique_lock lock(m_mutex);
    while (m_bytesSent < bytes && !m_floodOver && Clock::now() < deadline) {
        m_changed.wait_for(lock, Ms(10));
    }
    return m_bytesSent >= bytes;
}

} // namespace gemvolt::testing
