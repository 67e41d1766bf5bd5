#pragma once

#include "Server/ServerTransport.h"

#include <QObject>
#include <QString>

#include <memory>

namespace gemvolt::transport {
class SessionServer;
}

namespace gemvolt::server {

class ServerCore;

/**
 * The server core's transport port on the TCP session: hosting, sends and
 * closes go to a SessionServer, and its events (player created, message
 * received, player destroyed) go to the core, on the program's main thread.
 */
class SessionPort : public QObject, public ServerTransport {
    Q_OBJECT
public:
    explicit SessionPort(QObject* parent = nullptr);
    ~SessionPort() override;

    /** The core that hears of the session's events; set before hosting. */
    void attach(ServerCore* core) { m_core = core; }

    bool host(int maxPlayers, std::uint16_t port) override;
    int hostErrorNumber() const override;
    std::string hostErrorText() const override;
    void sendToAll(common::ByteView message) override;
    void closePlayer(std::int32_t playerId) override;
    std::string playerName(std::int32_t playerId) const override;
    void close() override;

    /** The port the session listens on, 0 when it is not hosted. */
    quint16 port() const;
    /** True while a session is hosted. */
    bool isHosting() const;
    /**
     * The address clients connect to, as ";"-separated parts
     * ("x-gemvolt:/provider=tcp;hostname=10.0.0.5;port=4000"); empty when
     * no session is hosted, since then there is nothing to connect to.
     */
    QString localAddress() const;

    /** The session itself, for tests and tools that look underneath. */
    transport::SessionServer& session() { return *m_session; }

private:
    std::unique_ptr<transport::SessionServer> m_session;
    ServerCore* m_core = nullptr;
};

} // namespace gemvolt::server
