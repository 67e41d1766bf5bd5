#include "Client/battle/GameCore.h"
#include "Client/shell/FrmAttack.h"
#include "Client/shell/FrmChat.h"
#include "Client/shell/FrmPlayerList.h"
#include "Client/shell/GemPainter.h"
#include "Client/shell/OfflineSession.h"
#include "Client/shell/Twips.h"
#include "Common/GemCell.h"
#include "support/FakeSession.h"
#include "support/ScriptedDialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

using namespace gemvolt;
using battle::AttackEditor;

namespace {

/** A point given in twips, as the pixel the mouse would be on. */
QPoint twipsPoint(const QWidget* w, double x, double y) {
    return QPoint(static_cast<int>(std::lround(x * shell::Twips::pixelsPerTwip(w))),
                  static_cast<int>(std::lround(y * shell::Twips::pixelsPerTwip(w))));
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void chatEnterSendsNameAndInput();
    void chatLogAppendsLinesAndEmptiesPastTheLimit();
    void chatCloseButtonHidesAndKeepsTheLog();
    void chatLayoutFollowsTheWindowSize();
    void playerListShowsTheTableUnderItsHeaders();
    void playerListCloseButtonHidesAndKeepsTheTable();
    void editorLeftClicksCycleColours();
    void editorRightClicksToggleTheKind();
    void editorSharedEdgesGoToTheLowerElement();
    void editorOutsideClicksChangeNothing();
    void editorApplyAndHide();
    void gemPixmapsAreCachedPerKindColourSizeAndRatio();
    void offlineSessionPromptsAndMatchFlowRules();
};

void TestWindows::chatEnterSendsNameAndInput() {
    std::vector<std::string> sent;
    shell::FrmChat chat([&](const std::string& line) { sent.push_back(line); },
                        [] { return std::string("Bob"); });
    QCOMPARE(chat.windowTitle(), QString("GMVLT - Chat Room"));
    chat.show();
    QTest::keyClick(chat.txtSend(), Qt::Key_Return);
    QCOMPARE(sent, std::vector<std::string>{"Bob:>"});
    QTest::keyClicks(chat.txtSend(), "hi there");
    QTest::keyClick(chat.txtSend(), Qt::Key_Return);
    QCOMPARE(sent.back(), std::string("Bob:>hi there"));
    QVERIFY(chat.txtSend()->text().isEmpty());
    // Nothing shows locally until the server's copy comes back.
    QVERIFY(chat.logText().isEmpty());
    QVERIFY(chat.txtChat()->isReadOnly());
}

void TestWindows::chatLogAppendsLinesAndEmptiesPastTheLimit() {
    shell::FrmChat chat({}, {});
    chat.AppendChatLine("**Connected to Chat Server**");
    chat.AppendChatLine("Bob:>hi");
    QCOMPARE(chat.logText(), QString("**Connected to Chat Server**\r\nBob:>hi\r\n"));
    QCOMPARE(chat.txtChat()->toPlainText(), QString("**Connected to Chat Server**\nBob:>hi\n"));
    chat.appendText(QString("\nPlease Wait While Program Exits"));
    QVERIFY(chat.txtChat()->toPlainText().endsWith("Bob:>hi\n\nPlease Wait While Program Exits"));

    shell::FrmChat full({}, {});
    const QString line(997, 'x'); // 999 characters a line with CR LF
    for (int i = 0; i < 30; ++i)
        full.AppendChatLine(line);
    QCOMPARE(full.logText().size(), 29970);
    full.AppendChatLine(QString(29, 'y')); // 29970 + 31 > 30000
    QVERIFY(full.logText().isEmpty());
    QVERIFY(full.txtChat()->toPlainText().isEmpty());
    full.AppendChatLine("again");
    QCOMPARE(full.logText(), QString("again\r\n"));
}

void TestWindows::chatCloseButtonHidesAndKeepsTheLog() {
    auto* chat = new shell::FrmChat({}, {});
    QPointer<shell::FrmChat> alive(chat);
    chat->AppendChatLine("kept");
    chat->show();
    QVERIFY(chat->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!alive.isNull());
    QVERIFY(!chat->isVisible());
    QCOMPARE(chat->logText(), QString("kept\r\n"));
    chat->show();
    QTest::mouseClick(chat->hideButton(), Qt::LeftButton);
    QVERIFY(!chat->isVisible());
    QCOMPARE(chat->hideButton()->text(), QString("_Hide"));
    chat->GoodBye();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive.isNull());
}

void TestWindows::chatLayoutFollowsTheWindowSize() {
    shell::FrmChat chat({}, {});
    chat.resize(shell::Twips::toPixels(&chat, 9000), shell::Twips::toPixels(&chat, 6000));
    chat.show();
    QCoreApplication::processEvents();
    const QRect log = chat.txtChat()->geometry();
    const QRect input = chat.txtSend()->geometry();
    const QRect hide = chat.hideButton()->geometry();
    auto px = [&](double t) { return shell::Twips::toPixels(&chat, t); };
    QVERIFY(std::abs(log.width() - px(9000 - 3 * 120)) <= 1);
    QVERIFY(std::abs(log.height() - px(6000 - 3 * 600)) <= 1);
    QCOMPARE(input.width(), log.width());
    QVERIFY(std::abs(input.top() - (log.top() + log.height() + px(100))) <= 1);
    QVERIFY(std::abs(hide.right() - log.right()) <= 1);

    // Too small a window keeps the last layout.
    chat.resize(px(900), px(3000));
    QCoreApplication::processEvents();
    QCOMPARE(chat.txtChat()->geometry(), log);
}

void TestWindows::playerListShowsTheTableUnderItsHeaders() {
    shell::FrmPlayerList list;
    QCOMPARE(list.windowTitle(), QString("GMVLT - Players"));
    QStringList headers;
    for (const char* name :
         {"lblHeaderlistID", "lblHeaderlistPlayerName", "lblHeaderlistWins", "lblHeaderlistLosses"})
        headers << list.findChild<QLabel*>(name)->text();
    QCOMPARE(headers, (QStringList{"ID", "Player Name", "Wins", "Losses"}));
    list.showTable({{"11", "Alice", "2", "0"}, {"12", "Bob", "0", "2"}, {"13", "Cy", "0", "0"}});
    QCOMPARE(list.listID()->count(), 3);
    QCOMPARE(list.listPlayerName()->item(1)->text(), QString("Bob"));
    QCOMPARE(list.listWins()->item(0)->text(), QString("2"));
    QCOMPARE(list.listLosses()->item(1)->text(), QString("2"));
    list.showTable({{"12", "Bob", "0", "2"}});
    QCOMPARE(list.listID()->count(), 1);
    QCOMPARE(list.listID()->item(0)->text(), QString("12"));

    // The lists reach 500 twips above the bottom of the window.
    list.resize(list.width(), shell::Twips::toPixels(&list, 6000));
    list.show();
    QCoreApplication::processEvents();
    const int expected = shell::Twips::toPixels(&list, 6000 - 720 - 500);
    QVERIFY(std::abs(list.listID()->height() - expected) <= 1);
    QCOMPARE(list.listLosses()->height(), list.listID()->height());
}

void TestWindows::playerListCloseButtonHidesAndKeepsTheTable() {
    auto* list = new shell::FrmPlayerList;
    QPointer<shell::FrmPlayerList> alive(list);
    list->showTable({{"11", "Alice", "0", "0"}});
    list->show();
    QVERIFY(list->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!alive.isNull());
    QCOMPARE(list->listPlayerName()->count(), 1);
    list->show();
    QTest::mouseClick(list->hideButton(), Qt::LeftButton);
    QVERIFY(!list->isVisible());
    delete list;
}

void TestWindows::editorLeftClicksCycleColours() {
    battle::GameCore core;
    shell::FrmAttack editor(core);
    QCOMPARE(editor.windowTitle(), QString("GMVLT - Attack Patern"));
    editor.show();
    const int k = 14; // column 2, row 2
    const QPoint centre = editor.shape1Rect(k).center();
    const std::int32_t cycle[] = {common::GemYellow, common::GemGreen, common::GemBlue,
                                  common::GemRed};
    for (std::int32_t colour : cycle) {
        QTest::mouseClick(&editor, Qt::LeftButton, {}, centre);
        QCOMPARE(core.attackEditor().Shape1(k).Color, colour);
    }
    QCOMPARE(core.attackEditor().Shape1(k).Shape, common::ShapeNormal);
    QCOMPARE(core.attackEditor().Shape1(k - 1).Color, common::GemRed);
}

void TestWindows::editorRightClicksToggleTheKind() {
    battle::GameCore core;
    shell::FrmAttack editor(core);
    editor.show();
    const QPoint centre = editor.shape1Rect(35).center();
    QTest::mouseClick(&editor, Qt::RightButton, {}, centre);
    QCOMPARE(core.attackEditor().Shape1(35).Shape, common::ShapeCrash);
    QCOMPARE(core.attackEditor().Shape1(35).Color, common::GemRed);
    QTest::mouseClick(&editor, Qt::RightButton, Qt::ShiftModifier, centre);
    QCOMPARE(core.attackEditor().Shape1(35).Shape, common::ShapeNormal);
    QTest::mouseClick(&editor, Qt::MiddleButton, {}, centre);
    QCOMPARE(core.attackEditor().Shape1(35).Shape, common::ShapeNormal);
    QCOMPARE(core.attackEditor().Shape1(35).Color, common::GemRed);
}

void TestWindows::editorSharedEdgesGoToTheLowerElement() {
    battle::GameCore core;
    shell::FrmAttack editor(core);
    editor.show();
    // x = 960 lies in both the column-0 cell (480..975) and the column-1 cell (960..).
    QTest::mouseClick(&editor, Qt::LeftButton, {}, twipsPoint(&editor, 960, 3480));
    QCOMPARE(core.attackEditor().Shape1(0).Color, common::GemYellow);
    QCOMPARE(core.attackEditor().Shape1(1).Color, common::GemRed);
    // y = 3240 lies on the band shared by rows 0 (3240..3735) and 1 (2760..3255).
    QTest::mouseClick(&editor, Qt::LeftButton, {}, twipsPoint(&editor, 2000, 3240));
    QCOMPARE(core.attackEditor().Shape1(3).Color, common::GemYellow);
    QCOMPARE(core.attackEditor().Shape1(9).Color, common::GemRed);
    // The grid's far corner (3375, 840) is still element 35.
    QTest::mouseClick(&editor, Qt::RightButton, {}, twipsPoint(&editor, 3375, 840));
    QCOMPARE(core.attackEditor().Shape1(35).Shape, common::ShapeCrash);
}

void TestWindows::editorOutsideClicksChangeNothing() {
    battle::GameCore core;
    testing::ScriptedDialogs dialogs;
    board::Ports ports;
    ports.messageBox = &dialogs;
    core.setPorts(ports);
    shell::FrmAttack editor(core);
    editor.show();
    const battle::AttackEditor before = core.attackEditor();
    QTest::mouseClick(&editor, Qt::LeftButton, {}, twipsPoint(&editor, 300, 2000));
    QTest::mouseClick(&editor, Qt::LeftButton, {}, twipsPoint(&editor, 2000, 3800));
    for (int k = 0; k < 36; ++k)
        QVERIFY(core.attackEditor().Shape1(k) == before.Shape1(k));
    QVERIFY(dialogs.messages.empty());
}

void TestWindows::editorApplyAndHide() {
    battle::GameCore core;
    shell::FrmAttack editor(core);
    editor.show();
    QCOMPARE(editor.cmdApply()->text(), QString("cmdApply"));
    QCOMPARE(editor.Command1()->text(), QString("_ Hide"));
    QCOMPARE(editor.cmdApply()->geometry(), shell::Twips::rect(&editor, 4080, 2280, 1575, 615));
    QTest::mouseClick(&editor, Qt::RightButton, {}, editor.shape1Rect(7).center());
    QCOMPARE(core.OwnPattern()[7].Shape, std::int16_t(0)); // not applied yet
    QSignalSpy changed(&editor, &shell::FrmAttack::changed);
    QTest::mouseClick(editor.cmdApply(), Qt::LeftButton);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(core.OwnPattern()[7].Shape, common::ShapeCrash);
    QCOMPARE(core.OwnPattern()[8].Color, common::GemRed);
    QTest::mouseClick(editor.Command1(), Qt::LeftButton);
    QVERIFY(!editor.isVisible());
    QCOMPARE(core.attackEditor().Shape1(7).Shape, common::ShapeCrash); // kept while hidden
}

void TestWindows::gemPixmapsAreCachedPerKindColourSizeAndRatio() {
    shell::GemPainter painter;
    const QPixmap& a = painter.gem(common::ShapeNormal, common::GemRed, 33, 1.0);
    QCOMPARE(a.size(), QSize(33, 33));
    painter.gem(common::ShapeNormal, common::GemRed, 33, 1.0);
    QCOMPARE(painter.cachedCount(), 1);
    painter.gem(common::ShapeCrash, common::GemRed, 33, 1.0);
    painter.gem(common::ShapeNormal, common::GemBlue, 33, 1.0);
    painter.gem(common::ShapeNormal, common::GemRed, 40, 1.0);
    QCOMPARE(painter.cachedCount(), 4);
    // High-DPI screens get twice the device pixels, so edges stay sharp.
    const QPixmap& hi = painter.gem(common::ShapeNormal, common::GemRed, 33, 2.0);
    QCOMPARE(painter.cachedCount(), 5);
    QCOMPARE(hi.size(), QSize(66, 66));
    QCOMPARE(hi.devicePixelRatio(), 2.0);
    QCOMPARE(shell::GemPainter::toQColor(common::GemBlue), QColor(128, 128, 255));
    QCOMPARE(shell::GemPainter::toQColor(common::GemGreen), QColor(0, 192, 0));
}

void TestWindows::offlineSessionPromptsAndMatchFlowRules() {
    battle::GameCore core;
    testing::ScriptedDialogs dialogs;
    shell::OfflineSession session(core, dialogs);
    // Cancel and an empty answer repeat the host prompt; a cancelled name is empty.
    dialogs.answers = {std::nullopt, std::string(), std::string("10.0.0.2"), std::nullopt};
    QVERIFY(session.ConnectToServer());
    QCOMPARE(dialogs.prompts.size(), std::size_t(4));
    QCOMPARE(dialogs.prompts[0].title, std::string("Hostname required"));
    QCOMPARE(dialogs.prompts[0].prompt, std::string("Please enter a hostname/IP address"));
    QCOMPARE(dialogs.prompts[0].defaultText, std::string("127.0.0.1"));
    QCOMPARE(dialogs.prompts[3].title, std::string("Playername"));
    QCOMPARE(dialogs.prompts[3].prompt, std::string("Playername?"));
    QCOMPARE(dialogs.prompts[3].defaultText, std::string("Myself"));
    QCOMPARE(session.hostName(), std::string("10.0.0.2"));
    QCOMPARE(session.LocalPlayerName(), std::string());

    // Ready: a spectator does nothing; one fighter alone is asked to wait.
    session.RdyButton_Click();
    QVERIFY(dialogs.messages.empty());
    core.setLocalPlayerId(5);
    core.setPlayerTable({{"5", "Alice", "0", "0"}});
    session.RdyButton_Click();
    QCOMPARE(dialogs.messages, std::vector<std::string>{"Please, wait for more Players."});

    // The count-down: 3, 2, 1, then the fight starts and the panel goes.
    core.setPlayerTable({{"5", "Alice", "0", "0"}, {"6", "Bob", "0", "0"}});
    core.setPanelVisible(true);
    core.setLblCountIn("3");
    core.setTmrCountDown(true);
    session.CountDownTick();
    QCOMPARE(core.lblCountIn(), std::string("2"));
    session.CountDownTick();
    QVERIFY(core.frmNxtMatch());
    session.CountDownTick();
    QCOMPARE(core.lblCountIn(), std::string("0"));
    QVERIFY(!core.frmNxtMatch());
    QVERIFY(!core.tmrCountDown());
    QVERIFY(core.tmrFallGems());
    // A count that is no number does not fail.
    core.setLblCountIn("N/A");
    session.CountDownTick();
    QCOMPARE(core.lblCountIn(), std::string("-1"));
}

QTEST_MAIN(TestWindows)
#include "tst_shell_windows.moc"
