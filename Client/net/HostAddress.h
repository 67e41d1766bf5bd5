#pragma once

#include <QString>

namespace gemvolt::net {

/** The server's port when the host answer names none. */
inline constexpr quint16 DefaultServerPort = 4000;

/**
 * The answer to the host prompt taken apart: "host", "host:port",
 * "[v6-address]" or "[v6-address]:port". A bare IPv6 address ("::1",
 * "fe80::1") has several colons and is taken whole, with the default port.
 */
struct HostAddress {
    QString Host;
    quint16 Port = DefaultServerPort;
    /** False when a port was given but is no number from 1 to 65535, or the host is empty. */
    bool Valid = false;

    static HostAddress parse(const QString& answer);
};

} // namespace gemvolt::net
