#pragma once

#include "Common/MessageBuffer.h"

#include <cstdint>
#include <string>

namespace gemvolt::server {

/**
 * What the server core asks of the session transport. The program connects
 * it to the TCP session; tests fake it to see every send without sockets.
 */
class ServerTransport {
public:
    virtual ~ServerTransport() = default;

    /**
     * Hosts the session on `port` for at most `maxPlayers` players (the
     * server's own player included). False on failure, with hostErrorNumber()
     * and hostErrorText() telling why. The server's own player is created as
     * part of a successful host.
     */
    virtual bool host(int maxPlayers, std::uint16_t port) = 0;
    /** Why the last host() failed. */
    virtual int hostErrorNumber() const = 0;
    /** A sentence describing the last host() failure. */
    virtual std::string hostErrorText() const = 0;

    /** Sends one message to every connected player. */
    virtual void sendToAll(common::ByteView message) = 0;
    /** Ends one player's connection after what was already sent to it. */
    virtual void closePlayer(std::int32_t playerId) = 0;
    /** The name a connected player registered (UTF-8), or an empty text. */
    virtual std::string playerName(std::int32_t playerId) const = 0;
    /** Ends the session; errors are of no interest any more. */
    virtual void close() = 0;
};

} // namespace gemvolt::server
