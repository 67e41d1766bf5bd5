#pragma once

#include "Common/transport/SessionClient.h"
#include "Common/transport/SessionServer.h"

#include <QSignalSpy>
#include <QStringList>

#include <chrono>

namespace gemvolt::testing {

/** Time limits short enough that every timeout of a test happens well within a second. */
inline transport::Timings quickTimings() {
    using namespace std::chrono_literals;
    transport::Timings t;
    // Silence limits stay well above the stalls a loaded test machine can cause.
    t.handshakeTimeout = 300ms;
    t.pingAfterIdle = 50ms;
    t.lostAfterSilence = 500ms;
    t.connectTimeout = 800ms;
    return t;
}

/** Records a server's events in one list, so that their order can be checked. */
struct ServerLog {
    explicit ServerLog(transport::SessionServer& server) {
        using transport::SessionServer;
        QObject::connect(&server, &SessionServer::playerCreated,
                         [this](qint32 id) { events << QStringLiteral("created %1").arg(id); });
        QObject::connect(
            &server, &SessionServer::messageReceived, [this](qint32 id, const QByteArray& m) {
                events << QStringLiteral("message %1 %2").arg(id).arg(QString::fromLatin1(m));
            });
        QObject::connect(&server, &SessionServer::playerDestroyed,
                         [this](qint32 id) { events << QStringLiteral("destroyed %1").arg(id); });
    }
    QStringList events;
};

struct ConnectResult {
    bool success = false;
    qint32 id = 0;
    QString reason;
};

/** Connects a client and waits for its connect complete. */
inline ConnectResult
connectClient(transport::SessionClient& client, quint16 port, const QString& name,
              const QString& applicationId = QString::fromUtf8(transport::ApplicationId),
              const QString& host = QStringLiteral("127.0.0.1")) {
    QSignalSpy done(&client, &transport::SessionClient::connectComplete);
    client.connectToServer(host, port, name, applicationId);
    if (!done.wait(5000)) {
        return {false, 0, QStringLiteral("no connect complete")};
    }
    return {done[0][0].toBool(), done[0][1].value<qint32>(), done[0][2].toString()};
}

} // namespace gemvolt::testing
