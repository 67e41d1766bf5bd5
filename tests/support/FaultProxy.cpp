#include "FaultProxy.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace gemvolt::testing {

namespace {

using Clock = std::chrono::steady_clock;

void closeWith(int fd, FaultProxy::Cut how) {
    if (fd < 0) {
        return;
    }
    if (how == FaultProxy::Cut::Reset) {
        // A zero linger makes close() send a reset instead of a FIN.
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else {
        // Unread bytes would turn close() into a reset: take them first.
        ::shutdown(fd, SHUT_WR);
        char scratch[4096];
        while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
        }
    }
    ::close(fd);
}

bool isLoopback(const std::string& address, int port, sockaddr_storage& out, socklen_t& len) {
    out = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(port));
        len = sizeof *v4;
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(port));
        len = sizeof *v6;
        return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    }
    return false;
}

// One end of a forwarded connection and the bytes waiting to be written to it.
struct End {
    int fd = -1;
    std::string out;
    std::size_t sent = 0;
    bool eof = false;    // it sent end of stream: nothing more to read
    bool shut = false;   // the other side's end of stream has been passed on to it
    bool hungUp = false; // gone both ways: nothing more to read or write
    std::size_t pending() const { return out.size() - sent; }
};

} // namespace

struct FaultProxy::Link {
    End client;
    End target;
    bool connecting = true;
    bool failed = false;
    Clock::time_point cutAt = Clock::time_point::max();
};

FaultProxy::FaultProxy() = default;

FaultProxy::~FaultProxy() {
    if (m_thread.joinable()) {
        m_stop = true;
        wake();
        m_thread.join();
    }
    if (m_listen >= 0) {
        ::close(m_listen);
    }
    if (m_wake >= 0) {
        ::close(m_wake);
    }
}

bool FaultProxy::start(int targetPort, const std::string& targetAddress) {
    sockaddr_storage target;
    socklen_t targetLen = 0;
    if (m_thread.joinable() || targetPort <= 0 || targetPort > 65535 ||
        !isLoopback(targetAddress, targetPort, target, targetLen)) {
        return false;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(m_listen, 512) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (m_listen >= 0) {
            ::close(m_listen);
        }
        m_listen = -1;
        return false;
    }
    m_port = ntohs(addr.sin_port);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_targetAddress = targetAddress;
    m_targetPort = targetPort;
    m_thread = std::thread([this] { run(); });
    return true;
}

void FaultProxy::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wake, &one, sizeof one);
}

void FaultProxy::apply(std::unique_lock<std::mutex>& lock) {
    // The caller goes on only once the thread has taken the change, so that
    // nothing the caller does next is relayed under the old rules.
    if (!m_thread.joinable()) {
        return;
    }
    const std::uint64_t ticket = ++m_asked;
    wake();
    m_applied.wait_for(lock, std::chrono::seconds(5), [&] { return m_served >= ticket; });
}

void FaultProxy::cutAll(Cut how) {
    std::unique_lock lock(m_mutex);
    m_cutAllPending = true;
    m_cutAllHow = how;
    apply(lock);
}

void FaultProxy::cutEvery(int minMs, int maxMs, std::uint32_t seed, Cut how) {
    std::unique_lock lock(m_mutex);
    m_cutMin = std::max(0, std::min(minMs, maxMs));
    m_cutMax = std::max(0, maxMs);
    m_seed = seed;
    m_randomHow = how;
    ++m_cutGeneration;
    apply(lock);
}

void FaultProxy::blackhole(bool on) {
    std::unique_lock lock(m_mutex);
    m_blackhole = on;
    apply(lock);
}

void FaultProxy::refuseFor(std::chrono::milliseconds span) {
    std::unique_lock lock(m_mutex);
    m_refuseUntil = Clock::now() + span;
    apply(lock);
}

FaultProxy::Counters FaultProxy::counters() const {
    return {m_connections.load(), m_refused.load(), m_cuts.load(), m_bytesToTarget.load(),
            m_bytesToClient.load()};
}

namespace {

// Reads from `from` into the bytes waiting for `to`, within the buffer limit.
// False when the socket failed.
bool pull(End& from, End& to) {
    char chunk[65536];
    while (!from.eof && to.pending() < FaultProxy::BufferLimit) {
        const std::size_t room = std::min(sizeof chunk, FaultProxy::BufferLimit - to.pending());
        const ssize_t n = ::recv(from.fd, chunk, room, 0);
        if (n > 0) {
            // What went out is dropped now and then, so a writer that never quite
            // catches up does not keep everything it ever sent.
            if (to.sent >= FaultProxy::BufferLimit || to.sent == to.out.size()) {
                to.out.erase(0, to.sent);
                to.sent = 0;
            }
            to.out.append(chunk, std::size_t(n));
        } else if (n == 0) {
            from.eof = true;
        } else {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
    }
    return true;
}

// Writes what waits for `to`; false when the socket failed. Adds what went to counter.
bool push(End& to, std::atomic<std::uint64_t>& counter) {
    while (to.pending() > 0) {
        const ssize_t n = ::send(to.fd, to.out.data() + to.sent, to.pending(), MSG_NOSIGNAL);
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        to.sent += std::size_t(n);
        counter += std::uint64_t(n);
    }
    to.out.clear();
    to.sent = 0;
    return true;
}

} // namespace

void FaultProxy::run() {
    sockaddr_storage target;
    socklen_t targetLen = 0;
    isLoopback(m_targetAddress, m_targetPort, target, targetLen);
    std::list<Link> links;
    std::mt19937 random;
    std::uint64_t generation = 0;
    int cutMin = 0;
    int cutMax = 0;
    Cut randomHow = Cut::Reset;
    auto drawCut = [&](Link& link, Clock::time_point from) {
        link.cutAt = cutMax <= 0
                         ? Clock::time_point::max()
                         : from + std::chrono::milliseconds(
                                      std::uniform_int_distribution<int>(cutMin, cutMax)(random));
    };
    auto cut = [&](Link& link, Cut how) {
        closeWith(link.client.fd, how);
        closeWith(link.target.fd, how);
        link.client.fd = link.target.fd = -1;
        ++m_cuts;
    };
    std::vector<pollfd> fds;
    std::vector<std::pair<Link*, End*>> polled;
    while (!m_stop) {
        // Take what the callers asked for.
        bool blackhole = false;
        Clock::time_point refuseUntil;
        {
            std::unique_lock lock(m_mutex);
            blackhole = m_blackhole;
            refuseUntil = m_refuseUntil;
            if (generation != m_cutGeneration) {
                generation = m_cutGeneration;
                cutMin = m_cutMin;
                cutMax = m_cutMax;
                randomHow = m_randomHow;
                random.seed(m_seed);
                for (Link& link : links) {
                    drawCut(link, Clock::now());
                }
            }
            if (m_cutAllPending) {
                for (Link& link : links) {
                    cut(link, m_cutAllHow);
                }
                links.clear();
                m_open = 0;
                m_cutAllPending = false;
            }
            m_served = m_asked;
            m_applied.notify_all();
        }

        // Cut what is due, and find how long to wait for the next one.
        const auto now = Clock::now();
        auto nextCut = now + std::chrono::milliseconds(100);
        for (auto it = links.begin(); it != links.end();) {
            if (it->cutAt <= now) {
                cut(*it, randomHow);
                it = links.erase(it);
                --m_open;
                continue;
            }
            nextCut = std::min(nextCut, it->cutAt);
            ++it;
        }

        fds.assign({{m_wake, POLLIN, 0}, {m_listen, POLLIN, 0}});
        polled.clear();
        for (Link& link : links) {
            if (blackhole) {
                break;
            }
            // An end is read while the other end's buffer has room, and written
            // while bytes wait for it (the target only once it is connected).
            for (End* end : {&link.client, &link.target}) {
                End& other = end == &link.client ? link.target : link.client;
                if (end->hungUp) {
                    continue;
                }
                short events = 0;
                if (!end->eof && other.pending() < BufferLimit) {
                    events |= POLLIN;
                }
                if (end->pending() > 0 || (end == &link.target && link.connecting)) {
                    events |= POLLOUT;
                }
                fds.push_back({end->fd, events, 0});
                polled.push_back({&link, end});
            }
        }
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(nextCut - now).count();
        if (::poll(fds.data(), fds.size(), int(std::max<std::int64_t>(waitMs, 0))) < 0 &&
            errno != EINTR) {
            break;
        }
        if (fds[0].revents) {
            std::uint64_t count;
            [[maybe_unused]] auto n = ::read(m_wake, &count, sizeof count);
        }

        // Relay.
        for (std::size_t i = 0; i < polled.size(); ++i) {
            const short revents = fds[i + 2].revents;
            auto [link, end] = polled[i];
            const bool isClient = end == &link->client;
            End& other = isClient ? link->target : link->client;
            if (!revents || link->failed) {
                continue;
            }
            if (!isClient && link->connecting) {
                int error = 0;
                socklen_t len = sizeof error;
                ::getsockopt(end->fd, SOL_SOCKET, SO_ERROR, &error, &len);
                link->connecting = false;
                link->failed = error != 0;
                continue;
            }
            if (revents & POLLERR) {
                link->failed = true;
                continue;
            }
            const bool otherWritable = isClient ? !link->connecting : true;
            if (revents & (POLLIN | POLLHUP)) {
                link->failed |= !pull(*end, other);
                if (otherWritable) {
                    link->failed |= !push(other, isClient ? m_bytesToTarget : m_bytesToClient);
                }
            }
            if (revents & POLLHUP) {
                // Gone both ways: what waits for it can never be delivered.
                end->eof = end->hungUp = true;
                end->out.clear();
                end->sent = 0;
            }
            if ((revents & POLLOUT) && !end->hungUp) {
                link->failed |= !push(*end, isClient ? m_bytesToClient : m_bytesToTarget);
            }
        }

        // Pass on ends of stream once their bytes are through; a link is over
        // when both directions are, or when one side failed or hung up.
        for (auto it = links.begin(); it != links.end();) {
            Link& link = *it;
            for (auto [from, to] :
                 {std::pair{&link.client, &link.target}, std::pair{&link.target, &link.client}}) {
                if (from->eof && !to->hungUp && to->pending() == 0 && !to->shut &&
                    !link.connecting) {
                    ::shutdown(to->fd, SHUT_WR);
                    to->shut = true;
                }
            }
            const bool done = (link.client.shut && link.target.shut) ||
                              (link.client.hungUp && link.target.pending() == 0) ||
                              (link.target.hungUp && link.client.pending() == 0);
            if (link.failed || done) {
                // A failure on one side reaches the other as a reset, as it would
                // without the proxy; a finished link closes in order.
                const Cut how = link.failed ? Cut::Reset : Cut::Close;
                closeWith(link.client.fd, how);
                closeWith(link.target.fd, how);
                it = links.erase(it);
                --m_open;
            } else {
                ++it;
            }
        }

        // Accept; while refusing, close each new connection at once.
        for (;;) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                break;
            }
            if (Clock::now() < refuseUntil) {
                closeWith(fd, Cut::Reset);
                ++m_refused;
                continue;
            }
            const int out =
                ::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (out < 0 || (::connect(out, reinterpret_cast<sockaddr*>(&target), targetLen) != 0 &&
                            errno != EINPROGRESS)) {
                closeWith(fd, Cut::Reset);
                closeWith(out, Cut::Reset);
                continue;
            }
            // Small game messages must not wait for Nagle in either direction.
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(out, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Link& link = links.emplace_back();
            link.client.fd = fd;
            link.target.fd = out;
            drawCut(link, Clock::now());
            ++m_open;
            ++m_connections;
        }
    }
    for (Link& link : links) {
        closeWith(link.client.fd, Cut::Reset);
        closeWith(link.target.fd, Cut::Reset);
    }
    m_open = 0;
}

} // namespace gemvolt::testing
