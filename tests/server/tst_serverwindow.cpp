// The server window on the offscreen platform, with the prompt answered by
// the test and time taken from a test clock.
#include "Server/ServerWindow.h"
#include "support/FakeServerDialogs.h"
#include "support/WirePeer.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace gemvolt;
using server::ServerWindow;
using testing::FakeServerDialogs;
using testing::WirePeer;

namespace {

const QString Running = QStringLiteral("Gemvolt Multiplayer - Server [Server running]");

struct Fixture {
    explicit Fixture(std::optional<QString> answer = QStringLiteral("11"), quint16 port = 0,
                     std::function<QString()> address = {}) {
        dialogs.answer = std::move(answer);
        ServerWindow::Options options;
        options.port = port;
        options.clock = [this] { return clock; };
        options.address = std::move(address);
        window = std::make_unique<ServerWindow>(dialogs, options);
        dialogs.watched = window.get();
    }
    template <class W> W* find(const char* name) {
        return window->findChild<W*>(QString::fromLatin1(name));
    }
    QStringList column(const char* name) {
        QStringList out;
        auto* list = find<QListWidget>(name);
        for (int i = 0; i < list->count(); ++i) {
            out << list->item(i)->text();
        }
        return out;
    }
    QString address() { return find<QPlainTextEdit>("Text1")->toPlainText(); }

    FakeServerDialogs dialogs;
    QDateTime clock = QDateTime(QDate(2026, 3, 1), QTime(23, 30, 0));
    std::unique_ptr<ServerWindow> window;
};

} // namespace

class TestServerWindow : public QObject {
    Q_OBJECT
private slots:
    void showsItsWidgetsBeforeStarting();
    void captionsFollowTheStart();
    void failedHostingSaysNotHosting_data();
    void failedHostingSaysNotHosting();
    void uptimeWrapsAfterADay();
    void addressShowsItsSecondPart();
    void addressErrorAndRetryOnClick();
    void listsFollowTheQueueAndKickTheSelectedRow();
    void closingEndsTheSession();
};

void TestServerWindow::showsItsWidgetsBeforeStarting() {
    Fixture f;
    for (const char* name : {"PlayerIndex", "PlayerName", "PlayerWins", "PlayerLosses"}) {
        auto* list = f.find<QListWidget>(name);
        QVERIFY2(list, name);
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->count(), 0);
    }
    QCOMPARE(f.find<QPushButton>("cmdKick")->text(), QStringLiteral("Kick Selected Player (ID)"));
    QCOMPARE(f.address(), QStringLiteral("IP/Hostname\n"));
    QCOMPARE(f.find<QLabel>("lblUptime")->text(), QStringLiteral("Uptime: 00:00:00"));
    auto* timer = f.find<QTimer>("tmrUptime");
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(!timer->isActive());
    QStringList labels;
    for (auto* label : f.window->findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const char* heading : {"ID", "Name", "Wins", "Losses"}) {
        QVERIFY2(labels.contains(QString::fromLatin1(heading)), heading);
    }
    const auto frames = f.window->findChildren<QGroupBox*>();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0]->title(), QStringLiteral("Player List"));
}

void TestServerWindow::captionsFollowTheStart() {
    Fixture f;
    f.window->start();
    QCOMPARE(f.dialogs.asked,
             QStringList{"Number of Clients Required|Please enter the number of Clients (include "
                         "+1 for server)|11"});
    QCOMPARE(f.dialogs.captionsWhenAsked,
             QStringList{"Gemvolt Multiplayer - Server [Initilizing]"});
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.window->windowTitle(), Running);
    QVERIFY(f.dialogs.errors.isEmpty());
    QVERIFY(f.window->sessionPort().isHosting());
    QVERIFY(f.find<QTimer>("tmrUptime")->isActive());
}

void TestServerWindow::failedHostingSaysNotHosting_data() {
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("errorStart");
    QTest::newRow("not a number") << false << "many" << false << "InitServer|Error #13: ";
    QTest::newRow("cancelled") << true << "" << false << "InitServer|Error #13: ";
    QTest::newRow("too few") << false << "1" << false << "InitServer|Error #6: ";
    QTest::newRow("too many") << false << "10001" << false << "InitServer|Error #6: ";
    QTest::newRow("port taken") << false << "11" << true << "InitServer|Error #3: ";
}

void TestServerWindow::failedHostingSaysNotHosting() {
    QFETCH(bool, cancel);
    QFETCH(QString, answer);
    QFETCH(bool, portTaken);
    QFETCH(QString, errorStart);
    QTcpServer squatter;
    quint16 port = 0;
    if (portTaken) {
        QVERIFY(squatter.listen(QHostAddress::Any, 0));
        port = squatter.serverPort();
    }
    Fixture f(cancel ? std::nullopt : std::optional<QString>(answer), port);
    f.window->start();
    QCOMPARE(f.dialogs.errors.size(), 1);
    QVERIFY2(f.dialogs.errors[0].startsWith(errorStart), qPrintable(f.dialogs.errors[0]));
    QVERIFY(f.dialogs.errors[0].size() > errorStart.size());
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Gemvolt Multiplayer - Server [Not hosting]"));
    QVERIFY(!f.window->sessionPort().isHosting());
    // The uptime counts all the same, and there is no address to show.
    QVERIFY(f.find<QTimer>("tmrUptime")->isActive());
    QCOMPARE(f.address(), QStringLiteral("Error Reading IP, try 127.0.0.1"));
}

void TestServerWindow::uptimeWrapsAfterADay() {
    Fixture f;
    f.window->start();
    auto* label = f.find<QLabel>("lblUptime");
    f.clock = f.clock.addSecs(3 * 3600 + 25 * 60 + 7);
    f.window->updateUptime();
    QCOMPARE(label->text(), QStringLiteral("Uptime: 03:25:07"));
    f.clock = f.clock.addSecs(-(3 * 3600 + 25 * 60 + 7) + 25 * 3600);
    f.window->updateUptime();
    QCOMPARE(label->text(), QStringLiteral("Uptime: 01:00:00"));
    // The timer drives the same refresh.
    QCOMPARE(f.find<QTimer>("tmrUptime")->interval(), 1000);
}

void TestServerWindow::addressShowsItsSecondPart() {
    Fixture f;
    f.window->start();
    QCOMPARE(f.address(), QStringLiteral("IP / ") + f.window->sessionPort().localAddress().section(
                                                        QLatin1Char(';'), 1, 1));
    QVERIFY(f.address().startsWith(QStringLiteral("IP / hostname=")));
}

void TestServerWindow::addressErrorAndRetryOnClick() {
    QString address;
    Fixture f(QStringLiteral("11"), 0, [&address] { return address; });
    f.window->start();
    QCOMPARE(f.address(), QStringLiteral("Error Reading IP, try 127.0.0.1"));

    auto* text = f.find<QPlainTextEdit>("Text1");
    address = QStringLiteral("x-gemvolt:/provider=tcp;hostname=10.1.2.3;port=4000");
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    QCOMPARE(f.address(), QStringLiteral("IP / hostname=10.1.2.3"));

    address = QStringLiteral("only;one separator");
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    QCOMPARE(f.address(), QStringLiteral("Error Reading IP, try 127.0.0.1"));
    address = QStringLiteral("a;;b");
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    QCOMPARE(f.address(), QStringLiteral("IP / "));
}

void TestServerWindow::listsFollowTheQueueAndKickTheSelectedRow() {
    Fixture f;
    f.window->start();
    const quint16 port = f.window->sessionPort().port();
    std::vector<std::unique_ptr<WirePeer>> peers;
    QStringList ids;
    for (const char* name : {"Alice", "Bob", "Carol"}) {
        peers.push_back(std::make_unique<WirePeer>());
        QVERIFY(peers.back()->connectTo(port));
        const qint32 id = peers.back()->join(name);
        QVERIFY(id > 0);
        ids << QString::number(id);
    }
    QTRY_COMPARE(f.column("PlayerIndex"), ids);
    QCOMPARE(f.column("PlayerName"), (QStringList{"Alice", "Bob", "Carol"}));
    QCOMPARE(f.column("PlayerWins"), (QStringList{"0", "0", "0"}));
    QCOMPARE(f.column("PlayerLosses"), (QStringList{"0", "0", "0"}));

    // Nothing selected: the button does nothing.
    auto* kick = f.find<QPushButton>("cmdKick");
    QTest::mouseClick(kick, Qt::LeftButton);
    QCOMPARE(f.column("PlayerIndex").size(), 3);

    // Selecting a name selects the whole row.
    f.find<QListWidget>("PlayerName")->setCurrentRow(1);
    for (const char* name : {"PlayerIndex", "PlayerWins", "PlayerLosses"}) {
        QCOMPARE(f.find<QListWidget>(name)->currentRow(), 1);
        QVERIFY(f.find<QListWidget>(name)->item(1)->isSelected());
    }
    QTest::mouseClick(kick, Qt::LeftButton);
    QCOMPARE(f.column("PlayerIndex"), (QStringList{ids[0], ids[2]}));
    QCOMPARE(f.column("PlayerName"), (QStringList{"Alice", "Carol"}));
    QVERIFY(peers[1]->waitForClosed());
    QVERIFY(!peers[0]->isClosed());
}

void TestServerWindow::closingEndsTheSession() {
    Fixture f;
    f.window->start();
    auto peer = std::make_unique<WirePeer>();
    QVERIFY(peer->connectTo(f.window->sessionPort().port()));
    QVERIFY(peer->join("Alice") > 0);
    QVERIFY(f.window->close());
    QVERIFY(!f.window->sessionPort().isHosting());
    QVERIFY(peer->waitForClosed());
}

QTEST_MAIN(TestServerWindow)
#include "tst_serverwindow.moc"
