#pragma once

#include "Server/ServerCore.h"
#include "Server/SessionPort.h"

#include <QString>

namespace gemvolt::testing {

/** A real session server on 127.0.0.1 at a free port, inside the test process. */
struct LocalServer {
    LocalServer() {
        port.attach(&core);
        hosted = core.InitServer("11", 0).Hosted;
    }
    ~LocalServer() { core.CloseSession(); }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    /** The host answer that reaches this server. */
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port.port()); }

    server::SessionPort port;
    server::ServerCore core{port};
    bool hosted = false;
};

} // namespace gemvolt::testing
