#include "Client/battle/GameCore.h"
#include "Client/board/PausePort.h"
#include "Client/net/ChatLog.h"
#include "Client/net/HeadlessClient.h"
#include "Client/shell/BoardView.h"
#include "Client/shell/FrmAttack.h"
#include "Client/shell/FrmBrowser.h"
#include "Client/shell/FrmChat.h"
#include "Client/shell/FrmMain.h"
#include "Client/shell/FrmPlayerList.h"
#include "Client/shell/FrmSFX.h"
#include "Client/shell/GemPainter.h"
#include "Client/shell/HelpBrowserHost.h"
#include "Client/shell/ServerLauncher.h"
#include "Client/shell/SoundWindowKeeper.h"
#include "Client/shell/Twips.h"
#include "Common/GemCell.h"
#include "Common/MessageCodec.h"
#include "Common/transport/WireFormat.h"
#include "support/FakeSoundDialogs.h"
#include "support/HostileServer.h"
#include "support/LocalServer.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace gemvolt;
using gemvolt::shell::FrmMain;

namespace {

/** Records the animation pauses instead of sleeping. */
class CountingPause : public board::PausePort {
public:
    int pauses = 0;
    void pause(int) override { ++pauses; }
};

/** One client's windows over a fresh client, with scripted dialogs. */
struct Client {
    testing::ScriptedDialogs dialogs;
    testing::FakeSoundDialogs soundDialogs;
    CountingPause pause;
    std::unique_ptr<FrmMain> frm;

    Client() { frm = std::make_unique<FrmMain>(dialogs, &pause, &soundDialogs); }
    ~Client() {
        frm.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    battle::GameCore& core() { return frm->core(); }
    QString chat() { return frm->client().chatLog().text(); }
    QAction* action(const char* name) const { return frm->findChild<QAction*>(name); }
    QTimer* timer(const char* name) const { return frm->findChild<QTimer*>(name); }
    template <typename T> T* widget(const char* name) const { return frm->findChild<T*>(name); }
    QLabel* indexed(const char* name, int index) const {
        for (QLabel* l : frm->findChildren<QLabel*>(name))
            if (l->property("index").toInt() == index)
                return l;
        return nullptr;
    }

    /** Start up against a server, or against a port nobody listens on. */
    bool startUp(const QString& host = QStringLiteral("127.0.0.1:1"),
                 const QString& name = QStringLiteral("Alice")) {
        dialogs.answers = {host, name};
        return frm->startUp();
    }

    /** The local player (id 5) fights on board 1 against id 6. */
    void seatFighters() {
        core().setLocalPlayerId(5);
        core().setPlayerTable({{"5", "Alice", "0", "0"}, {"6", "Bob", "0", "0"}});
    }
};

/** Fire a timer's timeout as the event loop would. */
void tick(QTimer* timer) {
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
}

common::GemCell gem(std::int16_t shape, std::int32_t color) {
    return common::GemCell{true, shape, 0, color};
}

/** A shaded gem pixel keeps the gem's hue: shading changes brightness, not colour. */
bool looksLike(QColor pixel, std::int32_t gemColor) {
    const QColor c = shell::GemPainter::toQColor(gemColor);
    const int hue = pixel.hsvHue();
    if (hue < 0 || pixel.hsvSaturation() < 60 || pixel.value() < 80)
        return false;
    const int distance = std::abs(hue - c.hsvHue()) % 360;
    return std::min(distance, 360 - distance) <= 20;
}

bool isBackground(QColor pixel) {
    return pixel.red() + pixel.green() + pixel.blue() < 140;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startUpRunsInOrderWithCaptions();
    void startUpEndsWhenTheSessionCannotBeSetUp();
    void menusHoldEveryItemInOrder();
    void connectAndDisconnect();
    void showItemsShowTheirWindowsWithoutToggling();
    void helpAndAboutShowTheirTexts();
    void createServerFoundAndNotFound();
    void exitStopsTheFallAndTicksAtDoublingIntervals();
    void closeAfterExitKeepsTheTimerRunning();
    void closeWithoutExitKeepsTheFightTimer();
    void aDialogOpenAtTheEndClosesWithoutActing();
    void arrowKeysReachTheGameFromAnyWidgetOfTheWindow();
    void coreTimersDriveTheRealTimers();
    void boardDrawsShapesAndColoursAtTheirCells();
    void boardScalesWithTheWindow();
    void onlyChangedCellsRepaint();
    void panelShowsTheCoreTextsAndReadyWorksByMouseAndReturn();
    void figuresFollowTheCore();
    void chatLinesGoThroughTheServer();
    void textsFromOtherPlayersShowAsTheyAre();
    void exitEndsTheProgramDuringAFlood_data();
    void exitEndsTheProgramDuringAFlood();
};

void TestMainWindow::startUpRunsInOrderWithCaptions() {
    testing::LocalServer server;
    QVERIFY(server.hosted);
    Client c;
    // A gem on the board before start-up shows that the boards are cleared.
    c.core().writeCell(0, 2, 4, gem(common::ShapeNormal, common::GemRed));
    c.core().SetGem(1, 2, 4);
    QVERIFY(c.frm->boardView()->cell(0, 26).visible);
    QCOMPARE(c.frm->windowTitle(), QString("Gemvolt MultiPlayer"));

    // The window shows first; the sound device and the music come next.
    bool shownBeforeSound = false;
    QObject::connect(c.frm->soundKeeper(), &shell::SoundWindowKeeper::windowCreated,
                     [&] { shownBeforeSound = c.frm->isVisible(); });
    bool checked = false;
    c.dialogs.onPrompt = [&](const QString& title) {
        if (title != "Hostname required" || checked)
            return;
        checked = true;
        QVERIFY(c.frm->isVisible());
        QCOMPARE(c.frm->windowTitle(), QString("Gemvolt Multi-Player - Client [Initialized]"));
        QVERIFY(!c.frm->AppFolder().isEmpty());
        QVERIFY(c.frm->frmChat() && !c.frm->frmChat()->isVisible());
        QVERIFY(c.frm->frmPlayerList() && !c.frm->frmPlayerList()->isVisible());
        QVERIFY(c.frm->soundKeeper()->exists());
        QVERIFY(!c.frm->soundKeeper()->window()->isVisible());
        QVERIFY(c.frm->frmAttack() && !c.frm->frmAttack()->isVisible());
        QVERIFY(!c.frm->boardView()->cell(0, 26).visible);
        QVERIFY(!c.core().Grids(0, 2, 4).Occupied);
    };
    QVERIFY(c.startUp(server.address(), "Alice"));
    QVERIFY(checked);
    QVERIFY(shownBeforeSound);
    QCOMPARE(c.dialogs.prompts,
             QStringList({"Hostname required|Please enter a hostname/IP address|127.0.0.1",
                          "Playername|Playername?|Myself"}));
    QCOMPARE(c.frm->windowTitle(), QString("Gemvolt Multi-Player by Quillmark (06/03/04)"));
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    QTRY_VERIFY(c.chat().contains("**Connected to Chat Server**"));

    // Placed 200 twips below the top of the screen and centred across it.
    const QRect screen = c.frm->screen()->geometry();
    QCOMPARE(c.frm->pos().y() - screen.y(), shell::Twips::toPixels(c.frm.get(), 200));
    const int leftGap = c.frm->frameGeometry().left() - screen.left();
    const int rightGap = screen.right() - c.frm->frameGeometry().right();
    // The frame's margins are only known once the window shows.
    const int margins = c.frm->frameGeometry().width() - c.frm->width();
    QVERIFY2(std::abs(leftGap - rightGap) <= margins + 1,
             qPrintable(QString("%1 %2").arg(leftGap).arg(rightGap)));

    // Every timer exists at its interval; none but the fight's run before a fight.
    QCOMPARE(c.timer("tmrFallGems")->interval(), 1000);
    QCOMPARE(c.timer("tmrUpdate")->interval(), 200);
    QCOMPARE(c.timer("tmrCountDown")->interval(), 1000);
    QCOMPARE(c.timer("Timer1")->interval(), 100);
    for (const char* name : {"tmrFallGems", "tmrUpdate", "tmrCountDown", "Timer1"})
        QVERIFY2(!c.timer(name)->isActive(), name);
}

void TestMainWindow::startUpEndsWhenTheSessionCannotBeSetUp() {
    Client c;
    QSignalSpy ended(c.frm.get(), &FrmMain::programEnded);
    // A port that is no port is a set-up error: shown, then the program ends at once.
    QVERIFY(!c.startUp("127.0.0.1:99999"));
    QCOMPARE(ended.count(), 1);
    QVERIFY(c.frm->ended());
    QCOMPARE(c.dialogs.errors.size(), 1);
    QVERIFY(c.dialogs.errors.first().startsWith("mdlDirectPlayConnect|Error #"));
    QCOMPARE(c.dialogs.endProgramCalls, 1);
    QVERIFY(!c.timer("Timer1")->isActive());
    QCOMPARE(c.frm->windowTitle(), QString("Gemvolt Multi-Player - Client [Initialized]"));
}

void TestMainWindow::menusHoldEveryItemInOrder() {
    Client c;
    auto listing = [](QMenu* menu) {
        QStringList items;
        for (QAction* a : menu->actions())
            items << (a->isSeparator() ? QString("-") : a->objectName() + "=" + a->text());
        return items;
    };
    const QList<QAction*> bar = c.frm->menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    QCOMPARE(bar[0]->text(), QString("File"));
    QCOMPARE(bar[1]->text(), QString("Show"));
    QCOMPARE(bar[2]->text(), QString("Help"));
    QCOMPARE(listing(bar[0]->menu()),
             (QStringList{"F_C2S=Connect To Server", "F_DS=Disconnect From Server",
                          "F_CS=Create Server", "-", "F_E=Exit"}));
    QCOMPARE(listing(bar[1]->menu()), (QStringList{"S_AP=Attack Pattern", "S_CR=Chat Room",
                                                   "S_PL=Player List", "S_SO=Sound Options"}));
    QCOMPARE(listing(bar[2]->menu()),
             (QStringList{"H_OH=Offline Help", "-", "H_IH=Online Help", "-", "H_A=About"}));
    QMenu* online = c.frm->findChild<QMenu*>("H_IH");
    QVERIFY(online);
    QCOMPARE(listing(online),
             (QStringList{"H_IH_MM=Main Menu", "-", "M_IH_CP=Client Program",
                          "H_IH_SP=Server Program", "H_IH_F=FAQ", "H_IH_A=Acknowledgements"}));
    QMenu* client = c.frm->findChild<QMenu*>("M_IH_CP");
    QVERIFY(client);
    QCOMPARE(listing(client),
             (QStringList{"M_IH_CP_CMM=Client - Main Menu", "-", "H_IH_CP_FG=First Glance",
                          "H_IH_CP_M=Menu", "H_IH_CP_GP=Game Play"}));
}

void TestMainWindow::connectAndDisconnect() {
    testing::LocalServer server;
    Client c;
    QVERIFY(c.startUp(server.address(), "Alice"));
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    c.seatFighters();
    c.core().InitGame();
    QVERIFY(c.timer("tmrFallGems")->isActive() && c.timer("tmrUpdate")->isActive());

    c.action("F_DS")->trigger();
    QVERIFY(!c.timer("tmrFallGems")->isActive());
    QVERIFY(!c.timer("tmrUpdate")->isActive());
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(0));

    // Connect To Server asks again and joins again, with the captions in order.
    QStringList captions;
    c.dialogs.onPrompt = [&](const QString&) { captions << c.frm->windowTitle(); };
    c.dialogs.answers = {server.address(), "Carol"};
    c.action("F_C2S")->trigger();
    QCOMPARE(captions.first(), QString("Gemvolt Multi-Player - Client [Initialized]"));
    QCOMPARE(c.frm->windowTitle(), QString("Gemvolt Multi-Player by Quillmark (06/03/04)"));
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    QCOMPARE(server.core.ServerRoster().front().Name, std::string("Carol"));

    // Connecting again while connected leaves the old session first.
    c.dialogs.answers = {server.address(), "Dave"};
    c.action("F_C2S")->trigger();
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    QTRY_COMPARE(server.core.ServerRoster().front().Name, std::string("Dave"));

    // Disconnecting twice leaves everything as it was.
    c.action("F_DS")->trigger();
    c.action("F_DS")->trigger();
    QVERIFY(c.dialogs.errors.isEmpty());
}

void TestMainWindow::showItemsShowTheirWindowsWithoutToggling() {
    Client c;
    QVERIFY(c.startUp());
    const std::pair<const char*, QWidget*> items[] = {
        {"S_AP", c.frm->frmAttack()}, {"S_CR", c.frm->frmChat()}, {"S_PL", c.frm->frmPlayerList()}};
    for (const auto& [name, window] : items) {
        QVERIFY(!window->isVisible());
        c.action(name)->trigger();
        QVERIFY2(window->isVisible(), name);
        c.action(name)->trigger();
        QVERIFY2(window->isVisible(), name);
    }
    QVERIFY(!c.frm->soundKeeper()->window()->isVisible());
    c.action("S_SO")->trigger();
    QVERIFY(c.frm->soundKeeper()->window()->isVisible());
    QVERIFY(c.dialogs.messages.empty());
}

void TestMainWindow::helpAndAboutShowTheirTexts() {
    Client c;
    QVERIFY(c.startUp());
    c.action("H_A")->trigger();
    QCOMPARE(c.dialogs.messages.back(),
             std::string("This Game was made by Quillmark, so blame him..."));
    QVERIFY(!c.frm->helpHost()); // the browser is made on first use

    const std::pair<const char*, shell::HelpItem> items[] = {
        {"H_IH_MM", shell::HelpItem::H_IH_MM},
        {"M_IH_CP_CMM", shell::HelpItem::M_IH_CP_CMM},
        {"H_IH_CP_FG", shell::HelpItem::H_IH_CP_FG},
        {"H_IH_CP_M", shell::HelpItem::H_IH_CP_M},
        {"H_IH_CP_GP", shell::HelpItem::H_IH_CP_GP},
        {"H_IH_SP", shell::HelpItem::H_IH_SP},
        {"H_IH_F", shell::HelpItem::H_IH_F},
        {"H_IH_A", shell::HelpItem::H_IH_A},
        {"H_OH", shell::HelpItem::H_OH}};
    for (const auto& [name, item] : items) {
        c.action(name)->trigger();
        shell::HelpBrowserHost* host = c.frm->helpHost();
        QVERIFY(host && host->browser());
        QVERIFY2(host->browser()->isVisible(), name);
        // The address box shows the address the item opened.
        const QString shown = host->browser()->cboAddress->currentText();
        QVERIFY2(!shown.isEmpty() && host->addresses().forItem(item).endsWith(shown), name);
    }
    QVERIFY(c.frm->helpHost()->addresses().onlineAddress("#C_FG").endsWith("Help.htm#C_FG"));
    QCOMPARE(c.dialogs.messages.size(), std::size_t(1));
}

void TestMainWindow::createServerFoundAndNotFound() {
    Client c;
    QVERIFY(c.startUp());
    QTemporaryDir folder;
    QTemporaryDir emptyPath;
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", emptyPath.path().toUtf8());

    c.frm->setAppFolder(folder.path());
    c.dialogs.messages.clear();
    c.action("F_CS")->trigger();
    QCOMPARE(c.dialogs.messages, std::vector<std::string>{"Could not Locate Server Program..."});

    // A server program beside the client starts, detached, without the client waiting.
    const QString marker = folder.filePath("started");
    QFile script(folder.filePath(shell::ServerLauncher::programName()));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QString("#!/bin/sh\necho \"$#\" > '%1'\n").arg(marker).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    c.dialogs.messages.clear();
    c.action("F_CS")->trigger();
    QVERIFY(c.dialogs.messages.empty());
    QTRY_VERIFY(QFile::exists(marker) && QFile(marker).size() > 0);
    QFile started(marker);
    QVERIFY(started.open(QIODevice::ReadOnly));
    QCOMPARE(started.readAll().trimmed(), QByteArray("0")); // no arguments

    // Not beside the client, but on PATH.
    QTemporaryDir elsewhere;
    QVERIFY(
        QFile::copy(script.fileName(), elsewhere.filePath(shell::ServerLauncher::programName())));
    QFile::remove(script.fileName());
    QFile::remove(marker);
    qputenv("PATH", elsewhere.path().toUtf8());
    QCOMPARE(shell::ServerLauncher::locate(folder.path()),
             QDir(elsewhere.path()).filePath(shell::ServerLauncher::programName()));
    c.action("F_CS")->trigger();
    QVERIFY(c.dialogs.messages.empty());
    QTRY_VERIFY(QFile::exists(marker));
    qputenv("PATH", oldPath);
}

void TestMainWindow::exitStopsTheFallAndTicksAtDoublingIntervals() {
    testing::LocalServer server;
    Client c;
    QVERIFY(c.startUp(server.address(), "Alice"));
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    QTimer* fall = c.timer("tmrFallGems");
    QTimer* update = c.timer("tmrUpdate");
    QTimer* exit = c.timer("Timer1");
    c.seatFighters();
    c.core().InitGame();
    QVERIFY(fall->isActive() && update->isActive());
    QSignalSpy ended(c.frm.get(), &FrmMain::programEnded);
    QPointer<shell::FrmChat> chat = c.frm->frmChat();
    QPointer<shell::FrmPlayerList> players = c.frm->frmPlayerList();

    c.action("F_E")->trigger();
    QVERIFY(!fall->isActive());
    QVERIFY(update->isActive()); // snapshots go on until the end
    QVERIFY(c.chat().endsWith(QString("\nPlease Wait While Program Exits")));
    QVERIFY(chat->txtChat()->toPlainText().endsWith("Please Wait While Program Exits"));
    QVERIFY(chat->isVisible());
    QVERIFY(!c.action("F_E")->isEnabled());
    QVERIFY(exit->isActive());

    // The ticks fall 100, 300, 700 and 1500 ms after the start; the fourth ends the program.
    int elapsed = 0;
    const int expected[] = {100, 300, 700, 1500};
    for (int i = 0; i < 4; ++i) {
        elapsed += exit->interval();
        QCOMPARE(elapsed, expected[i]);
        QCOMPARE(ended.count(), 0);
        QVERIFY(!chat.isNull());
        tick(exit);
    }
    QCOMPARE(ended.count(), 1);
    QVERIFY(c.frm->ended());
    QVERIFY(!exit->isActive());
    QVERIFY(!c.frm->client().session().isConnected());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(chat.isNull());
    QVERIFY(players.isNull());
    QVERIFY(!c.frm->soundKeeper()->exists());
    QVERIFY(c.frm->frmAttack()); // the editor ends with the program
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(0));
}

void TestMainWindow::aDialogOpenAtTheEndClosesWithoutActing() {
    // The real sound-window dialogs: Browse... runs a file dialog's own loop.
    testing::ScriptedDialogs dialogs;
    CountingPause pause;
    FrmMain frm(dialogs, &pause);
    dialogs.answers = {QStringLiteral("127.0.0.1:1"), QStringLiteral("Alice")};
    QVERIFY(frm.startUp());
    QSignalSpy ended(&frm, &FrmMain::programEnded);
    frm.F_E_Click();
    bool sawDialog = false;
    bool browseReturned = false;
    QTimer::singleShot(0, &frm, [&] {
        QTimer::singleShot(300, &frm, [&] {
            sawDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr;
        });
        frm.soundKeeper()->show();
        frm.soundKeeper()->window()->findChild<QPushButton*>("cmdGCclect")->click();
        browseReturned = true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
    QVERIFY(sawDialog);
    QVERIFY(browseReturned);
    QVERIFY(frm.ended());
    QVERIFY(!frm.soundKeeper()->exists());
    // Nothing asks again once the end has begun.
    frm.F_C2S_Click();
    QCOMPARE(dialogs.prompts.size(), 2);
}

void TestMainWindow::closeAfterExitKeepsTheTimerRunning() {
    Client c;
    QVERIFY(c.startUp());
    QSignalSpy ended(c.frm.get(), &FrmMain::programEnded);
    QTimer* exit = c.timer("Timer1");
    c.action("F_E")->trigger();
    tick(exit);
    tick(exit);
    QCOMPARE(ended.count(), 0);
    QCOMPARE(exit->interval(), 400);

    // The second way out keeps the exit timer with its interval; Exit stays disabled.
    QVERIFY(!c.frm->close()); // the window stays while the program ends
    QVERIFY(exit->isActive());
    QCOMPARE(exit->interval(), 400);
    QVERIFY(!c.action("F_E")->isEnabled());
    QCOMPARE(c.chat().count("Please Wait While Program Exits"), 2);
    // The program ends at the first tick whose doubled interval exceeds 1000 ms:
    // 800 goes on, 1600 ends it.
    tick(exit);
    QCOMPARE(ended.count(), 0);
    QCOMPARE(exit->interval(), 800);
    tick(exit);
    QCOMPARE(ended.count(), 1);
    // Closing once more after the end changes nothing.
    c.frm->close();
    QVERIFY(!exit->isActive());
}

void TestMainWindow::closeWithoutExitKeepsTheFightTimer() {
    Client c;
    QVERIFY(c.startUp());
    c.seatFighters();
    c.core().InitGame();
    QVERIFY(c.timer("tmrFallGems")->isActive());
    QVERIFY(!c.frm->close());
    QVERIFY(c.timer("tmrFallGems")->isActive());
    QVERIFY(c.action("F_E")->isEnabled());
    QVERIFY(!c.frm->frmChat()->isVisible());
    QVERIFY(c.timer("Timer1")->isActive());
    QVERIFY(c.chat().endsWith(QString("\nPlease Wait While Program Exits")));
}

void TestMainWindow::arrowKeysReachTheGameFromAnyWidgetOfTheWindow() {
    Client c;
    QVERIFY(c.startUp());
    c.seatFighters();
    c.core().InitGame();
    QVERIFY(c.core().tmrFallGems());
    QCOMPARE(c.core().PairC(0), 3);

    QTest::keyClick(c.frm.get(), Qt::Key_Left);
    QCOMPARE(c.core().PairC(0), 2);
    QTest::keyClick(c.frm->boardView(), Qt::Key_Right);
    QCOMPARE(c.core().PairC(0), 3);
    QTest::keyClick(c.indexed("lblCScore", 0), Qt::Key_Left);
    QCOMPARE(c.core().PairC(0), 2);
    const int rowBefore = c.core().PairR(0);
    QTest::keyClick(c.widget<QPushButton>("RdyButton"), Qt::Key_Down);
    QCOMPARE(c.core().PairR(0), rowBefore - 1);
    QTest::keyClick(c.frm->boardView(), Qt::Key_Up); // rotates element 0 around the pivot
    QVERIFY(c.core().PairR(0) != rowBefore - 1 || c.core().PairC(0) != 2);

    // The chat window's input line keeps its keys.
    const int column = c.core().PairC(0);
    c.frm->frmChat()->show();
    c.frm->frmChat()->txtSend()->setText("ab");
    c.frm->frmChat()->txtSend()->setCursorPosition(2);
    QTest::keyClick(c.frm->frmChat()->txtSend(), Qt::Key_Left);
    QCOMPARE(c.core().PairC(0), column);
    QCOMPARE(c.frm->frmChat()->txtSend()->cursorPosition(), 1);
}

void TestMainWindow::coreTimersDriveTheRealTimers() {
    Client c;
    QVERIFY(c.startUp());
    c.seatFighters();
    c.core().InitGame();
    QVERIFY(c.timer("tmrFallGems")->isActive());
    QVERIFY(c.timer("tmrUpdate")->isActive());

    // A fall tick from the real timer moves the pair one row down.
    const int row = c.core().PairR(0);
    tick(c.timer("tmrFallGems"));
    QCOMPARE(c.core().PairR(0), row - 1);

    c.core().setTimerEnabled(board::Timer::CountDown, true);
    QVERIFY(c.timer("tmrCountDown")->isActive());
    c.core().setLblCountIn("3");
    tick(c.timer("tmrCountDown"));
    QCOMPARE(c.widget<QLabel>("lblCountIn")->text(), QString("2"));
    c.core().HandleGameOver();
    QVERIFY(!c.timer("tmrFallGems")->isActive());
    QVERIFY(!c.timer("tmrUpdate")->isActive());
}

void TestMainWindow::boardDrawsShapesAndColoursAtTheirCells() {
    Client c;
    QVERIFY(c.startUp());
    c.core().writeCell(0, 0, 0, gem(common::ShapeNormal, common::GemRed));
    c.core().writeCell(0, 1, 0, gem(common::ShapeCrash, common::GemBlue));
    c.core().writeCell(1, 5, 14, gem(common::ShapeNormal, common::GemGreen));
    c.core().writeCell(1, 0, 3, gem(common::ShapeCrash, common::GemYellow));
    c.core().SetGem(1, 0, 0);
    c.core().SetGem(1, 1, 0);
    c.core().SetGem(2, 5, 14);
    c.core().SetGem(2, 0, 3);
    c.core().setNextGem(0, common::ShapeCrash, common::GemGreen);
    // A gem that moved away leaves a hidden cell with its stale shape and colour.
    c.core().writeCell(0, 2, 2, gem(common::ShapeNormal, common::GemYellow));
    c.core().SetGem(1, 2, 2);
    c.core().writeCell(0, 2, 2, common::GemCell{false, common::ShapeNormal, 0, common::GemYellow});
    c.core().SetGem(1, 2, 2);

    shell::BoardView* view = c.frm->boardView();
    const QImage image = view->grab().toImage();
    if (qEnvironmentVariableIsSet("GEMVOLT_SHOT"))
        image.save(qEnvironmentVariable("GEMVOLT_SHOT"));
    const qreal dpr = image.devicePixelRatio();
    auto at = [&](QPointF p) { return image.pixelColor((p * dpr).toPoint()); };
    auto centre = [&](QRect r) { return QRectF(r).center(); };
    auto corner = [&](QRect r) {
        return QPointF(r.left() + r.width() * 0.12, r.top() + r.height() * 0.12);
    };

    const QRect red = view->cellRect(0, 0);
    QVERIFY(looksLike(at(centre(red)), common::GemRed));
    QVERIFY2(looksLike(at(corner(red)), common::GemRed), "a rounded square fills its corners");
    const QRect blue = view->cellRect(0, 1);
    QVERIFY(looksLike(at(centre(blue)), common::GemBlue));
    QVERIFY2(isBackground(at(corner(blue))), "a circle leaves its corners empty");
    QVERIFY(looksLike(at(centre(view->cellRect(1, 89))), common::GemGreen));
    QVERIFY(looksLike(at(centre(view->cellRect(1, 18))), common::GemYellow));
    QVERIFY(isBackground(at(corner(view->cellRect(1, 18)))));
    QVERIFY(looksLike(at(centre(view->nextGemRect(0))), common::GemGreen));
    QVERIFY(isBackground(at(centre(view->nextGemRect(2)))));
    QVERIFY(isBackground(at(centre(view->cellRect(0, 14))))); // the hidden stale gem
    QVERIFY(isBackground(at(centre(view->cellRect(0, 50))))); // never drawn
    QVERIFY(isBackground(at(centre(view->cellRect(1, 0)))));

    // The cells stand at their designed twips positions: board 2 column 5 top row at (9480, 840).
    const double k = view->scale();
    const QRect top = view->cellRect(1, 89);
    const QRect origin = view->toPixels(0, 0, 0, 0);
    QVERIFY(std::abs(top.left() - origin.left() - 9480 * k) <= 1);
    QVERIFY(std::abs(top.top() - origin.top() - 840 * k) <= 1);
    QVERIFY(std::abs(top.width() - 495 * k) <= 1);

    // ClearGrids hides every cell.
    c.core().ClearGrids();
    const QImage cleared = view->grab().toImage();
    QVERIFY(isBackground(cleared.pixelColor((centre(red) * dpr).toPoint())));
}

void TestMainWindow::boardScalesWithTheWindow() {
    Client c;
    QVERIFY(c.startUp());
    shell::BoardView* view = c.frm->boardView();
    c.core().writeCell(0, 3, 7, gem(common::ShapeNormal, common::GemRed));
    c.core().SetGem(1, 3, 7);
    const QRect small = view->cellRect(0, 7 * 6 + 3);
    const QRect smallName = c.indexed("lblPlyName", 0)->geometry();
    c.frm->resize(c.frm->width() * 2, c.frm->height() * 2);
    QCoreApplication::processEvents();
    const QRect big = view->cellRect(0, 7 * 6 + 3);
    QVERIFY(big.width() >= small.width() * 2 - 2);
    const QRect bigName = c.indexed("lblPlyName", 0)->geometry();
    QVERIFY(bigName.width() >= smallName.width() * 2 - 2);
    // The name label stays under its board.
    QVERIFY(std::abs(bigName.left() - view->cellRect(0, 0).left()) <= 2);
    const QImage image = view->grab().toImage();
    QVERIFY(looksLike(image.pixelColor((QRectF(big).center() * image.devicePixelRatio()).toPoint()),
                      common::GemRed));
}

void TestMainWindow::onlyChangedCellsRepaint() {
    Client c;
    QVERIFY(c.startUp());
    shell::BoardView* view = c.frm->boardView();
    QCoreApplication::processEvents();

    struct PaintSpy : QObject {
        QRegion painted;
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) {
                ++paints;
                painted += static_cast<QPaintEvent*>(e)->region();
            }
            return false;
        }
    } spy;
    view->installEventFilter(&spy);

    c.core().writeCell(0, 4, 2, gem(common::ShapeCrash, common::GemGreen));
    c.core().SetGem(1, 4, 2);
    view->repaint(); // the core's immediate repaint
    QCOMPARE(spy.paints, 1);
    QCOMPARE(spy.painted.boundingRect(), view->cellRect(0, 2 * 6 + 4));

    // Drawing the same gem again, or hiding an already hidden cell, repaints nothing.
    spy.paints = 0;
    c.core().SetGem(1, 4, 2);
    c.core().SetGem(1, 0, 0);
    view->repaint();
    QCOMPARE(spy.paints, 0);
    QVERIFY(view->gemPainter().cachedCount() >= 1);
    view->removeEventFilter(&spy);
}

void TestMainWindow::panelShowsTheCoreTextsAndReadyWorksByMouseAndReturn() {
    Client c;
    QVERIFY(c.startUp());
    auto* panel = c.widget<QGroupBox>("frmNxtMatch");
    auto* ready = c.widget<QPushButton>("RdyButton");
    QCOMPARE(panel->title(), QString("Game Over"));
    QCOMPARE(ready->text(), QString("Ready"));
    QCOMPARE(c.widget<QLabel>("lblCountIn")->font().pointSize(), 48);
    QCOMPARE(c.widget<QLabel>("lblStartIn")->text(), QString("Match Will - Start In      -"));
    QCOMPARE(c.widget<QLabel>("lblWinner")->text(), QString("<Player Name> Wins!"));

    // Return does nothing while the panel is hidden.
    c.core().setLocalPlayerId(5);
    c.core().setPlayerTable({{"5", "Alice", "0", "0"}});
    QTest::keyClick(c.frm.get(), Qt::Key_Return);
    QVERIFY(c.dialogs.messages.empty());

    c.seatFighters();
    c.core().HandleGameOver();
    c.frm->syncFromCore();
    QVERIFY(panel->isVisible());
    QCOMPARE(c.widget<QLabel>("lblWinner")->text(), QString("Alice Wins!"));
    QCOMPARE(c.widget<QLabel>("lblNxtMatch")->text(),
             QString("The Next Fight Will Be: Alice Vs Bob"));
    QCOMPARE(c.widget<QLabel>("lblP1Ready")->text(), QString("Alice - Ready = No"));
    QCOMPARE(c.widget<QLabel>("lblP2Ready")->text(), QString("Bob - Ready = No"));
    QCOMPARE(c.widget<QLabel>("lblCountIn")->text(), QString("N/A"));

    // Alone in the table: every press of Ready asks to wait for more players.
    c.core().setPlayerTable({{"5", "Alice", "0", "1"}});
    const std::string wait = "Please, wait for more Players.";
    QTest::mouseClick(ready, Qt::LeftButton);
    QCOMPARE(c.dialogs.messages, std::vector<std::string>{wait});
    QTest::keyClick(c.frm->boardView(), Qt::Key_Return);
    QCOMPARE(c.dialogs.messages.size(), std::size_t(2));
    QTest::keyClick(c.frm.get(), Qt::Key_Enter);
    QCOMPARE(c.dialogs.messages.size(), std::size_t(3));
    QCOMPARE(c.dialogs.messages.back(), wait);

    c.core().setPanelVisible(false);
    c.frm->syncFromCore();
    QVERIFY(!panel->isVisible());
}

void TestMainWindow::figuresFollowTheCore() {
    Client c;
    QVERIFY(c.startUp());
    c.core().setIncoming(1, "07");
    c.core().setStatsLabels(0, "120", "3", "2");
    c.core().setPlayerTable({{"5", "Alice", "1", "0"}, {"6", "Bob", "0", "1"}});
    c.frm->syncFromCore();
    QCOMPARE(c.indexed("lblIncoming", 1)->text(), QString("07"));
    QCOMPARE(c.indexed("lblIncoming", 0)->text(), QString("00"));
    QCOMPARE(c.indexed("lblCScore", 0)->text(), QString("120"));
    QCOMPARE(c.frm->frmPlayerList()->listPlayerName()->count(), 2);
    c.core().InitGame();
    c.frm->syncFromCore();
    QCOMPARE(c.indexed("lblPlyName", 0)->text(), QString("Alice"));
    QCOMPARE(c.indexed("lblPlyName", 1)->text(), QString("Bob"));

    // Each board's pending counter stands at its top, beside "Incoming!!".
    for (int b = 0; b < 2; ++b) {
        const QRect counter = c.indexed("lblIncoming", b)->geometry();
        const QRect board =
            c.frm->boardView()->cellRect(b, 84).united(c.frm->boardView()->cellRect(b, 5));
        QVERIFY(counter.bottom() <= board.top());
        QVERIFY(counter.left() >= board.left() && counter.right() <= board.right() + 1);
        QCOMPARE(c.indexed("lblIncomingCaption", b)->text(), QString("Incoming!!"));
    }
    // In "Current" and "Best" the rows read Combo, Chain, Score from the top,
    // board 1's value left of the caption and board 2's right of it.
    auto top = [&](const char* name) { return c.indexed(name, 0)->geometry().top(); };
    QVERIFY(top("lblCCombo") < top("lblCChain") && top("lblCChain") < top("lblCScore"));
    QVERIFY(top("lblBCombo") < top("lblBChain"));
    for (const char* name : {"lblCCombo", "lblCChain", "lblCScore", "lblBCombo", "lblBChain"})
        QVERIFY2(c.indexed(name, 0)->geometry().right() < c.indexed(name, 1)->geometry().left(),
                 name);
    QStringList frames;
    for (const char* name : {"frmCurrent", "frmBest", "frmHigh"}) {
        const QGroupBox* frame = c.widget<QGroupBox>(name);
        QVERIFY2(frame, name);
        frames << frame->title();
    }
    QCOMPARE(frames, QStringList({"Current", "Best", "Highest"}));
    QStringList highCaptions;
    for (QLabel* l : c.frm->findChildren<QLabel*>("lblCaption"))
        if (l->text().endsWith(QLatin1Char(':')))
            highCaptions << l->text();
    QCOMPARE(highCaptions, QStringList({"Score:", "Combo:", "Chain:"}));
}

void TestMainWindow::chatLinesGoThroughTheServer() {
    testing::LocalServer server;
    Client c;
    QVERIFY(c.startUp(server.address(), "Alice"));
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    c.action("S_CR")->trigger();
    QLineEdit* input = c.frm->frmChat()->txtSend();

    // Enter on an empty input still sends the name and ":>".
    QTest::keyClick(input, Qt::Key_Return);
    QTRY_VERIFY(c.chat().contains("Alice:>\r\n"));
    QTest::keyClicks(input, "hello there");
    // The own line shows only when the server's copy comes back.
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(input->text().isEmpty());
    QTRY_VERIFY(c.frm->frmChat()->txtChat()->toPlainText().contains("Alice:>hello there"));
    // Arrow keys in the input line stay there.
    QTest::keyClicks(input, "ab");
    QTest::keyClick(input, Qt::Key_Left);
    QCOMPARE(input->cursorPosition(), 1);
}

void TestMainWindow::textsFromOtherPlayersShowAsTheyAre() {
    Client c;
    QVERIFY(c.startUp());
    // A name and a score as another player may send them: markup is text like any other.
    c.core().setLocalPlayerId(5);
    c.core().setPlayerTable(
        {{"5", "Alice", "0", "0"}, {"6", "<b>Bob</b><font size=7>!</font>", "0", "0"}});
    c.core().InitGame();
    c.core().HandleGameOver();
    c.core().setStatsLabels(1, "<font size=7 color=red>9</font>", "<i>3</i>", "<u>2</u>");
    c.frm->syncFromCore();
    int marked = 0;
    for (QLabel* label : c.frm->findChildren<QLabel*>()) {
        if (!label->text().contains(QLatin1Char('<')))
            continue;
        ++marked;
        // Every character shows, the tags too.
        QVERIFY2(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text()),
                 qPrintable(label->objectName() + ": " + label->text()));
    }
    // Bob's name, his three figures, the next fight and his ready line at least.
    QVERIFY2(marked >= 6, qPrintable(QString::number(marked)));
}

void TestMainWindow::exitEndsTheProgramDuringAFlood_data() {
    QTest::addColumn<int>("lineSize");
    QTest::newRow("long lines") << int(transport::MaxFrameBody - 5);
    QTest::newRow("short lines") << 90;
}

void TestMainWindow::exitEndsTheProgramDuringAFlood() {
    // A hostile server sends chat lines as fast as the window takes them.
    QFETCH(int, lineSize);
    testing::HostileServer hostile;
    const common::Bytes line =
        common::encode(common::MsgChat{std::string(std::size_t(lineSize), 'x')});
    hostile.flood(std::string(line.begin(), line.end()), 256 * 1024 * 1024,
                  std::chrono::seconds(60));
    Client c;
    QVERIFY(c.startUp(QStringLiteral("127.0.0.1:%1").arg(hostile.port())));
    QTRY_VERIFY_WITH_TIMEOUT(c.frm->client().session().isConnected(), 5000);
    // This thread busy elsewhere until the window holds all it may and the flood stalls.
    QVERIFY(hostile.waitForStall(std::chrono::milliseconds(400), std::chrono::seconds(20)));

    QSignalSpy ended(c.frm.get(), &FrmMain::programEnded);
    QElapsedTimer clock;
    clock.start();
    c.action("F_E")->trigger();
    // The exit takes 1.5 s of timer ticks; the flood must not hold them up for long.
    QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1, 10000);
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!c.frm->client().session().isConnected());
}

QTEST_MAIN(TestMainWindow)
#include "tst_shell_main.moc"
