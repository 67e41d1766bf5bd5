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
 * A hostile server on 127.0.0.1 for the client side's tests and load tools.
 * On a thread of its own, with plain sockets (so it keeps pushing while the
 * caller's thread is blocked), it takes one connection and reads the HELLO.
 * Then it either refuses the client with a text of its choosing, or welcomes
 * it and sends one message again and again as fast as the client takes it,
 * within a byte and a time budget, answering nothing. Each flooded message
 * ends with its number, eight decimal digits from 00000000.
 */
class HostileServer {
public:
    using Ms = std::chrono::milliseconds;

    HostileServer();
    /** Stops the thread and closes every socket. */
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    int port() const { return m_port; }

    /** Answers the HELLO with REFUSE (reason 2) carrying text. */
    void refuse(std::string text);
    /**
     * Welcomes the client, then floods it with message (at least 8 bytes) until
     * maxBytes of frames have gone or maxTime has passed; the connection then
     * stays open, silent, until the server is destroyed.
     */
    void flood(std::string message, std::uint64_t maxBytes, Ms maxTime);

    /** Bytes of DATA frames the client's side has taken so far. */
    std::uint64_t bytesSent() const { return m_bytesSent.load(); }
    /** Whole DATA frames the client's side has taken so far. */
    std::uint64_t framesSent() const { return m_framesSent.load(); }
    /**
     * Blocks the calling thread (no event loop) until the client has taken
     * nothing for quiet while the flood still had bytes to send, or until the
     * flood is over, or limit has passed. True when the client stalled the flood.
     */
    bool waitForStall(Ms quiet, Ms limit);
    /** Blocks the calling thread until at least bytes have gone, or limit has passed. */
    bool waitForBytes(std::uint64_t bytes, Ms limit);

private:
    void run(std::string message, std::uint64_t maxBytes, Ms maxTime, bool welcome,
             std::string refusal);
    bool acceptHello(Ms limit);
    void sendAll(const std::string& bytes);

    int m_listener = -1;
    int m_socket = -1;
    // The version the client's HELLO named: WELCOME is given in it.
    std::uint16_t m_helloVersion = 1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_bytesSent{0};
    std::atomic<std::uint64_t> m_framesSent{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::chrono::steady_clock::time_point m_lastProgress;
    bool m_floodOver = false;
};

} // namespace gemvolt::testing
