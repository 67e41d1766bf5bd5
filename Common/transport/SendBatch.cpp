#include "Common/transport/SendBatch.h"

#include "Common/transport/Connection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <sys/syscall.h>
#include <unistd.h>

namespace gemvolt::transport {

namespace {

// Writes handed to the system per call, and the size of the context's ring.
constexpr std::size_t Capacity = 128;

// The head of the ring of results the system keeps for a context, mapped at the
// context's own address; the results follow it. Its layout is the kernel's, and the
// kernel lets the program take results from it and move the head on by itself.
struct ResultRing {
    unsigned id;
    unsigned size;
    unsigned head;
    unsigned tail;
    unsigned magic;
    unsigned compatFeatures;
    unsigned incompatFeatures;
    unsigned headerLength;
};
constexpr unsigned ResultRingMagic = 0xa10a10a1;

ResultRing* resultRing(aio_context_t context) {
    return reinterpret_cast<ResultRing*>(static_cast<std::uintptr_t>(context));
}

} // namespace

SendBatch::~SendBatch() {
    if (m_context != 0) {
        ::syscall(SYS_io_destroy, m_context);
    }
}

bool SendBatch::setUp() {
    if (::syscall(SYS_io_setup, long(Capacity), &m_context) != 0) {
        m_context = 0;
        return false;
    }
    struct sigaction current = {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        std::signal(SIGPIPE, SIG_IGN);
    }
    // A ring of another layout than this one knows is left to the system call.
    const ResultRing* ring = resultRing(m_context);
    m_readsRing = ring->magic == ResultRingMagic && ring->incompatFeatures == 0 &&
                  ring->headerLength == sizeof(ResultRing) && ring->size > 0;
    m_blocks.resize(Capacity);
    m_pointers.resize(Capacity);
    m_events.resize(Capacity);
    return true;
}

void SendBatch::open() {
    if (m_unavailable) {
        return;
    }
    if (m_context == 0 && !setUp()) {
        m_unavailable = true;
        return;
    }
    m_open = true;
}

void SendBatch::close() {
    m_open = false;
    submit();
}

void SendBatch::add(Connection& c, const QByteArray& bytes) {
    m_entries.push_back({&c, bytes});
    if (m_entries.size() >= Capacity) {
        submit();
    }
}

long SendBatch::takeResults(long max) {
    ResultRing* ring = resultRing(m_context);
    const auto* results =
        reinterpret_cast<const io_event*>(reinterpret_cast<const char*>(ring) + ring->headerLength);
    std::atomic_ref<unsigned> head(ring->head);
    std::atomic_ref<unsigned> tail(ring->tail);
    unsigned at = head.load(std::memory_order_relaxed);
    // The results up to the tail are written before the tail moves.
    const unsigned end = tail.load(std::memory_order_acquire);
    long got = 0;
    while (got < max && at != end && at < ring->size) {
        m_events[std::size_t(got++)] = results[at];
        at = (at + 1) % ring->size;
    }
    // Read before the system may write those places again.
    head.store(at, std::memory_order_release);
    return got;
}

void SendBatch::forget(const Connection& c) {
    std::erase_if(m_entries, [&c](const Entry& e) { return e.connection == &c; });
}

void SendBatch::submit() {
    const std::size_t count = m_entries.size();
    if (count == 0) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        Entry& e = m_entries[i];
        e.result = 0;
        iocb& block = m_blocks[i];
        block = {};
        block.aio_data = i;
        block.aio_lio_opcode = IOCB_CMD_PWRITE;
        block.aio_fildes = std::uint32_t(e.connection->socket()->descriptor());
        block.aio_buf = std::uint64_t(reinterpret_cast<std::uintptr_t>(e.bytes.constData()));
        block.aio_nbytes = std::uint64_t(e.bytes.size());
        m_pointers[i] = &block;
    }
    long submitted = 0;
    do {
        submitted = ::syscall(SYS_io_submit, m_context, long(count), m_pointers.data());
    } while (submitted < 0 && errno == EINTR);
    if (submitted < 0) {
        // Not one write was made: each waits in its connection's queue. A system that
        // refuses such writes altogether has every later one sent on its own.
        if (errno == ENOSYS || errno == EINVAL || errno == EPERM) {
            m_unavailable = true;
            m_open = false;
        }
        submitted = 0;
    }
    // Socket writes complete within the submission: their results are all there. They
    // are taken from the ring, which spares the relay a second system call: after the
    // milliseconds a relay sleeps between messages, each call costs microseconds.
    for (long got = 0; got < submitted;) {
        long more = m_readsRing ? takeResults(submitted - got) : 0;
        if (more == 0) {
            more = ::syscall(SYS_io_getevents, m_context, submitted - got, submitted - got,
                             m_events.data(), nullptr);
        }
        if (more < 0 && errno == EINTR) {
            continue;
        }
        if (more <= 0) {
            // Not to be expected: count the writes as made rather than risk sending
            // their bytes twice.
            for (long i = 0; i < submitted; ++i) {
                m_entries[std::size_t(i)].result = m_entries[std::size_t(i)].bytes.size();
            }
            break;
        }
        for (long i = 0; i < more; ++i) {
            m_entries[std::size_t(m_events[std::size_t(i)].data)].result =
                m_events[std::size_t(i)].res;
        }
        got += more;
    }
    // A connection only queues what the system did not take: nothing is added to
    // the batch or taken from it while the results are handed out.
    for (const Entry& e : m_entries) {
        e.connection->sentInBatch(e.bytes, e.result);
    }
    m_entries.clear();
}

} // namespace gemvolt::transport
