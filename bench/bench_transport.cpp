// Throughput of the session transport on the loopback interface.
//
// BM_RelayToTenClients: ten clients joined to a SessionServer that relays
// every message it receives to every player, as the game server does with
// board snapshots. One client sends a burst of 270-byte messages; the figure
// is deliveries per second (messages times ten receivers). The clients are
// plain blocking sockets on threads of their own, so the measure is the
// server's, which runs on this program's main thread.
//
// BM_ClientReceive: one SessionClient receiving a burst sent to all by the
// server; the figure is messages per second handed to the client's main thread.
#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"
#include "Common/transport/SessionClient.h"
#include "Common/transport/SessionServer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace gemvolt::transport;

namespace {

constexpr int MessageSize = 270;
constexpr int Clients = 10;

// Runs the event loop until done() holds.
void runUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(1);
    if (!done()) {
        loop.exec();
    }
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += std::size_t(n);
    }
    return true;
}

// A client on a plain blocking socket: joins, then counts the DATA frames it
// receives until the connection ends.
class LoadClient {
public:
    LoadClient(quint16 port, int index) {
        m_thread = std::thread([this, port, index] { run(port, index); });
    }
    ~LoadClient() {
        if (m_fd >= 0) {
            ::shutdown(m_fd, SHUT_RDWR);
        }
        m_thread.join();
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool joined() const { return m_joined.load(); }
    std::uint64_t received() const { return m_received.load(); }
    int fd() const { return m_fd; }

private:
    void run(quint16 port, int index) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return;
        }
        m_fd = fd;
        sendAll(fd, encodeFrame(FrameKind::Hello,
                                encodeHello({ProtocolVersion, std::string(ApplicationId),
                                             "load" + std::to_string(index)})));
        FrameReader reader;
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                return;
            }
            reader.append(buffer.data(), std::size_t(n));
            Frame frame;
            std::uint64_t data = 0;
            while (reader.next(frame) == FrameReader::Result::FrameReady) {
                if (frame.kind == FrameKind::Welcome) {
                    m_joined = true;
                } else if (frame.kind == FrameKind::Data) {
                    ++data;
                } else if (frame.kind == FrameKind::Ping) {
                    sendAll(fd, encodeFrame(FrameKind::Pong, std::string(frame.body)));
                }
            }
            m_received += data;
        }
    }

    std::thread m_thread;
    int m_fd = -1;
    std::atomic<bool> m_joined{false};
    std::atomic<std::uint64_t> m_received{0};
};

void BM_RelayToTenClients(benchmark::State& state) {
    const int burst = int(state.range(0));
    SessionServer server;
    // A burst far above what a player may send: the relay itself is measured.
    server.setFloodLimit(0);
    if (!server.host(Clients + 1, 0)) {
        state.SkipWithError("cannot host");
        return;
    }
    QObject::connect(&server, &SessionServer::messageReceived,
                     [&server](qint32, const QByteArray& message) { server.sendToAll(message); });
    std::vector<std::unique_ptr<LoadClient>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<LoadClient>(server.port(), i));
    }
    runUntil([&] {
        for (const auto& c : clients) {
            if (!c->joined()) {
                return false;
            }
        }
        return true;
    });

    std::string frames;
    const std::string message(MessageSize, '\x06');
    for (int i = 0; i < burst; ++i) {
        appendFrame(frames, FrameKind::Data, message);
    }
    std::uint64_t target = 0;
    for (auto _ : state) {
        target += std::uint64_t(burst);
        const int senderFd = clients[0]->fd();
        std::thread sender([&] { sendAll(senderFd, frames); });
        runUntil([&] {
            for (const auto& c : clients) {
                if (c->received() < target) {
                    return false;
                }
            }
            return true;
        });
        sender.join();
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * burst * Clients);
    state.counters["clients"] = Clients;
    state.counters["message_bytes"] = MessageSize;
    server.close();
}
BENCHMARK(BM_RelayToTenClients)->Arg(20000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ClientReceive(benchmark::State& state) {
    const int burst = int(state.range(0));
    SessionServer server;
    server.host(2, 0);
    SessionClient client;
    bool connected = false;
    std::uint64_t received = 0;
    QObject::connect(&client, &SessionClient::connectComplete,
                     [&](bool ok, qint32, const QString&) { connected = ok; });
    QObject::connect(&client, &SessionClient::messageReceived,
                     [&](const QByteArray&) { ++received; });
    client.connectToServer(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("reader"));
    runUntil([&] { return connected; });
    const QByteArray message(MessageSize, '\x06');
    std::uint64_t target = 0;
    for (auto _ : state) {
        target += std::uint64_t(burst);
        for (int i = 0; i < burst; ++i) {
            server.sendToAll(message);
        }
        runUntil([&] { return received >= target; });
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * burst);
    client.close();
    server.close();
}
BENCHMARK(BM_ClientReceive)->Arg(20000)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
