// The real server and two real computer players fighting through a relay that
// keeps cutting their connections: every cut is resumed, so the fights, the
// results and what the watchers see are those of an unbroken session.
#include "Bot/BotPlayer.h"
#include "Client/net/HeadlessClient.h"
#include "Common/MessageCodec.h"
#include "Common/NumberText.h"
#include "ServerProcess.h"
#include "support/FakeSessionDialogs.h"
#include "support/FaultProxy.h"

#include <QtTest>

#include <map>
#include <memory>
#include <set>

using namespace gemvolt;
using namespace gemvolt::testing;

namespace {

constexpr int Games = 3;

common::MsgType typeOf(const QByteArray& message) {
    return static_cast<common::MsgType>(static_cast<std::uint8_t>(message.at(0)));
}

// A client that only watches: it records every message in order and, seated
// against a computer player, gives the fight up at once so the players'
// fights go on.
struct Watcher {
    FakeSessionDialogs dialogs;
    net::HeadlessClient client{dialogs};
    QList<QByteArray> received;
    std::set<std::int64_t> opponents; // whom it gives up against
    int givenUp = 0;
    bool seated = false;

    Watcher(quint16 port, const QString& name) {
        dialogs.answers = {QStringLiteral("127.0.0.1:%1").arg(port), name};
        QObject::connect(&client.session(), &net::Session::messageArrived, &client,
                         [this](const QByteArray& m) { onMessage(m); });
    }
    void onMessage(const QByteArray& message) {
        received << message;
        if (typeOf(message) != common::MsgType::Standings)
            return;
        const battle::GameCore& core = client.core();
        const int seat = core.whatPlayer();
        if (seat == 0) {
            seated = false;
            return;
        }
        const std::int64_t other = common::numberValue(core.listID(seat == 1 ? 1 : 0));
        if (!seated && opponents.count(other) > 0) {
            seated = true;
            ++givenUp;
            const common::Bytes over = common::encode(common::MsgGameOver{});
            client.session().sendMessage(common::ByteView(over.data(), over.size()));
        }
    }
};

int countOf(const QString& text, const char* line) {
    return int(text.count(QString::fromLatin1(line)));
}

} // namespace

class TestResumePrograms : public QObject {
    Q_OBJECT
private slots:
    void fightsThroughCutsAsIfUnbroken();
};

void TestResumePrograms::fightsThroughCutsAsIfUnbroken() {
    ServerProcess server;
    const quint16 port = server.start({"--resume-hold", "5"});
    QVERIFY(port != 0);
    FaultProxy proxy;
    QVERIFY(proxy.start(port));

    BotRun ann, ben;
    startBot(ann, quint16(proxy.port()),
             {"--name", "Ann", "--level", "hard", "--games", QString::number(Games)});
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, "Ann").isEmpty(), 10000);
    startBot(ben, quint16(proxy.port()),
             {"--name", "Ben", "--level", "normal", "--games", QString::number(Games)});
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, "Ben").isEmpty(), 10000);
    const std::set<std::int64_t> bots{idOf(server, "Ann").toLongLong(),
                                      idOf(server, "Ben").toLongLong()};

    // One watcher straight to the server, one through the relay: what the
    // second receives must be exactly what the first does from its join on.
    Watcher direct(port, QStringLiteral("Direct"));
    direct.opponents = bots;
    QVERIFY(direct.client.ConnectToServer());
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, "Direct").isEmpty(), 10000);
    Watcher relayed(quint16(proxy.port()), QStringLiteral("Relayed"));
    relayed.opponents = bots;
    QVERIFY(relayed.client.ConnectToServer());
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, "Relayed").isEmpty(), 10000);

    proxy.cutEvery(800, 2500, 0x5eed);
    for (BotRun* run : {&ann, &ben}) {
        // The watchers live on this thread: wait with the event loop running.
        QTRY_VERIFY2_WITH_TIMEOUT(run->process->state() == QProcess::NotRunning,
                                  qPrintable(server.lines.join('\n')), 60000);
        QCOMPARE(run->process->exitStatus(), QProcess::NormalExit);
        run->out = QString::fromUtf8(run->process->readAllStandardOutput());
        QVERIFY2(run->process->exitCode() == 0,
                 qPrintable(run->out + run->process->readAllStandardError()));
    }
    proxy.cutEvery(0, 0, 0);
    QVERIFY(proxy.counters().cuts >= 4);
    QTRY_COMPARE_WITH_TIMEOUT(server.linesStartingWith("left ").size(), 2, 15000);

    // Nobody was seen to leave or come back: one join each, no hold ran out,
    // and every interruption the server saw was resumed.
    QCOMPARE(server.linesStartingWith("joined ").size(), 4);
    // (A bot's goodbye a cut swallows just as it ends is held like any other
    // loss and runs out later, after the bots' fights.)
    qsizetype lastFight = -1;
    for (qsizetype i = 0; i < server.lines.size(); ++i) {
        const QStringList words = server.lines[i].split(QLatin1Char(' '));
        if (words.size() > 3 && words[0] == "result" && bots.count(words[1].toLongLong()) > 0 &&
            bots.count(words[3].chopped(1).toLongLong()) > 0)
            lastFight = i;
    }
    QVERIFY(lastFight >= 0);
    for (qsizetype i = 0; i <= lastFight; ++i)
        QVERIFY2(!server.lines[i].startsWith("expired "), qPrintable(server.lines.join('\n')));
    QVERIFY(server.linesStartingWith("interrupted ").size() > 0);
    QTRY_COMPARE(server.linesStartingWith("resumed ").size() +
                     server.linesStartingWith("expired ").size(),
                 server.linesStartingWith("interrupted ").size());

    // Every game over a player sent is recorded once, against that player. (A
    // watcher may give up against a bot that has left meanwhile: that one is
    // recorded after the bots' departures.)
    const auto lossesRecorded = [&](const QString& name) {
        int n = 0;
        for (const QString& line : server.linesStartingWith("result "))
            n += line.section(QLatin1Char(' '), 3, 3).remove(QLatin1Char(':')) == idOf(server, name)
                     ? 1
                     : 0;
        return n;
    };
    const auto a = statsOf(ann.out);
    const auto b = statsOf(ben.out);
    QVERIFY2(!a.empty() && !b.empty(), qPrintable(ann.out + ben.out));
    QCOMPARE(a.at("fights"), Games);
    QCOMPARE(b.at("fights"), Games);
    QCOMPARE(lossesRecorded("Ann"), a.at("losses"));
    QCOMPARE(lossesRecorded("Ben"), b.at("losses"));
    QTRY_COMPARE(lossesRecorded("Direct"), direct.givenUp);
    QTRY_COMPARE(lossesRecorded("Relayed"), relayed.givenUp);
    for (const auto* s : {&a, &b}) {
        QCOMPARE(s->at("undecodable"), 0);
        QVERIFY(s->at("interrupted") > 0);
        QCOMPARE(s->at("resumed"), s->at("interrupted"));
    }

    // The relayed watcher got the direct one's messages from its join on:
    // nothing lost, repeated or out of order.
    QVERIFY(!relayed.received.isEmpty());
    const qsizetype from = direct.received.indexOf(relayed.received.first());
    QVERIFY(from >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(relayed.received.size(), direct.received.size() - from, 10000);
    QVERIFY(direct.received.mid(from) == relayed.received);
    const QString& chat = relayed.client.chatLog().text();
    QVERIFY(countOf(chat, net::ReconnectingLine) > 0);
    QTRY_COMPARE(countOf(chat, net::ReconnectedLine), countOf(chat, net::ReconnectingLine));
    QVERIFY(!chat.contains(QStringLiteral("Connection with server lost")));

    // The last snapshot of a board a watcher saw before each fight's end is
    // the one its loser sent last before giving its game over: every move got
    // through, in order. (When both boards overflow at once the second loss
    // comes after the boards moved on, so at least one per fight must match.)
    std::map<std::int64_t, std::set<QString>> lastSeen;
    std::array<std::int64_t, 2> seat{}, fought{};
    std::array<QByteArray, 2> lastBoard;
    for (const QByteArray& m : direct.received) {
        const auto decoded =
            common::decodeMessage(common::ByteView(reinterpret_cast<const std::uint8_t*>(m.data()),
                                                   std::size_t(m.size())),
                                  common::Direction::ServerToClient);
        QVERIFY(decoded.ok());
        if (const auto* s = std::get_if<common::MsgBoardState>(&*decoded)) {
            const std::size_t board = std::size_t(s->Board.value() - 1);
            if (board < 2)
                lastBoard[board] = m;
        } else if (const auto* s = std::get_if<common::MsgStandings>(&*decoded)) {
            fought = seat;
            for (std::size_t i = 0; i < 2; ++i)
                seat[i] = i < s->Rows.size() ? s->Rows[i].Id.value() : 0;
        } else if (std::holds_alternative<common::MsgGameOver>(*decoded)) {
            for (std::size_t i = 0; i < 2; ++i) {
                if (!lastBoard[i].isEmpty())
                    lastSeen[fought[i]].insert(bot::BotPlayer::boardDigest(
                        common::Bytes(lastBoard[i].begin(), lastBoard[i].end())));
                lastBoard[i].clear();
            }
        }
    }
    int matched = 0;
    for (const auto& [name, out] : {std::pair{"Ann", &ann.out}, std::pair{"Ben", &ben.out}}) {
        const QString boards =
            QRegularExpression(QStringLiteral("lossboards=(\\S+)")).match(*out).captured(1);
        for (const QString& digest : boards.split(QLatin1Char(','), Qt::SkipEmptyParts))
            matched += lastSeen[idOf(server, name).toLongLong()].count(digest) > 0 ? 1 : 0;
    }
    QVERIFY2(matched >= Games, qPrintable(ann.out + ben.out));

    direct.client.DisconnectFromServer();
    relayed.client.DisconnectFromServer();
}

QTEST_GUILESS_MAIN(TestResumePrograms)
#include "tst_resumeprograms.moc"
