#include "Common/transport/SessionClient.h"

#include "Common/transport/ClientWorker.h"
#include "Common/transport/ControlMessages.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QPointer>

namespace gemvolt::transport {

SessionClient::SessionClient(Timings timings, QObject* parent)
    : QObject(parent), m_outgoing(std::make_shared<OutgoingFrames>()),
      m_incoming(std::make_shared<IncomingMessages>()) {
    m_worker = new ClientWorker(timings, m_outgoing, m_incoming);
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("gemvolt-session"));

    // Queued across the threads: the order of the worker's signals is kept.
    connect(m_worker, &ClientWorker::connectComplete, this,
            [this](quint64 generation, bool success, qint32 playerId, const QString& reason) {
                if (generation != m_generation || m_state != State::Connecting) {
                    return;
                }
                if (success) {
                    m_state = State::Connected;
                    m_playerId = playerId;
                } else {
                    m_state = State::Ended;
                    clearOutgoing();
                }
                emit connectComplete(success, playerId, reason);
            });
    connect(m_worker, &ClientWorker::messagesWaiting, this, &SessionClient::deliverMessages);
    connect(m_worker, &ClientWorker::sessionTerminated, this,
            [this](quint64 generation, const QString& reason) {
                if (generation != m_generation || m_state != State::Connected) {
                    return;
                }
                // Every message that came before the end goes first.
                if (!deliverWaiting(false) || generation != m_generation ||
                    m_state != State::Connected) {
                    return;
                }
                m_state = State::Ended;
                clearOutgoing();
                emit sessionTerminated(reason);
            });
    // Messages that came before a loss or a resume are delivered before its news.
    connect(m_worker, &ClientWorker::connectionInterrupted, this, [this](quint64 generation) {
        if (generation == m_generation && m_state == State::Connected && deliverWaiting(false) &&
            generation == m_generation && m_state == State::Connected) {
            emit connectionInterrupted();
        }
    });
    connect(m_worker, &ClientWorker::connectionResumed, this, [this](quint64 generation) {
        if (generation == m_generation && m_state == State::Connected && deliverWaiting(false) &&
            generation == m_generation && m_state == State::Connected) {
            emit connectionResumed();
        }
    });
    m_thread.start();
}

SessionClient::~SessionClient() {
    ++m_generation;
    QMetaObject::invokeMethod(m_worker, &ClientWorker::shutdown, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void SessionClient::connectToServer(const QString& host, quint16 port, const QString& playerName,
                                    const QString& applicationId) {
    const quint64 generation = ++m_generation;
    {
        // From here on, what is sent belongs to the new connection only.
        QMutexLocker lock(&m_outgoing->mutex);
        m_outgoing->bytes.clear();
        m_outgoing->generation = generation;
    }
    m_state = State::Connecting;
    m_playerId = 0;

    const QByteArray appId = applicationId.toUtf8();
    const QByteArray utf8Name = playerName.toUtf8();
    std::string name(utf8Name.constData(), std::size_t(utf8Name.size()));
    std::string application(appId.constData(), std::size_t(appId.size()));

    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, generation, host, port, name = std::move(name),
         application = std::move(application)] {
            worker->start(generation, host, port, name, application);
        },
        Qt::QueuedConnection);
}

bool SessionClient::send(QByteArrayView message) {
    if ((m_state != State::Connecting && m_state != State::Connected) || message.isEmpty() ||
        std::size_t(message.size()) > MaxFrameBody) {
        return false;
    }
    char header[FrameHeaderSize];
    writeFrameHeader(header, FrameKind::Data, std::size_t(message.size()));
    bool post = false;
    {
        QMutexLocker lock(&m_outgoing->mutex);
        m_outgoing->bytes.append(header, FrameHeaderSize);
        m_outgoing->bytes.append(message);
        if (!m_outgoing->flushPosted) {
            m_outgoing->flushPosted = true;
            post = true;
        }
    }
    if (post) {
        QMetaObject::invokeMethod(m_worker, &ClientWorker::flushOutgoing, Qt::QueuedConnection);
    }
    return true;
}

void SessionClient::close() {
    if (m_state == State::Idle) {
        return;
    }
    ++m_generation;
    m_state = State::Ended;
    m_playerId = 0;
    QMetaObject::invokeMethod(m_worker, &ClientWorker::closeSession, Qt::QueuedConnection);
}

void SessionClient::deliverMessages() {
    if (!deliverWaiting(true)) {
        return;
    }
    QMutexLocker lock(&m_incoming->mutex);
    if (m_incoming->messages.empty()) {
        m_incoming->deliveryPosted = false;
    } else {
        // The rest at the next turn of the event loop: timers, keys and signals
        // of the application come in between, however fast the server sends.
        QMetaObject::invokeMethod(this, &SessionClient::deliverMessages, Qt::QueuedConnection);
    }
}

bool SessionClient::deliverWaiting(bool inSlices) {
    QElapsedTimer slice;
    slice.start();
    const QPointer<SessionClient> alive(this);
    while (!inSlices || slice.elapsed() < DeliverySliceMs) {
        std::pair<quint64, QByteArray> next;
        bool resume = false;
        {
            QMutexLocker lock(&m_incoming->mutex);
            if (m_incoming->messages.empty()) {
                break;
            }
            next = std::move(m_incoming->messages.front());
            m_incoming->messages.pop_front();
            m_incoming->bytes -= qint64(next.second.size()) + HeldMessageOverhead;
            resume = m_incoming->paused && m_incoming->bytes < HeldMessagesResume;
            m_incoming->paused = m_incoming->paused && !resume;
        }
        if (resume) {
            QMetaObject::invokeMethod(m_worker, &ClientWorker::resumeReading, Qt::QueuedConnection);
        }
        if (next.first == m_generation && m_state == State::Connected) {
            emit messageReceived(next.second);
            // A receiver may have ended this client.
            if (!alive) {
                return false;
            }
        }
    }
    return true;
}

void SessionClient::clearOutgoing() {
    QMutexLocker lock(&m_outgoing->mutex);
    m_outgoing->bytes.clear();
}

} // namespace gemvolt::transport
