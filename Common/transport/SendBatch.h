#pragma once

#include <QByteArray>

#include <linux/aio_abi.h>

#include <cstddef>
#include <vector>

namespace gemvolt::transport {

class Connection;

/**
 * Writes to several connections handed to the system in one call. A relay to
 * ten players is then one system call instead of ten, and none of the players
 * on this machine is woken to run before the last of them has its copy.
 *
 * Linux's asynchronous I/O carries the writes: on a socket each one completes
 * inside the call, as a send would, and its result (bytes taken, or an error)
 * goes back to its connection, which queues what the system did not take. A
 * connection has at most one write in a batch, so nothing can overtake the
 * rest of a write the system took only in part. Where the system offers no
 * context for it, the batch never opens and every write is a send of its own.
 *
 * Such a write cannot ask for no SIGPIPE as a send can: the first batch makes
 * the program ignore SIGPIPE, as servers do, unless it handles the signal.
 */
class SendBatch {
public:
    SendBatch() = default;
    ~SendBatch();
    SendBatch(const SendBatch&) = delete;
    SendBatch& operator=(const SendBatch&) = delete;

    /** Collects writes from here on (see Connection::setSendBatch) until close(). */
    void open();
    /** Hands what was collected to the system and collects no more. */
    void close();
    bool isOpen() const { return m_open; }

    /** A write of bytes to connection c, which has none in the batch yet. */
    void add(Connection& c, const QByteArray& bytes);
    /** Hands the writes collected so far to the system and reports each result. */
    void submit();
    /** Drops c's write unsent: the connection is going. */
    void forget(const Connection& c);

private:
    struct Entry {
        Connection* connection;
        QByteArray bytes;
        // Bytes the system took, or -errno.
        qint64 result = 0;
    };

    bool setUp();
    /** Takes up to max results from the context's ring into m_events, without a system call. */
    long takeResults(long max);

    bool m_open = false;
    bool m_unavailable = false;
    aio_context_t m_context = 0;
    // The context's ring is one this program can read results from itself.
    bool m_readsRing = false;
    // Kept, like the vectors below, between batches so that a relay allocates nothing.
    std::vector<Entry> m_entries;
    std::vector<iocb> m_blocks;
    std::vector<iocb*> m_pointers;
    std::vector<io_event> m_events;
};

} // namespace gemvolt::transport
