#include "Bot/BotPlayer.h"
#include "Client/net/HeadlessClient.h"
#include "Common/MessageCodec.h"
#include "Common/NumberText.h"
#include "ServerProcess.h"
#include "support/FakeSessionDialogs.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>

using namespace gemvolt;
using namespace gemvolt::testing;

namespace {

struct Row {
    std::string Id, Name, Wins, Losses;
    bool operator==(const Row&) const = default;
};

std::vector<Row> tableOf(const battle::GameCore& core) {
    std::vector<Row> rows;
    for (int i = 0; i < core.playerTable().rowCount(); ++i)
        rows.push_back(
            {core.listID(i), core.listPlayerName(i), core.listWins(i), core.listLosses(i)});
    return rows;
}

std::string plusOne(const std::string& text) {
    return common::toIdText(common::numberValue(text) + 1);
}

// Watches one bot's own board being drawn and picks out the counter gems that
// a resolution lays into the top row: each such drawing is followed, at the
// next repaint, by the pending counter one lower.
class CounterGemWatch : public board::DrawPort {
public:
    CounterGemWatch(bot::BotPlayer& bot, std::vector<bot::BotPlayer*>& all)
        : m_bot(bot), m_all(all) {}

    void drawCell(int b, int k, std::int16_t shape, std::int32_t color, bool visible) override {
        const battle::GameCore& core = m_bot.client().core();
        if (!visible || k / 6 != 14 || b != core.FightBoard() - 1 || core.PairActive())
            return;
        m_candidate = Candidate{k % 6, shape, color, common::numberValue(core.lblIncoming(b)),
                                core.listID(1 - b)};
    }
    void drawNextGem(int, std::int16_t, std::int32_t) override {}
    void repaint() override {
        if (!m_candidate)
            return;
        const Candidate c = *m_candidate;
        m_candidate.reset();
        const battle::GameCore& core = m_bot.client().core();
        const int b = core.FightBoard() - 1;
        if (b < 0 || common::numberValue(core.lblIncoming(b)) != c.pendingBefore - 1)
            return;
        ++laid;
        // The gem must come from the attacker's own pattern, in its column.
        for (bot::BotPlayer* other : m_all) {
            if (common::toIdText(other->client().core().LocalPlayerId()) != c.attacker)
                continue;
            const common::AttackPattern& pattern = other->client().core().OwnPattern();
            bool found = false;
            for (int r = 0; r < 6; ++r) {
                const common::GemCell& cell = pattern[static_cast<std::size_t>(c.column + r * 6)];
                found = found || (cell.Color == c.color && cell.Shape == c.shape);
            }
            if (found)
                ++fromPattern;
        }
    }

    int laid = 0;
    int fromPattern = 0;

private:
    struct Candidate {
        int column;
        std::int16_t shape;
        std::int32_t color;
        std::int64_t pendingBefore;
        std::string attacker;
    };
    bot::BotPlayer& m_bot;
    std::vector<bot::BotPlayer*>& m_all;
    std::optional<Candidate> m_candidate;
};

} // namespace

class TestBotSession : public QObject {
    Q_OBJECT
private slots:
    void fourBotsAndAWatcher();
};

void TestBotSession::fourBotsAndAWatcher() {
    ServerProcess server;
    const quint16 port = server.start();
    QVERIFY(port != 0);

    // Four bots in this process, joining one after another so the queue order is known.
    const QList<QPair<QString, bot::Level>> lineup{{"Ann", bot::Level::Hard},
                                                   {"Ben", bot::Level::Normal},
                                                   {"Cat", bot::Level::Easy},
                                                   {"Dan", bot::Level::Normal}};
    std::vector<std::unique_ptr<bot::BotPlayer>> bots;
    std::vector<bot::BotPlayer*> all;
    std::vector<std::unique_ptr<CounterGemWatch>> watches;
    // Every snapshot a bot sent, with a check that it was its board at that moment.
    std::map<std::int32_t, std::deque<common::Bytes>> sentBoards;
    int snapshotsNotOwnBoard = 0;
    for (const auto& [name, level] : lineup) {
        bot::BotOptions options;
        options.Port = port;
        options.Name = name;
        options.Which = level;
        options.Fast = true;
        bots.push_back(std::make_unique<bot::BotPlayer>(options));
        bot::BotPlayer* b = bots.back().get();
        all.push_back(b);
        watches.push_back(std::make_unique<CounterGemWatch>(*b, all));
        b->setDrawPort(watches.back().get());
        b->brain().setSendObserver([&, b](common::ByteView bytes) {
            if (bytes.empty() || bytes[0] != static_cast<std::uint8_t>(common::MsgType::BoardState))
                return;
            const auto m = common::decode<common::MsgBoardState>(bytes);
            const battle::GameCore& core = b->client().core();
            const int board = static_cast<int>(m->Board.value());
            for (int k = 0; k < common::BoardCells; ++k) {
                const common::GemCell& own =
                    core.boardCells(board - 1)[static_cast<std::size_t>(k)];
                const common::GemCell sent = m->Cells[static_cast<std::size_t>(k)].toGemCell();
                if (own.Occupied != sent.Occupied ||
                    (own.Occupied && (own.Color != sent.Color || own.Shape != sent.Shape)))
                    ++snapshotsNotOwnBoard;
            }
            sentBoards[core.LocalPlayerId()].emplace_back(bytes.begin(), bytes.end());
        });
        b->start();
        QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, name).isEmpty(), 10000);
    }

    testing::FakeSessionDialogs dialogs;
    dialogs.answers = {QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("Watcher")};
    net::HeadlessClient watcher(dialogs);
    QVERIFY(watcher.ConnectToServer());

    int boardStates = 0, boardMismatches = 0, unmatchedSnapshots = 0, undecodable = 0;
    int gameOvers = 0, lateSnapshots = 0, ignoredInFight = 0;
    int fightsSeen = 0, rotationErrors = 0, counterAttacks = 0, patternErrors = 0;
    std::vector<Row> previous;
    QObject::connect(
        &watcher.session(), &net::Session::messageArrived, &watcher, [&](const QByteArray& raw) {
            const common::ByteView bytes(reinterpret_cast<const std::uint8_t*>(raw.data()),
                                         static_cast<std::size_t>(raw.size()));
            const auto any = common::decodeMessage(bytes, common::Direction::ServerToClient);
            if (!any) {
                ++undecodable;
                return;
            }
            const battle::GameCore& core = watcher.core();
            switch (common::messageType(*any)) {
            case common::MsgType::BoardState: {
                ++boardStates;
                const auto& m = std::get<common::MsgBoardState>(*any);
                const int p = static_cast<int>(m.Board.value());
                // A winner keeps playing until the result reaches it, so its last
                // snapshots may come after the game over; the watcher keeps the
                // board as the fight left it then. Nothing else may be dropped.
                const bool shown = watcher.handlers().showsBoard(p);
                if (!shown) {
                    ++(gameOvers > 0 ? lateSnapshots : ignoredInFight);
                }
                for (int k = 0; shown && k < common::BoardCells; ++k) {
                    const common::GemCell shown =
                        core.boardCells(p - 1)[static_cast<std::size_t>(k)];
                    const common::GemCell sent = m.Cells[static_cast<std::size_t>(k)].toGemCell();
                    if (shown.Occupied != sent.Occupied ||
                        (sent.Occupied && (shown.Color != sent.Color || shown.Shape != sent.Shape)))
                        ++boardMismatches;
                }
                // The very bytes one of the fighters sent, in the order it sent them.
                // What a bot sent before the watcher joined never reaches it, and the
                // server drops what a fighter sends after the table moved it off its
                // board, so a relayed snapshot may skip some; it never goes back.
                // Boards alike (an empty board at a fight's start) may stand in more
                // than one queue: the one that skips the fewest is the sender.
                const common::Bytes got(bytes.begin(), bytes.end());
                std::deque<common::Bytes>* from = nullptr;
                std::ptrdiff_t skipped = 0;
                for (auto& [id, queue] : sentBoards) {
                    const auto it = std::find(queue.begin(), queue.end(), got);
                    if (it != queue.end() && (!from || it - queue.begin() < skipped)) {
                        from = &queue;
                        skipped = it - queue.begin();
                    }
                }
                if (from)
                    from->erase(from->begin(), from->begin() + skipped + 1);
                const bool matched = from != nullptr;
                unmatchedSnapshots += matched ? 0 : 1;
                break;
            }
            case common::MsgType::CounterAttack:
                ++counterAttacks;
                break;
            case common::MsgType::Standings: {
                // The same players as before: a result. The loser goes to the back,
                // the winner stays in front; everybody else moves up in order.
                const std::vector<Row> now = tableOf(core);
                if (previous.size() >= 2 && now.size() == previous.size()) {
                    const bool firstLost = now.front().Id == previous[1].Id;
                    std::vector<Row> expected = previous;
                    Row loser = expected[firstLost ? 0 : 1];
                    Row& winner = expected[firstLost ? 1 : 0];
                    winner.Wins = plusOne(winner.Wins);
                    loser.Losses = plusOne(loser.Losses);
                    expected.erase(expected.begin() + (firstLost ? 0 : 1));
                    expected.push_back(loser);
                    rotationErrors += now == expected ? 0 : 1;
                    ++fightsSeen;
                }
                previous = now;
                break;
            }
            case common::MsgType::GameOver:
                ++gameOvers;
                // Every fighter holds its opponent's pattern as that opponent applied it.
                for (bot::BotPlayer* b : all) {
                    const battle::GameCore& c = b->client().core();
                    for (bot::BotPlayer* o : all) {
                        if (o == b)
                            continue;
                        const std::string id = common::toIdText(o->client().core().LocalPlayerId());
                        for (const common::PatternEntry& e : c.PatternTable()) {
                            if (e.PlayerId != id)
                                continue;
                            for (int k = 0; k < common::PatternCells; ++k) {
                                const auto& got = e.Cells[static_cast<std::size_t>(k)];
                                const auto& own =
                                    o->client().core().OwnPattern()[static_cast<std::size_t>(k)];
                                if (got.Color != own.Color || got.Shape != own.Shape)
                                    ++patternErrors;
                            }
                        }
                    }
                }
                break;
            default:
                break;
            }
        });

    // Three fights: after them the watcher, who joined last, would be next.
    QTRY_VERIFY_WITH_TIMEOUT(fightsSeen >= 3, 100000);
    QTRY_VERIFY(server.linesStartingWith("result ").size() >= 3);
    QCOMPARE(rotationErrors, 0);
    QCOMPARE(tableOf(watcher.core()).size(), std::size_t(5));
    QCOMPARE(watcher.core().listPlayerName(4).empty(), false);

    QVERIFY(boardStates - lateSnapshots > 20);
    QCOMPARE(undecodable, 0);
    QCOMPARE(ignoredInFight, 0);
    QCOMPARE(boardMismatches, 0);
    QCOMPARE(unmatchedSnapshots, 0);
    QCOMPARE(snapshotsNotOwnBoard, 0);

    QVERIFY(counterAttacks > 0);
    QCOMPARE(patternErrors, 0);
    int laid = 0, fromPattern = 0;
    for (const auto& w : watches) {
        laid += w->laid;
        fromPattern += w->fromPattern;
    }
    QVERIFY2(laid > 0, "no counter gem reached an attacked board");
    QCOMPARE(fromPattern, laid);
    for (bot::BotPlayer* b : all) {
        QCOMPARE(b->stats().MessagesUndecodable, 0);
        b->leave(0);
    }
    watcher.DisconnectFromServer();
}

QTEST_GUILESS_MAIN(TestBotSession)
#include "tst_botsession.moc"
