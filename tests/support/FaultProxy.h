#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace gemvolt::testing {

/**
 * A TCP relay on 127.0.0.1 that breaks connections the way a bad network does,
 * for tests and load tools that must show the session survives it. Each
 * connection it accepts is forwarded to a target port on loopback; on command
 * or at random it cuts both sides, goes silent while keeping the sockets open,
 * or turns new connections away for a while.
 *
 * It runs on a thread of its own with plain non-blocking sockets, so it keeps
 * relaying while the caller's thread waits in a Qt event loop or in a load
 * tool's own epoll loop. Every call is safe from any thread. It never holds
 * more than BufferLimit bytes for one direction of one connection: past that
 * it stops reading the sending side, so a stalled reader pushes back on the
 * writer as a direct connection would.
 */
class FaultProxy {
public:
    /** How a cut ends both sides: Reset aborts with a TCP reset (the peer's next
     * read or write fails at once, as when a router drops the flow); Close ends
     * both sides in order (the peer reads end of stream, as when the far side
     * closed without saying goodbye). */
    enum class Cut { Reset, Close };

    struct Counters {
        std::uint64_t connections = 0;   // accepted and forwarded
        std::uint64_t refused = 0;       // accepted and closed at once (refuseFor)
        std::uint64_t cuts = 0;          // forwarded connections the proxy cut
        std::uint64_t bytesToTarget = 0; // delivered from the connecting side to the target
        std::uint64_t bytesToClient = 0; // delivered from the target to the connecting side
    };

    static constexpr std::size_t BufferLimit = 256 * 1024;

    FaultProxy();
    /** Stops the thread and closes every socket (a reset on both sides). */
    ~FaultProxy();
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    /**
     * Listens on 127.0.0.1 on a port of the system's choosing and forwards to
     * targetPort on targetAddress, which must be an address of this machine
     * (127.0.0.0/8 or ::1). False, with nothing started, for any other address,
     * when the listening socket cannot be made, or when already started.
     */
    bool start(int targetPort, const std::string& targetAddress = "127.0.0.1");
    /** The port it listens on; 0 before start. */
    int port() const { return m_port; }

    /** Cuts every forwarded connection; returns once both sides of each are closed.
     * Every call below likewise returns once the proxy's thread has taken it. */
    void cutAll(Cut how = Cut::Reset);
    /** From now on cuts each connection at a random time between minMs and maxMs
     * after it opened (or after this call, for those already open), drawn from
     * seed. maxMs of 0 stops the random cuts. */
    void cutEvery(int minMs, int maxMs, std::uint32_t seed, Cut how = Cut::Reset);
    /** While on, forwards nothing either way and accepts without forwarding, yet
     * keeps every socket open: only a liveness check notices. What arrived
     * meanwhile is forwarded once it is off again, as when a link comes back. */
    void blackhole(bool on);
    /** For span from now, accepts each new connection and closes it at once with a
     * reset, as a host whose service is down; connections already open stay. */
    void refuseFor(std::chrono::milliseconds span);

    Counters counters() const;
    /** Forwarded connections open now. */
    int openConnections() const { return m_open.load(); }

private:
    struct Link;
    void run();
    void wake();
    void apply(std::unique_lock<std::mutex>& lock);

    int m_port = 0;
    std::string m_targetAddress;
    int m_targetPort = 0;
    int m_listen = -1;
    int m_wake = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    // What the callers ask for; the thread applies it.
    mutable std::mutex m_mutex;
    std::condition_variable m_applied;
    bool m_blackhole = false;
    int m_cutMin = 0;
    int m_cutMax = 0;
    std::uint32_t m_seed = 0;
    Cut m_randomHow = Cut::Reset;
    std::uint64_t m_cutGeneration = 0;
    bool m_cutAllPending = false;
    Cut m_cutAllHow = Cut::Reset;
    std::uint64_t m_asked = 0;
    std::uint64_t m_served = 0;
    std::chrono::steady_clock::time_point m_refuseUntil;

    std::atomic<int> m_open{0};
    std::atomic<std::uint64_t> m_connections{0};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_cuts{0};
    std::atomic<std::uint64_t> m_bytesToTarget{0};
    std::atomic<std::uint64_t> m_bytesToClient{0};
};

} // namespace gemvolt::testing
