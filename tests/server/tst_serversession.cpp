// The server core on the real TCP session, with clients speaking the wire
// protocol frame by frame on port 0.
#include "Common/MessageCodec.h"
#include "Common/NumberText.h"
#include "Common/transport/SessionServer.h"
#include "Server/ServerCore.h"
#include "Server/SessionPort.h"
#include "support/WirePeer.h"

#include <QTest>

#include <memory>

using namespace gemvolt;
using namespace gemvolt::common;
using server::ServerCore;
using server::SessionPort;
using testing::WirePeer;
using transport::FrameKind;

namespace {

QByteArray toQt(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// The next application message the peer receives, decoded as the server's.
std::optional<AnyMessage> nextMessage(WirePeer& peer) {
    WirePeer::Received frame;
    if (!peer.waitForKind(FrameKind::Data, frame)) {
        return std::nullopt;
    }
    auto decoded = decodeMessage(byteView(frame.body.constData(), std::size_t(frame.body.size())),
                                 Direction::ServerToClient);
    if (!decoded) {
        return std::nullopt;
    }
    return std::move(decoded).value();
}

// Skips messages until one of type M arrives.
template <class M> std::optional<M> waitFor(WirePeer& peer) {
    while (auto message = nextMessage(peer)) {
        if (auto* wanted = std::get_if<M>(&*message)) {
            return *wanted;
        }
    }
    return std::nullopt;
}

// Skips application messages until BYE arrives.
bool waitForBye(WirePeer& peer) {
    WirePeer::Received frame;
    while (peer.waitForFrame(frame)) {
        if (frame.kind == FrameKind::Bye) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> ids(const MsgStandings& standings) {
    std::vector<std::string> out;
    for (const auto& row : standings.Rows) {
        out.push_back(row.Id.text());
    }
    return out;
}

struct Server {
    explicit Server(const char* limit = "11") {
        port.attach(&core);
        hosted = core.InitServer(limit, 0).Hosted;
    }
    ~Server() { core.CloseSession(); }
    std::unique_ptr<WirePeer> join(const std::string& name, qint32& id) {
        auto peer = std::make_unique<WirePeer>();
        id = peer->connectTo(port.port()) ? peer->join(name) : 0;
        return peer;
    }
    SessionPort port;
    ServerCore core{port};
    bool hosted = false;
};

} // namespace

class TestServerSession : public QObject {
    Q_OBJECT
private slots:
    void clientsJoinChatFightAndLeave();
    void killedClientIsRemoved();
    void kickedClientIsToldAndDisconnected();
    void playerLimitCountsTheServersOwnPlayer();
};

void TestServerSession::clientsJoinChatFightAndLeave() {
    Server server;
    QVERIFY(server.hosted);
    QVERIFY(server.port.localAddress().contains(QString(";port=%1").arg(server.port.port())));

    qint32 a = 0, b = 0, c = 0;
    auto pa = server.join("Alice", a);
    QVERIFY(a > 0);
    const auto firstRoster = waitFor<MsgRoster>(*pa);
    QVERIFY(firstRoster);
    QCOMPARE(firstRoster->Entries, (std::vector<RosterEntry>{{a, "Alice"}}));
    const auto firstStandings = waitFor<MsgStandings>(*pa);
    QVERIFY(firstStandings);
    QCOMPARE(firstStandings->Rows.size(), std::size_t(1));

    auto pb = server.join("Bob", b);
    auto pc = server.join("Carol", c);
    QVERIFY(b > 0 && c > 0);
    QTRY_COMPARE(server.core.Standings().size(), std::size_t(3));
    for (WirePeer* peer : {pa.get(), pb.get(), pc.get()}) {
        std::optional<MsgStandings> standings;
        do {
            standings = waitFor<MsgStandings>(*peer);
        } while (standings && standings->Rows.size() < 3);
        QVERIFY(standings);
        QCOMPARE(ids(*standings), (std::vector{toIdText(a), toIdText(b), toIdText(c)}));
    }

    // A chat line reaches everybody, the sender included, exactly as sent.
    const Bytes chat = encode(MsgChat{"Carol:>hi, all\nsee you"});
    pc->sendData(toQt(chat));
    for (WirePeer* peer : {pa.get(), pb.get(), pc.get()}) {
        const auto line = waitFor<MsgChat>(*peer);
        QVERIFY(line);
        QCOMPARE(line->Text, std::string("Carol:>hi, all\nsee you"));
    }

    // Alice's board goes to everybody byte for byte; then she loses.
    std::array<GemCell, BoardCells> cells{};
    cells[3] = {true, ShapeCrash, 3, GemRed};
    const Bytes board = encode(MsgBoardState::fromBoard(1, cells, "04"));
    pa->sendData(toQt(board));
    pa->sendData(toQt(encode(MsgGameOver{})));
    for (WirePeer* peer : {pa.get(), pb.get(), pc.get()}) {
        WirePeer::Received frame;
        QVERIFY(peer->waitForKind(FrameKind::Data, frame));
        QCOMPARE(frame.body, toQt(board));
        const auto standings = waitFor<MsgStandings>(*peer);
        QVERIFY(standings);
        QCOMPARE(ids(*standings), (std::vector{toIdText(b), toIdText(c), toIdText(a)}));
        QCOMPARE(standings->Rows[2].Losses.text(), std::string("1"));
        const auto next = nextMessage(*peer);
        QVERIFY(next && std::holds_alternative<MsgGameOver>(*next));
    }

    // Carol fights on board 2 now; she says goodbye and her connection is closed.
    pc->sendData(toQt(encode(MsgPlayerLeft{c})));
    for (WirePeer* peer : {pa.get(), pb.get()}) {
        const auto left = waitFor<MsgPlayerLeft>(*peer);
        QVERIFY(left);
        QCOMPARE(left->Id, c);
        const auto next = nextMessage(*peer);
        QVERIFY(next && std::holds_alternative<MsgGameOver>(*next));
    }
    QVERIFY(waitForBye(*pc));
    QVERIFY(pc->waitForClosed());
    QCOMPARE(server.core.ServerRoster().size(), std::size_t(2));
}

void TestServerSession::killedClientIsRemoved() {
    Server server;
    qint32 a = 0, b = 0;
    auto pa = server.join("Alice", a);
    auto pb = server.join("Bob", b);
    QTRY_COMPARE(server.core.Standings().size(), std::size_t(2));

    pb->socket().abort();
    const auto left = waitFor<MsgPlayerLeft>(*pa);
    QVERIFY(left);
    QCOMPARE(left->Id, b);
    QCOMPARE(server.core.Standings().size(), std::size_t(1));
    QCOMPARE(server.core.ServerRoster(), (std::vector<RosterEntry>{{a, "Alice"}}));
}

void TestServerSession::kickedClientIsToldAndDisconnected() {
    Server server;
    qint32 a = 0, b = 0, c = 0;
    auto pa = server.join("Alice", a);
    auto pb = server.join("Bob", b);
    auto pc = server.join("Carol", c);
    QTRY_COMPARE(server.core.Standings().size(), std::size_t(3));

    server.core.Kick(c);
    // The kicked client hears of its own departure, then the connection ends.
    const auto own = waitFor<MsgPlayerLeft>(*pc);
    QVERIFY(own);
    QCOMPARE(own->Id, c);
    QVERIFY(waitForBye(*pc));
    QVERIFY(pc->waitForClosed());
    const auto seen = waitFor<MsgPlayerLeft>(*pa);
    QVERIFY(seen);
    QCOMPARE(seen->Id, c);
    QCOMPARE(server.core.Standings().size(), std::size_t(2));
    QCOMPARE(server.port.session().clientCount(), 2);
}

void TestServerSession::playerLimitCountsTheServersOwnPlayer() {
    Server server("3");
    qint32 a = 0, b = 0, c = 0;
    auto pa = server.join("Alice", a);
    auto pb = server.join("Bob", b);
    QVERIFY(a > 0 && b > 0);
    auto pc = server.join("Carol", c);
    QCOMPARE(c, 0);
    QCOMPARE(server.core.ServerRoster().size(), std::size_t(2));
}

QTEST_GUILESS_MAIN(TestServerSession)
#include "tst_serversession.moc"
