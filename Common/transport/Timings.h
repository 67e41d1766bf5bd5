#pragma once

#include "Common/transport/WireFormat.h"

#include <chrono>
#include <cstdint>

namespace gemvolt::transport {

/**
 * The time limits of a connection. The defaults are the protocol's; tests
 * shorten them so that timeouts happen within milliseconds.
 */
struct Timings {
    /** A connection without a completed HELLO is closed after this. */
    std::chrono::milliseconds handshakeTimeout{5000};
    /** A side that has sent nothing for this long sends PING. */
    std::chrono::milliseconds pingAfterIdle{5000};
    /** A connection on which no whole frame has arrived for this long is lost. */
    std::chrono::milliseconds lostAfterSilence{15000};
    /** A client gives up a connect (TCP and handshake) after this. */
    std::chrono::milliseconds connectTimeout{10000};
    /** A version 2 side acknowledges received DATA frames within this (at once after 64). */
    std::chrono::milliseconds ackDelay{250};
    /**
     * A client that lost its version 2 connection tries again at once, then
     * this long after the first failed try, twice as long after each further
     * one up to resumeLongestWait, until resumeGiveUp after the loss.
     */
    std::chrono::milliseconds resumeFirstWait{1000};
    std::chrono::milliseconds resumeLongestWait{8000};
    std::chrono::milliseconds resumeGiveUp{30000};
    /**
     * The version a client's HELLO names: ResumableProtocolVersion (falling
     * back to the first version when a server refuses it), or ProtocolVersion
     * for a client that never resumes. The server takes either.
     */
    std::uint16_t clientVersion = ResumableProtocolVersion;

    /** How often the liveness checks run: often enough to keep every limit within a tenth,
     * and a delayed ACK within its delay. */
    std::chrono::milliseconds checkInterval() const;
    /** How often a client's checks run when they do not sleep to a deadline (before WELCOME,
     * while closing, while it stops reading on purpose): a tenth of the shortest limit. */
    std::chrono::milliseconds restingCheckInterval() const;
};

/** Unsent data the server holds for one client before it gives up on that client. */
inline constexpr std::int64_t DefaultBacklogLimit = 4 * 1024 * 1024;

/**
 * Message bytes one client may send within FloodWindow before the server ends
 * its session: far above what a fighter sends (about 10 KiB a second), far
 * below what would push the other players past their backlog limit.
 */
inline constexpr std::int64_t DefaultFloodLimit = 1024 * 1024;
inline constexpr std::chrono::milliseconds FloodWindow{4000};

/**
 * Connections that may wait for their handshake at once; the one that has
 * waited longest makes room for a newcomer, so silent connections cannot
 * lock players out.
 */
inline constexpr int MaxWaitingHandshakes = 64;

/** How long the server stops accepting when the system has no room for another connection. */
inline constexpr std::chrono::milliseconds AcceptPause{100};

} // namespace gemvolt::transport
