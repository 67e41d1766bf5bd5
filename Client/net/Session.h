#pragma once

#include "Client/net/HostAddress.h"
#include "Client/net/MessageSender.h"
#include "Client/net/SessionDialogs.h"
#include "Common/transport/SessionClient.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace gemvolt::net {

/** The chat line while a broken connection is being resumed. */
inline constexpr const char* ReconnectingLine = "*** Connection lost - reconnecting... ***";
/** The chat line once the session has resumed with nothing lost. */
inline constexpr const char* ReconnectedLine = "*** Reconnected ***";

/**
 * The client's session: sets up the transport's client side, asks for the
 * host and the player name, connects, hands every message on and closes the
 * connection. Its events are signals, on the thread that made the session.
 *
 * A setup error is shown through the dialogs port with "Error #<n>: <text>"
 * and then the port is asked to end the program; after that the session does
 * nothing until DirectPlayInit runs again.
 */
class Session : public QObject, public MessageSender {
    Q_OBJECT
public:
    /** Setup errors, the number shown as "Error #<n>". */
    enum SetupError {
        TransportUnavailable = 1, ///< the transport's client could not be made
        BadPort = 2,              ///< the host answer names a port that is no port
        NotInitialised = 3,       ///< ConnectToServer before DirectPlayInit
    };

    explicit Session(SessionDialogs& dialogs, QObject* parent = nullptr);
    ~Session() override;

    /** Transport timings for the next DirectPlayInit (tests shorten them). */
    void setTimings(const transport::Timings& timings) { m_timings = timings; }

    /** Make a fresh transport client, replacing (and closing) any earlier one. False on error. */
    bool DirectPlayInit();
    /**
     * Ask for the host (again until the answer is not empty) and the player
     * name, then start the connect; its outcome arrives as connected() or
     * connectFailed(). False on a setup error (already reported).
     */
    bool ConnectToServer();
    /** Close the connection (BYE after what was sent) and release the transport client. */
    void CloseSession();

    /** Send one message to the server; false without a connection. */
    bool sendMessage(common::ByteView message) override;

    const QString& LocalPlayerName() const { return m_localPlayerName; }
    /** Our identifier from the server's welcome; 0 before it and after a new connect starts. */
    qint32 LocalPlayerId() const { return m_localPlayerId; }
    /** The host as typed (without the port), for messages. */
    const QString& hostName() const { return m_host.Host; }
    quint16 port() const { return m_host.Port; }
    bool isConnected() const { return m_client && m_client->isConnected(); }

signals:
    /** A connect is about to start: the old identifier is void. */
    void connectStarting();
    /** The server welcomed us. */
    void connected(qint32 playerId);
    /** The connect failed (unreachable, refused, wrong application, full, no answer). */
    void connectFailed(const QString& host, const QString& reason);
    /** A message from the server. */
    void messageArrived(const QByteArray& message);
    /**
     * The connection broke and the transport is resuming the session. Nothing
     * ends: messages sent meanwhile go out once it is back. If the resume
     * gives up, connectionLost() follows.
     */
    void connectionInterrupted();
    /** The session resumed after connectionInterrupted(), nothing lost or repeated. */
    void connectionResumed();
    /** The server ended an open session (not our own close), or a resume gave up. */
    void connectionLost();

private:
    void reportSetupError(const QString& title, int number, const QString& description);

    SessionDialogs& m_dialogs;
    transport::Timings m_timings;
    std::unique_ptr<transport::SessionClient> m_client;
    HostAddress m_host;
    QString m_localPlayerName;
    qint32 m_localPlayerId = 0;
};

} // namespace gemvolt::net
