#pragma once

#include <QString>

namespace gemvolt::shell {

/**
 * Finds and starts the server program for the Create Server item: first in
 * the client's own folder, then on PATH; started detached, never waited for.
 */
class ServerLauncher {
public:
    /** The server program's file name on this platform. */
    static QString programName();
    /** The full path of the server program, or empty when it is found nowhere. */
    static QString locate(const QString& appFolder);
    /** Start it without arguments and without waiting; false when it cannot be started. */
    static bool start(const QString& appFolder);
};

} // namespace gemvolt::shell
