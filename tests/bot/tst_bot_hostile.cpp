// The real gemvolt-bot against a hostile server on loopback.

#include "Common/MessageCodec.h"
#include "Common/transport/WireFormat.h"
#include "support/HostileServer.h"

#include <QProcess>
#include <QtTest>

using namespace gemvolt;

namespace {

void startBot(QProcess& bot, int port) {
    bot.start(qEnvironmentVariable("GEMVOLT_BIN_DIR") + QStringLiteral("/gemvolt-bot"),
              {QStringLiteral("--port"), QString::number(port), QStringLiteral("--name"),
               QStringLiteral("Target")});
}

} // namespace

class TestBotHostile : public QObject {
    Q_OBJECT
private slots:
    void printsARefusalAsOneSafeShortLine() {
        testing::HostileServer server;
        server.refuse(
            "Go away\x1b[2J\x1b]0;owned\x07\r\nfake line\xc2\x85\xe2\x80\xa8\xe2\x80\xae" +
            std::string(100000, 'z'));
        QProcess bot;
        startBot(bot, server.port());
        QVERIFY(bot.waitForFinished(15000));
        QCOMPARE(bot.exitCode(), 1);
        const QByteArray err = bot.readAllStandardError();
        const qsizetype at = err.indexOf("Go away");
        QVERIFY2(at >= 0, err.left(400).constData());
        const QByteArray line = err.mid(at, err.indexOf('\n', at) - at);
        QVERIFY2(line.size() < 400, QByteArray::number(line.size()).constData());
        QVERIFY(line.contains("fake line"));
        for (const char ch : err) {
            QVERIFY2(ch == '\n' || (uchar(ch) >= 0x20 && uchar(ch) != 0x7F),
                     QByteArray::number(uchar(ch)).constData());
        }
        const QString shown = QString::fromUtf8(line);
        for (const char16_t unsafe : {u'\u0085', u'\u2028', u'\u202E'})
            QVERIFY(!shown.contains(QChar(unsafe)));
    }

    void sigtermEndsItDuringAFlood() {
        testing::HostileServer server;
        const common::Bytes line =
            common::encode(common::MsgChat{std::string(transport::MaxFrameBody - 5, 'x')});
        server.flood(std::string(line.begin(), line.end()), ~std::uint64_t(0),
                     std::chrono::seconds(60));
        QProcess bot;
        startBot(bot, server.port());
        // Two seconds of flood, or a gibibyte, whichever comes first.
        (void)server.waitForBytes(std::uint64_t(1) << 30, std::chrono::seconds(2));
        QVERIFY(server.bytesSent() > 0);
        bot.terminate();
        QVERIFY(bot.waitForFinished(5000));
        QCOMPARE(bot.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bot.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBotHostile)
#include "tst_bot_hostile.moc"
