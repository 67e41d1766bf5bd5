#include "Server/SessionPort.h"

#include "Common/transport/SessionServer.h"
#include "Server/ServerCore.h"

#include <QByteArrayView>

namespace gemvolt::server {

SessionPort::SessionPort(QObject* parent)
    : QObject(parent), m_session(std::make_unique<transport::SessionServer>()) {
    using transport::SessionServer;
    connect(m_session.get(), &SessionServer::playerCreated, this, [this](qint32 id) {
        if (m_core) {
            m_core->OnPlayerCreated(id);
        }
    });
    m_session->setMessageHandler([this](qint32 sender, const QByteArray& message) {
        if (m_core) {
            m_core->OnMessage(sender,
                              common::byteView(message.constData(), std::size_t(message.size())));
        }
    });
    connect(m_session.get(), &SessionServer::playerDestroyed, this, [this](qint32 id) {
        if (m_core) {
            m_core->OnPlayerDestroyed(id);
        }
    });
    // A join the roster message could no longer carry would leave everybody
    // unaware of the newcomer: such a player is refused as "session full".
    m_session->setAdmission([this](const QString& name) {
        return !m_core || m_core->RosterSizeWith(name.toStdString()) <= transport::MaxFrameBody;
    });
}

SessionPort::~SessionPort() = default;

bool SessionPort::host(int maxPlayers, std::uint16_t port) {
    return m_session->host(maxPlayers, port);
}

int SessionPort::hostErrorNumber() const {
    return m_session->errorNumber();
}

std::string SessionPort::hostErrorText() const {
    return m_session->errorText().toStdString();
}

void SessionPort::sendToAll(common::ByteView message) {
    // Nothing to do about a failed send to all: it only fails without a session.
    (void)m_session->sendToAll(QByteArrayView(message.data(), qsizetype(message.size())));
}

void SessionPort::closePlayer(std::int32_t playerId) {
    m_session->closePlayer(playerId);
}

std::string SessionPort::playerName(std::int32_t playerId) const {
    return m_session->playerName(playerId).toStdString();
}

void SessionPort::close() {
    m_session->close();
}

quint16 SessionPort::port() const {
    return m_session->port();
}

bool SessionPort::isHosting() const {
    return m_session->isHosting();
}

QString SessionPort::localAddress() const {
    return m_session->isHosting() ? m_session->localAddress() : QString();
}

} // namespace gemvolt::server
