#include "Client/battle/GameCore.h"
#include "Client/net/ChatLog.h"
#include "Client/shell/FrmAttack.h"
#include "Client/shell/FrmChat.h"
#include "Client/shell/FrmPlayerList.h"
#include "Client/shell/GemPainter.h"
#include "Client/shell/QtDialogs.h"
#include "Client/shell/Twips.h"
#include "Common/GemCell.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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
    void chatEnterSendsTheInput();
    void chatShowsTheLogModel();
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
    void okBoxesDoNotBlockAndPromptsAreRealDialogs();
};

void TestWindows::chatEnterSendsTheInput() {
    net::ChatLog log;
    QStringList sent;
    shell::FrmChat chat(log, [&](const QString& typed) { sent << typed; });
    QCOMPARE(chat.windowTitle(), QString("GMVLT - Chat Room"));
    chat.show();
    // The client adds the name and ":>"; the window hands over what was typed,
    // an empty line too.
    QTest::keyClick(chat.txtSend(), Qt::Key_Return);
    QCOMPARE(sent, QStringList{""});
    QTest::keyClicks(chat.txtSend(), "hi there");
    QTest::keyClick(chat.txtSend(), Qt::Key_Return);
    QCOMPARE(sent.last(), QString("hi there"));
    QVERIFY(chat.txtSend()->text().isEmpty());
    // Nothing shows locally until the server's copy comes back.
    QVERIFY(log.text().isEmpty());
    QVERIFY(chat.txtChat()->toPlainText().isEmpty());
    QVERIFY(chat.txtChat()->isReadOnly());
}

void TestWindows::chatShowsTheLogModel() {
    net::ChatLog log;
    log.AppendChatLine("before the window");
    shell::FrmChat chat(log, {}, {});
    QCOMPARE(chat.txtChat()->toPlainText(), QString("before the window\n"));
    log.AppendChatLine("**Connected to Chat Server**");
    log.AppendChatLine("Bob:>hi");
    QCOMPARE(chat.txtChat()->toPlainText(),
             QString("before the window\n**Connected to Chat Server**\nBob:>hi\n"));
    log.appendRaw(QString("\nPlease Wait While Program Exits"));
    QVERIFY(chat.txtChat()->toPlainText().endsWith("Bob:>hi\n\nPlease Wait While Program Exits"));

    // However the log trims itself when full, the window shows exactly the log.
    const QString line(997, 'x');
    for (int i = 0; i < 40; ++i)
        log.AppendChatLine(line + QString::number(i % 10));
    QString expected = log.text();
    expected.replace("\r\n", "\n");
    QCOMPARE(chat.txtChat()->toPlainText(), expected);
    log.clear();
    QVERIFY(chat.txtChat()->toPlainText().isEmpty());
}

void TestWindows::chatCloseButtonHidesAndKeepsTheLog() {
    net::ChatLog log;
    auto* chat = new shell::FrmChat(log, {}, {});
    QPointer<shell::FrmChat> alive(chat);
    log.AppendChatLine("kept");
    chat->show();
    QVERIFY(chat->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!alive.isNull());
    QVERIFY(!chat->isVisible());
    QCOMPARE(chat->txtChat()->toPlainText(), QString("kept\n"));
    // Lines that arrive while it is closed show when it opens again.
    log.AppendChatLine("later");
    chat->show();
    QCOMPARE(chat->txtChat()->toPlainText(), QString("kept\nlater\n"));
    QTest::mouseClick(chat->hideButton(), Qt::LeftButton);
    QVERIFY(!chat->isVisible());
    QCOMPARE(chat->hideButton()->text(), QString("_Hide"));
    chat->GoodBye();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive.isNull());
    log.AppendChatLine("after the end"); // no window left to show it, and no crash
}

void TestWindows::chatLayoutFollowsTheWindowSize() {
    net::ChatLog model;
    shell::FrmChat chat(model, {}, {});
    chat.resize(shell::Twips::toPixels(&chat, 9000), shell::Twips::toPixels(&chat, 6000));
    chat.show();
    QCoreApplication::processEvents();
    const QRect log = chat.txtChat()->geometry();
    const QRect input = chat.txtSend()->geometry();
    const QRect hide = chat.hideButton()->geometry();
    auto px = [&](double t) { return shell::Twips::toPixels(&chat, t); };
    // The rule measures the window from outside, frame included.
    const QSize outer = chat.frameGeometry().size();
    QVERIFY(outer.width() > chat.width() && outer.height() > chat.height());
    QVERIFY(std::abs(log.width() - (outer.width() - px(3 * 120))) <= 1);
    QVERIFY(std::abs(log.height() - (outer.height() - px(3 * 600))) <= 1);
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

    // The lists reach 500 twips above the bottom of the window, frame included.
    list.resize(list.width(), shell::Twips::toPixels(&list, 6000));
    list.show();
    QCoreApplication::processEvents();
    const int frame = list.frameGeometry().height() - list.height();
    QVERIFY(frame > 0);
    const int expected = shell::Twips::toPixels(&list, 6000 - 720 - 500) + frame;
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

    // Colours from the network, a new one each time: the cache stays bounded, and a gem
    // drawn all along stays in it.
    const qint64 red = painter.gem(common::ShapeNormal, common::GemRed, 33, 1.0).cacheKey();
    for (std::int32_t colour = 1; colour <= 3 * shell::GemPainter::Capacity; ++colour) {
        painter.gem(common::ShapeCrash, colour << 4, 33, 1.0);
        QCOMPARE(painter.gem(common::ShapeNormal, common::GemRed, 33, 1.0).cacheKey(), red);
    }
    QCOMPARE(painter.cachedCount(), shell::GemPainter::Capacity);
}

void TestWindows::okBoxesDoNotBlockAndPromptsAreRealDialogs() {
    QWidget owner;
    owner.show();
    shell::QtDialogs dialogs;
    dialogs.setParent(&owner);
    // An OK-only box returns at once and leaves every window usable.
    dialogs.showMessage("Please, wait for more Players.");
    QMessageBox* box = owner.findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QCOMPARE(box->text(), QString("Please, wait for more Players."));
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QVERIFY(!QApplication::activeModalWidget());
    QPointer<QMessageBox> gone(box);
    box->button(QMessageBox::Ok)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(gone.isNull());

    // Prompts are real input dialogs: answered, and cancelled (the empty text).
    auto answerNext = [](bool accept) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, poll, [poll, accept] {
            auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!input)
                return;
            poll->stop();
            poll->deleteLater();
            QCOMPARE(input->labelText(), QString("Please enter a hostname/IP address"));
            QCOMPARE(input->windowTitle(), QString("Hostname required"));
            input->setTextValue("10.1.2.3");
            accept ? input->accept() : input->reject();
        });
        poll->start(10);
    };
    answerNext(true);
    QCOMPARE(
        dialogs.promptText("Please enter a hostname/IP address", "Hostname required", "127.0.0.1"),
        QString("10.1.2.3"));
    answerNext(false);
    QCOMPARE(
        dialogs.promptText("Please enter a hostname/IP address", "Hostname required", "127.0.0.1"),
        QString());
    int ended = 0;
    dialogs.setOnEnd([&] { ++ended; });
    dialogs.endProgram();
    QCOMPARE(ended, 1);
}

QTEST_MAIN(TestWindows)
#include "tst_shell_windows.moc"
