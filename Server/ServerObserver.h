#pragma once

#include <cstdint>
#include <string>

namespace gemvolt::server {

/**
 * Told by the server core what happened to the session, after the messages
 * that announce it have been sent. The window refreshes its lists from it;
 * the headless program prints a line per event. Every method has an empty
 * default so a listener takes only what it shows.
 */
class ServerObserver {
public:
    virtual ~ServerObserver() = default;

    /** The fight queue changed (a join, a departure or a result). */
    virtual void standingsChanged() {}
    /** A player joined the session. */
    virtual void playerJoined(std::int32_t /*id*/, const std::string& /*name*/) {}
    /** A player left the session (goodbye, lost connection or kick). */
    virtual void playerLeft(std::int32_t /*id*/, const std::string& /*name*/) {}
    /** A fight ended with a recorded result. */
    virtual void fightResult(std::int32_t /*winnerId*/, const std::string& /*winnerName*/,
                             std::int32_t /*loserId*/, const std::string& /*loserName*/) {}
};

} // namespace gemvolt::server
