#include "Client/net/Session.h"

#include <exception>

namespace gemvolt::net {

namespace {

const QString InitTitle = QStringLiteral("DirectPlayInit");
const QString ConnectTitle = QStringLiteral("mdlDirectPlayConnect");

} // namespace

Session::Session(SessionDialogs& dialogs, QObject* parent) : QObject(parent), m_dialogs(dialogs) {}

Session::~Session() {
    CloseSession();
}

void Session::reportSetupError(const QString& title, int number, const QString& description) {
    m_dialogs.showCriticalError(title,
                                QStringLiteral("Error #%1: %2").arg(number).arg(description));
    m_dialogs.endProgram();
}

bool Session::DirectPlayInit() {
    CloseSession();
    try {
        m_client = std::make_unique<transport::SessionClient>(m_timings);
    } catch (const std::exception& e) {
        reportSetupError(InitTitle, TransportUnavailable, QString::fromLocal8Bit(e.what()));
        return false;
    }
    transport::SessionClient* client = m_client.get();
    connect(client, &transport::SessionClient::connectComplete, this,
            [this](bool success, qint32 playerId, const QString& reason) {
                if (success) {
                    m_localPlayerId = playerId;
                    emit connected(playerId);
                } else {
                    emit connectFailed(m_host.Host, reason);
                }
            });
    connect(client, &transport::SessionClient::messageReceived, this, &Session::messageArrived);
    // The transport reports no end after our own close(), so this is always
    // the server's doing.
    connect(client, &transport::SessionClient::sessionTerminated, this,
            [this](const QString&) { emit connectionLost(); });
    connect(client, &transport::SessionClient::connectionInterrupted, this,
            &Session::connectionInterrupted);
    connect(client, &transport::SessionClient::connectionResumed, this,
            &Session::connectionResumed);
    return true;
}

bool Session::ConnectToServer() {
    if (!m_client) {
        reportSetupError(ConnectTitle, NotInitialised,
                         QStringLiteral("The session has not been set up."));
        return false;
    }
    // The prompts let other events run: the program's way out may close the
    // session while one is open, and then the answer is void.
    QString answer;
    while (answer.trimmed().isEmpty()) {
        answer =
            m_dialogs.promptText(QStringLiteral("Please enter a hostname/IP address"),
                                 QStringLiteral("Hostname required"), QStringLiteral("127.0.0.1"));
        if (!m_client)
            return false;
    }
    const HostAddress host = HostAddress::parse(answer);
    if (!host.Valid) {
        reportSetupError(ConnectTitle, BadPort,
                         QStringLiteral("\"%1\" names no port from 1 to 65535.").arg(answer));
        return false;
    }
    m_host = host;
    m_localPlayerName = m_dialogs.promptText(
        QStringLiteral("Playername?"), QStringLiteral("Playername"), QStringLiteral("Myself"));
    if (!m_client)
        return false;
    m_localPlayerId = 0;
    emit connectStarting();
    m_client->connectToServer(m_host.Host, m_host.Port, m_localPlayerName);
    return true;
}

void Session::CloseSession() {
    if (!m_client)
        return;
    m_client->disconnect(this);
    m_client->close();
    m_client.reset();
}

bool Session::sendMessage(common::ByteView message) {
    if (!m_client)
        return false;
    return m_client->send(QByteArrayView(reinterpret_cast<const char*>(message.data()),
                                         static_cast<qsizetype>(message.size())));
}

} // namespace gemvolt::net
