#include "ServerProcess.h"

#include <QProcess>
#include <QtTest>

using namespace gemvolt::testing;

class TestBotPrograms : public QObject {
    Q_OBJECT
private slots:
    void twoBotsFightThreeFights();
    void programLeavesAsPromised();
};

void TestBotPrograms::twoBotsFightThreeFights() {
    ServerProcess server;
    const quint16 port = server.start();
    QVERIFY2(port != 0, "the server did not report its port");

    BotRun hard, easy;
    startBot(hard, port, {"--name", "Hardy", "--level", "hard", "--games", "3"});
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, "Hardy").isEmpty(), 10000);
    startBot(easy, port, {"--name", "Easel", "--level", "easy", "--games", "3"});
    for (BotRun* run : {&hard, &easy}) {
        QVERIFY(run->process->waitForFinished(60000));
        QCOMPARE(run->process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(run->process->exitCode(), 0);
        run->out = QString::fromUtf8(run->process->readAllStandardOutput());
    }
    QTRY_VERIFY2_WITH_TIMEOUT(server.linesStartingWith("left ").size() == 2,
                              qPrintable(server.lines.join(QLatin1Char('\n'))), 10000);

    const QString hardId = idOf(server, "Hardy");
    const QString easyId = idOf(server, "Easel");
    const QStringList results = server.linesStartingWith(QStringLiteral("result "));
    // Every fight ends with a loss report; when both boards overflow before
    // the server's end of the fight reaches them, both fighters report one and
    // the server records both.
    QVERIFY(results.size() >= 3 && results.size() <= 6);
    int hardLosses = 0, easyLosses = 0;
    for (const QString& line : results) {
        const QString winner = line.section(QLatin1Char(' '), 1, 1);
        const QString loser = line.section(QLatin1Char(' '), 3, 3).remove(QLatin1Char(':'));
        QVERIFY((winner == hardId && loser == easyId) || (winner == easyId && loser == hardId));
        hardLosses += loser == hardId ? 1 : 0;
        easyLosses += loser == easyId ? 1 : 0;
    }

    const auto h = statsOf(hard.out);
    const auto e = statsOf(easy.out);
    QVERIFY2(!h.empty() && !e.empty(), qPrintable(hard.out + easy.out));
    QCOMPARE(h.at("fights"), 3);
    QCOMPARE(e.at("fights"), 3);
    // What each bot lost is what the server recorded against it.
    QCOMPARE(h.at("losses"), hardLosses);
    QCOMPARE(e.at("losses"), easyLosses);
    QCOMPARE(h.at("wins"), 3 - hardLosses);
    QCOMPARE(e.at("wins"), 3 - easyLosses);
    for (const auto* s : {&h, &e}) {
        QVERIFY(s->at("received") > 50);
        QCOMPARE(s->at("undecodable"), 0);
        QVERIFY(s->at("pairs") > 0);
    }
}
void TestBotPrograms::programLeavesAsPromised() {
    // Bad arguments: the usage and status 2.
    QProcess bad;
    bad.start(programPath("gemvolt-bot"), {"--level", "expert"});
    QVERIFY(bad.waitForFinished(10000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(QString::fromUtf8(bad.readAllStandardError()).contains("usage: gemvolt-bot"));

    auto server = std::make_unique<ServerProcess>();
    const quint16 port = server->start();
    QVERIFY(port != 0);

    // SIGTERM: the server hears it leave, and the bot ends cleanly.
    BotRun stopped;
    startBot(stopped, port, {"--name", "Stopper"});
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(*server, "Stopper").isEmpty(), 10000);
    stopped.process->terminate();
    QVERIFY(stopped.process->waitForFinished(10000));
    QCOMPARE(stopped.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(stopped.process->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        !server->linesStartingWith("left " + idOf(*server, "Stopper")).isEmpty(), 10000);

    // The server goes away: a clear message and status 1.
    BotRun orphan;
    startBot(orphan, port, {"--name", "Orphan"});
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(*server, "Orphan").isEmpty(), 10000);
    server.reset();
    QVERIFY(orphan.process->waitForFinished(30000));
    QCOMPARE(orphan.process->exitCode(), 1);
    QVERIFY(QString::fromUtf8(orphan.process->readAllStandardError())
                .contains("lost the connection to the server"));

    // Nobody listening: status 1 as well.
    BotRun nobody;
    startBot(nobody, port, {"--name", "Nobody"});
    QVERIFY(nobody.process->waitForFinished(30000));
    QCOMPARE(nobody.process->exitCode(), 1);
    QVERIFY(
        QString::fromUtf8(nobody.process->readAllStandardError()).contains("could not connect"));
}

QTEST_GUILESS_MAIN(TestBotPrograms)
#include "tst_botprograms.moc"
