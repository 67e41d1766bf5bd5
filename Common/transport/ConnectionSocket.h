#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>

class QSocketNotifier;
class QTcpSocket;

namespace gemvolt::transport {

class FrameReader;

/**
 * What a Connection needs of its socket. Two kinds: a QTcpSocket for the
 * connecting end (it looks up names and connects), and DirectSocket for the
 * accepting end, whose every relayed message wakes it: there the socket's own
 * read buffer, its extra system call per read and its signal machinery were
 * most of what a relay cost beyond the system calls themselves.
 */
class ConnectionSocket {
public:
    enum class State { Unconnected, Connecting, Connected, Closing };

    /** What the socket reports, on its thread. Unset functions are not called. */
    struct Events {
        std::function<void()> readable;
        std::function<void()> connected;
        std::function<void()> disconnected;
        std::function<void()> failed;
    };

    virtual ~ConnectionSocket() = default;

    /** Reports to events from here on (empty Events: nothing more is reported). */
    virtual void follow(Events events) = 0;
    virtual State state() const = 0;
    /** The system's descriptor, or -1 once closed. */
    virtual qintptr descriptor() const = 0;
    /** Bytes queued here that the system has not taken yet. */
    virtual qint64 bytesToWrite() const = 0;
    /** Queues bytes; they go out as the system takes them. */
    virtual void write(const char* data, qint64 size) = 0;
    /** Hands the system what is queued, as far as it takes it now. */
    virtual void flush() = 0;
    /** Reads at most max bytes into reader; 0 when nothing more is there now. */
    virtual qint64 readInto(FrameReader& reader, qint64 max) = 0;
    /** True when bytes already read from the system wait here. */
    virtual bool holdsInput() const = 0;
    /** Reads away whatever has arrived. */
    virtual void discardInput() = 0;
    /** Bytes taken from the system per notification at most. */
    virtual void setReadBudget(qint64 bytes) = 0;
    /** Closes once what is queued has gone; disconnected follows. */
    virtual void disconnectFromHost() = 0;
    /** Closes now, discarding what is queued; disconnected follows if it was open. */
    virtual void abort() = 0;
    /** Why it failed, for a person. */
    virtual QString errorString() const = 0;
    /** Deleted from the event loop: this may run inside one of its own reports. */
    virtual void deleteLater() = 0;
};

/** A QTcpSocket as a connection's socket (owned). */
class QtConnectionSocket final : public ConnectionSocket {
public:
    explicit QtConnectionSocket(QTcpSocket* socket);
    ~QtConnectionSocket() override;

    QTcpSocket* socket() const { return m_socket; }

    void follow(Events events) override;
    State state() const override;
    qintptr descriptor() const override;
    qint64 bytesToWrite() const override;
    void write(const char* data, qint64 size) override;
    void flush() override;
    qint64 readInto(FrameReader& reader, qint64 max) override;
    bool holdsInput() const override;
    void discardInput() override;
    void setReadBudget(qint64 bytes) override;
    void disconnectFromHost() override;
    void abort() override;
    QString errorString() const override;
    void deleteLater() override;

private:
    QTcpSocket* m_socket;
};

/**
 * An accepted, non-blocking TCP descriptor watched by two notifiers: reads go
 * from the system straight into the connection's frame reader, and only what
 * the system does not take at once is queued here.
 */
class DirectSocket final : public QObject, public ConnectionSocket {
public:
    /** Takes the descriptor (connected, non-blocking); closes it when done. */
    explicit DirectSocket(int fd, QObject* parent = nullptr);
    ~DirectSocket() override;

    void follow(Events events) override;
    State state() const override { return m_state; }
    qintptr descriptor() const override { return m_fd; }
    qint64 bytesToWrite() const override { return m_queue.size() - m_queueSent; }
    void write(const char* data, qint64 size) override;
    void flush() override;
    qint64 readInto(FrameReader& reader, qint64 max) override;
    bool holdsInput() const override { return false; }
    void discardInput() override;
    void setReadBudget(qint64 bytes) override { m_readBudget = bytes; }
    void disconnectFromHost() override;
    void abort() override;
    QString errorString() const override { return m_error; }
    void deleteLater() override { QObject::deleteLater(); }

private:
    void readyToRead();
    void readyToWrite();
    /** Lets the connection read; false when the socket is gone or closed after it. */
    bool reportReadable();
    /** The stream ended or broke: closed, and disconnected reported. */
    void close(const QString& why);
    void fail(int error);

    int m_fd;
    State m_state = State::Connected;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    Events m_events;
    QByteArray m_queue;
    qint64 m_queueSent = 0;
    qint64 m_readBudget = 256 * 1024;
    qint64 m_readThisTurn = 0;
    bool m_inReadable = false;
    // This turn's last read got less than it asked for.
    bool m_drained = false;
    bool m_readCalled = false;
    bool m_ended = false;
    QString m_error;
};

} // namespace gemvolt::transport
