#include "Client/shell/FrmMain.h"

#include "Client/battle/GameCore.h"
#include "Client/net/HeadlessClient.h"
#include "Client/shell/BoardView.h"
#include "Client/shell/Dialogs.h"
#include "Client/shell/FrmAttack.h"
#include "Client/shell/FrmChat.h"
#include "Client/shell/FrmPlayerList.h"
#include "Client/shell/HelpBrowserHost.h"
#include "Client/shell/KeeperSound.h"
#include "Client/shell/QtSoundDialogs.h"
#include "Client/shell/ServerLauncher.h"
#include "Client/shell/SleepPause.h"
#include "Client/shell/SoundWindowKeeper.h"
#include "Client/shell/Twips.h"
#include "Client/shell/WidgetTicker.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace gemvolt::shell {

namespace {

void setLabel(QLabel* label, const std::string& text) {
    if (label)
        label->setText(QString::fromStdString(text));
}

const char* const PlayAreaStyle = R"(
QLabel { color: #dde4ff; background: transparent; }
QLabel#lblPlyName { color: #ffffff; font-weight: bold; }
QLabel#lblIncoming { color: #ff8a7a; font-weight: bold; }
QLabel#lblIncomingCaption { color: #ff8a7a; }
QLabel[role="caption"] { color: #8f9bd0; }
QLabel#lblTitle { color: #ffd75e; font-weight: bold; }
QGroupBox { color: #aab6ff; border: 1px solid rgba(120, 140, 220, 110); border-radius: 6px;
            margin-top: 0.6em; background: rgba(255, 255, 255, 10); font-weight: bold; }
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }
QGroupBox#frmNxtMatch { background: #0c0e22; border: 2px solid #ffd75e;
                        color: #ffd75e; }
QLabel#lblWinner { color: #ffd75e; font-weight: bold; }
QLabel#lblCountIn { color: #ffffff; font-weight: bold; }
QPushButton#RdyButton { color: #10122a; background: #ffd75e; border-radius: 6px;
                        padding: 4px 18px; font-weight: bold; }
QPushButton#RdyButton:pressed { background: #e0b83c; }
)";

} // namespace

FrmMain::FrmMain(Dialogs& dialogs, board::PausePort* pause, SoundDialogs* soundDialogs,
                 QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_client(std::make_unique<net::HeadlessClient>(
                                                   dialogs, std::make_unique<WidgetTicker>(this))) {
    setObjectName("frmMain");
    setWindowTitle(CaptionCreated);
    buildPlayArea();
    buildMenus();

    if (!pause) {
        m_ownPause = std::make_unique<SleepPause>([this] { m_view->repaint(); });
        pause = m_ownPause.get();
    }
    m_pause = pause;
    if (!soundDialogs) {
        m_ownSoundDialogs = std::make_unique<QtSoundDialogs>();
        soundDialogs = m_ownSoundDialogs.get();
    }
    m_soundKeeper = new SoundWindowKeeper(*soundDialogs, QString(), this);
    m_sound = std::make_unique<KeeperSound>(*m_soundKeeper);
    m_client->setPorts({m_view, m_pause, m_sound.get(), &m_dialogs, this});

    connect(m_client.get(), &net::HeadlessClient::stateChanged, this, &FrmMain::syncFromCore);
    connect(m_client.get(), &net::HeadlessClient::exitFinished, this, &FrmMain::exitFinished);

    // Arrow keys belong to the game wherever the focus is inside this window.
    qApp->installEventFilter(this);
    syncFromCore();
}

FrmMain::~FrmMain() {
    qApp->removeEventFilter(this);
    delete m_frmChat;
    delete m_frmPlayerList;
    delete m_frmAttack;
    m_client.reset();
}

battle::GameCore& FrmMain::core() {
    return m_client->core();
}

FrmChat* FrmMain::frmChat() const {
    return m_frmChat;
}
FrmPlayerList* FrmMain::frmPlayerList() const {
    return m_frmPlayerList;
}
FrmAttack* FrmMain::frmAttack() const {
    return m_frmAttack;
}

// --- building -------------------------------------------------------------------------------

QGroupBox* FrmMain::addFrame(const char* name, const QString& title, int left, int top, int width,
                             int height) {
    auto* frame = new QGroupBox(title, m_view);
    frame->setObjectName(name);
    m_view->place(frame, left, top, width, height);
    return frame;
}

QLabel* FrmMain::addLabel(const char* name, int index, const QString& text, int left, int top,
                          int width, int height, qreal pointSize, Qt::Alignment align) {
    auto* label = new QLabel(text, m_view);
    // Names and figures come from other players: shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(name);
    if (index >= 0)
        label->setProperty("index", index);
    label->setAlignment(align | Qt::AlignVCenter);
    QFont f = label->font();
    f.setPointSizeF(pointSize);
    label->setFont(f);
    m_view->place(label, left, top, width, height);
    return label;
}

void FrmMain::buildPlayArea() {
    m_view = new BoardView(this);
    m_view->setStyleSheet(PlayAreaStyle);
    setCentralWidget(m_view);
    m_view->setBeforeRepaint([this] { syncFromCore(); });

    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment right = Qt::AlignRight;
    const Qt::Alignment centre = Qt::AlignHCenter;

    auto* title = addLabel("lblTitle", -1, "GEMVOLT", 3960, 900, 2265, 480, 15, centre);
    title->setProperty("role", "title");
    addLabel("lblVs", -1, "vs", 3960, 1380, 2265, 360, 10, centre)->setProperty("role", "caption");

    m_lblPlyName[0] = addLabel("lblPlyName", 0, "Player 1", 240, 8160, 2895, 360, 11, centre);
    m_lblPlyName[1] = addLabel("lblPlyName", 1, "Player 2", 7080, 8160, 2895, 360, 11, centre);

    // The pending counter of each board stands at its top, beside "Incoming!!".
    for (int b = 0; b < 2; ++b) {
        const int boardLeft = b == 0 ? 240 : 7080;
        addLabel("lblIncomingCaption", b, "Incoming!!", boardLeft, 240, 1695, 540, 11, right)
            ->setProperty("role", "caption");
        m_lblIncoming[static_cast<std::size_t>(b)] =
            addLabel("lblIncoming", b, "00", boardLeft + 1815, 180, 1080, 600, 16, left);
    }

    // Figures: board 1's value on the left, the caption in the middle, board 2's on the right.
    const int frameLeft = 3300;
    const int frameWidth = 3600;
    const int valueWidth = 1080;
    const int valueLeft[2] = {3420, 5700};
    auto row = [&](std::array<QLabel*, 2>& labels, const char* name, const char* text, int top) {
        addLabel("lblCaption", -1, text, valueLeft[0] + valueWidth, top,
                 valueLeft[1] - valueLeft[0] - valueWidth, 300, 9, centre)
            ->setProperty("role", "caption");
        for (int b = 0; b < 2; ++b)
            labels[static_cast<std::size_t>(b)] = addLabel(
                name, b, "0", valueLeft[b], top, valueWidth, 300, 10, b == 0 ? left : right);
    };

    addFrame("frmCurrent", "Current", frameLeft, 1920, frameWidth, 1380);
    row(m_lblCCombo, "lblCCombo", "Combo", 2220);
    row(m_lblCChain, "lblCChain", "Chain", 2560);
    row(m_lblCScore, "lblCScore", "Score", 2900);

    addFrame("frmBest", "Best", frameLeft, 3420, frameWidth, 1040);
    row(m_lblBCombo, "lblBCombo", "Combo", 3720);
    row(m_lblBChain, "lblBChain", "Chain", 4060);

    // "Highest": a caption, then the value with its holder's name.
    addFrame("frmHigh", "Highest", frameLeft, 4580, frameWidth, 1380);
    auto high = [&](const char* name, const char* text, int top) {
        addLabel("lblCaption", -1, text, 3390, top, 900, 300, 9, left)
            ->setProperty("role", "caption");
        return addLabel(name, -1, "0", 4290, top, 2490, 300, 10, right);
    };
    m_lblHScore = high("lblHScore", "Score:", 4880);
    m_lblHCombo = high("lblHCombo", "Combo:", 5220);
    m_lblHChain = high("lblHChain", "Chain:", 5560);

    buildPanel();
}

void FrmMain::buildPanel() {
    m_frmNxtMatch = new QGroupBox("Game Over", m_view);
    m_frmNxtMatch->setObjectName("frmNxtMatch");
    // An opaque card over the boards: nothing behind it shows through.
    m_frmNxtMatch->setAttribute(Qt::WA_StyledBackground, true);
    m_frmNxtMatch->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(m_frmNxtMatch);
    layout->setContentsMargins(18, 22, 18, 14);
    auto label = [&](const char* name, const char* text, qreal pointSize) {
        auto* l = new QLabel(text, m_frmNxtMatch);
        l->setTextFormat(Qt::PlainText);
        l->setObjectName(name);
        l->setAlignment(Qt::AlignCenter);
        QFont f = l->font();
        f.setPointSizeF(pointSize);
        l->setFont(f);
        return l;
    };
    m_lblWinner = label("lblWinner", "<Player Name> Wins!", 16);
    m_lblNxtMatch = label("lblNxtMatch", "The Next Fight will be: <Player1> Vs <Player2>", 10);
    m_lblP1Ready = label("lblP1Ready", "<Player1> Ready = <Y/N>", 10);
    m_lblP2Ready = label("lblP2Ready", "<Player2> Ready = <Y/N>", 10);
    layout->addWidget(m_lblWinner);
    layout->addWidget(m_lblNxtMatch);
    layout->addWidget(m_lblP1Ready);
    layout->addWidget(m_lblP2Ready);
    auto* countRow = new QHBoxLayout;
    auto* startIn = label("lblStartIn", "Match Will - Start In      -", 10);
    startIn->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lblCountIn = label("lblCountIn", "0", 48);
    m_lblCountIn->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_lblCountIn->setMinimumWidth(m_lblCountIn->fontMetrics().horizontalAdvance("N/A"));
    countRow->addStretch(1);
    countRow->addWidget(startIn);
    countRow->addSpacing(12);
    countRow->addWidget(m_lblCountIn);
    countRow->addStretch(1);
    layout->addLayout(countRow);
    m_RdyButton = new QPushButton("Ready", m_frmNxtMatch);
    m_RdyButton->setObjectName("RdyButton");
    m_RdyButton->setDefault(true);
    layout->addWidget(m_RdyButton, 0, Qt::AlignHCenter);
    connect(m_RdyButton, &QPushButton::clicked, this, [this] {
        m_client->RdyButton_Click();
        syncFromCore();
    });
    m_view->place(m_frmNxtMatch, 1560, 2280, 7095, 4440);
    m_frmNxtMatch->hide();
}

void FrmMain::buildMenus() {
    auto item = [this](QMenu* menu, const char* name, const char* text, auto slot) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenu* file = menuBar()->addMenu("File");
    file->setObjectName("mnuFile");
    item(file, "F_C2S", "Connect To Server", [this] { F_C2S_Click(); });
    item(file, "F_DS", "Disconnect From Server", [this] { F_DS_Click(); });
    item(file, "F_CS", "Create Server", [this] { F_CS_Click(); });
    file->addSeparator();
    m_F_E = item(file, "F_E", "Exit", [this] { F_E_Click(); });

    QMenu* show = menuBar()->addMenu("Show");
    show->setObjectName("mnuShow");
    item(show, "S_AP", "Attack Pattern", [this] { showSecondary(m_frmAttack); });
    item(show, "S_CR", "Chat Room", [this] { showSecondary(m_frmChat); });
    item(show, "S_PL", "Player List", [this] { showSecondary(m_frmPlayerList); });
    item(show, "S_SO", "Sound Options", [this] { m_soundKeeper->show(); });

    QMenu* help = menuBar()->addMenu("Help");
    help->setObjectName("mnuHelp");
    item(help, "H_OH", "Offline Help", [this] { openHelp(HelpItem::H_OH); });
    help->addSeparator();
    QMenu* online = help->addMenu("Online Help");
    online->setObjectName("H_IH");
    online->menuAction()->setObjectName("H_IH");
    item(online, "H_IH_MM", "Main Menu", [this] { openHelp(HelpItem::H_IH_MM); });
    online->addSeparator();
    QMenu* client = online->addMenu("Client Program");
    client->setObjectName("M_IH_CP");
    client->menuAction()->setObjectName("M_IH_CP");
    item(client, "M_IH_CP_CMM", "Client - Main Menu", [this] { openHelp(HelpItem::M_IH_CP_CMM); });
    client->addSeparator();
    item(client, "H_IH_CP_FG", "First Glance", [this] { openHelp(HelpItem::H_IH_CP_FG); });
    item(client, "H_IH_CP_M", "Menu", [this] { openHelp(HelpItem::H_IH_CP_M); });
    item(client, "H_IH_CP_GP", "Game Play", [this] { openHelp(HelpItem::H_IH_CP_GP); });
    item(online, "H_IH_SP", "Server Program", [this] { openHelp(HelpItem::H_IH_SP); });
    item(online, "H_IH_F", "FAQ", [this] { openHelp(HelpItem::H_IH_F); });
    item(online, "H_IH_A", "Acknowledgements", [this] { openHelp(HelpItem::H_IH_A); });
    help->addSeparator();
    item(help, "H_A", "About", [this] { H_A_Click(); });
}

// --- start-up and session -------------------------------------------------------------------

bool FrmMain::startUp() {
    m_appFolder = QCoreApplication::applicationDirPath();

    // Secondary windows, hidden, in this order: chat, player list, attack editor;
    // the sound window follows once the main window is on the screen.
    m_frmChat = new FrmChat(
        m_client->chatLog(), [this](const QString& line) { m_client->SendChat(line); },
        [this] { return m_client->session().LocalPlayerName(); });
    m_frmPlayerList = new FrmPlayerList;
    m_frmAttack = new FrmAttack(core());
    connect(m_frmAttack, &FrmAttack::changed, this, &FrmMain::syncFromCore);
    syncFromCore();

    // 200 twips below the top of the screen, centred across it.
    resize(sizeHint());
    if (QScreen* s = screen()) {
        const QRect area = s->geometry();
        const int frameExtra = frameGeometry().width() - geometry().width();
        move(area.x() + (area.width() - (width() + frameExtra)) / 2,
             area.y() + Twips::toPixels(this, 200));
    }
    show();
    core().ClearGrids();
    QCoreApplication::processEvents();
    // Opening the sound device and starting the music take longer than drawing
    // the window, so the window comes first; the music still starts before the
    // prompts.
    m_soundKeeper->window();
    return connectSession();
}

bool FrmMain::connectSession() {
    // Once the end has begun nothing opens a new prompt.
    if (m_ended)
        return false;
    net::Session& session = m_client->session();
    if (!session.DirectPlayInit()) {
        endProgram();
        return false;
    }
    setWindowTitle(CaptionInitialized);
    if (!session.ConnectToServer()) {
        endProgram();
        return false;
    }
    setWindowTitle(CaptionRunning);
    syncFromCore();
    return true;
}

void FrmMain::endProgram() {
    m_ended = true;
    if (m_endSignalled)
        return;
    m_endSignalled = true;
    emit programEnded();
}

void FrmMain::F_C2S_Click() {
    F_DS_Click();
    connectSession();
}

void FrmMain::F_DS_Click() {
    m_client->DisconnectFromServer();
}

void FrmMain::F_CS_Click() {
    if (!ServerLauncher::start(m_appFolder))
        m_dialogs.showMessage(NoServerText);
}

void FrmMain::H_A_Click() {
    m_dialogs.showMessage(AboutText);
}

void FrmMain::openHelp(HelpItem item) {
    // The browser is made on first use and shows itself with the page.
    if (!m_help)
        m_help = new HelpBrowserHost(HelpAddresses(m_appFolder), this);
    m_help->openItem(item);
}

void FrmMain::showSecondary(QWidget* window) {
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void FrmMain::showChatWindow() {
    showSecondary(m_frmChat);
}

// --- the way out ----------------------------------------------------------------------------

void FrmMain::F_E_Click() {
    m_client->Exit();
    m_F_E->setEnabled(false);
}

void FrmMain::closeEvent(QCloseEvent* event) {
    // The window stays while the exit timer runs; the program ends through it.
    // Once it has ended, a close (the application's own, as it quits) goes through.
    if (m_ended) {
        event->accept();
        return;
    }
    event->ignore();
    m_client->CloseRequested();
}

void FrmMain::exitFinished() {
    // The session is closed. From here on every answer to a dialog is void.
    m_ended = true;
    m_dialogs.programEnding();
    finishExit();
}

void FrmMain::finishExit() {
    // A dialog opened during the exit (a prompt, the sound window's file
    // dialog) runs its own event loop under this tick, with the code that
    // opened it waiting below. Close every dialog without acting and take the
    // windows away only once those loops have returned, so that nothing is
    // destroyed under code that still uses it.
    const bool closedDialogs = closeOpenDialogs();
    if ((closedDialogs || QThread::currentThread()->loopLevel() > 1) &&
        m_exitRetries < MaxExitRetries) {
        ++m_exitRetries;
        QTimer::singleShot(ExitRetryMs, this, &FrmMain::finishExit);
        return;
    }
    if (m_exitRetries >= MaxExitRetries) {
        // Something other than a dialog holds a loop: end anyway; the windows
        // go with the main window.
        endProgram();
        return;
    }
    // The chat, player-list and sound windows go, then the program.
    if (m_frmChat)
        m_frmChat->GoodBye();
    if (m_frmPlayerList)
        m_frmPlayerList->GoodBye();
    m_soundKeeper->GoodBye();
    endProgram();
}

bool FrmMain::closeOpenDialogs() {
    bool closed = false;
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        closed = true;
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible()) {
            dialog->reject();
            closed = true;
        }
    }
    return closed;
}

// --- keys and the core's state --------------------------------------------------------------

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    int code = 0;
    switch (key->key()) {
    case Qt::Key_Left:
        code = board::KeyCodeLeft;
        break;
    case Qt::Key_Up:
        code = board::KeyCodeUp;
        break;
    case Qt::Key_Right:
        code = board::KeyCodeRight;
        break;
    case Qt::Key_Down:
        code = board::KeyCodeDown;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Ready from the keyboard while the next-fight panel shows.
        if (m_frmNxtMatch->isVisible()) {
            m_RdyButton->click();
            return true;
        }
        return false;
    default:
        return false;
    }
    const int shift = (key->modifiers() & Qt::ShiftModifier ? 1 : 0) |
                      (key->modifiers() & Qt::ControlModifier ? 2 : 0) |
                      (key->modifiers() & Qt::AltModifier ? 4 : 0);
    (void)shift; // the game ignores the shift state of its keys
    m_client->KeyDown(code);
    syncFromCore();
    return true;
}

void FrmMain::syncFromCore() {
    const battle::GameCore& core = m_client->core();
    for (int b = 0; b < 2; ++b) {
        const auto i = static_cast<std::size_t>(b);
        setLabel(m_lblPlyName[i], core.lblPlyName(b));
        setLabel(m_lblCScore[i], core.lblCScore(b));
        setLabel(m_lblCChain[i], core.lblCChain(b));
        setLabel(m_lblCCombo[i], core.lblCCombo(b));
        setLabel(m_lblBChain[i], core.lblBChain(b));
        setLabel(m_lblBCombo[i], core.lblBCombo(b));
        setLabel(m_lblIncoming[i], core.lblIncoming(b));
    }
    setLabel(m_lblHScore, core.lblHScore());
    setLabel(m_lblHCombo, core.lblHCombo());
    setLabel(m_lblHChain, core.lblHChain());

    setLabel(m_lblWinner, core.lblWinner());
    setLabel(m_lblNxtMatch, core.lblNxtMatch());
    setLabel(m_lblP1Ready, core.lblP1Ready());
    setLabel(m_lblP2Ready, core.lblP2Ready());
    setLabel(m_lblCountIn, core.lblCountIn());
    if (m_frmNxtMatch->isVisibleTo(m_view) != core.frmNxtMatch()) {
        m_frmNxtMatch->setVisible(core.frmNxtMatch());
        if (core.frmNxtMatch())
            m_frmNxtMatch->raise();
    }
    if (m_frmPlayerList)
        m_frmPlayerList->showTable(core.playerTable().rows());
}

} // namespace gemvolt::shell
