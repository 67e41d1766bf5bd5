#pragma once

#include "Client/net/SessionDialogs.h"
#include "Client/shell/HelpAddresses.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <memory>
#include <string>

class QAction;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace gemvolt::battle {
class GameCore;
}
namespace gemvolt::net {
class HeadlessClient;
}
namespace gemvolt::board {
class PausePort;
class SoundPort;
} // namespace gemvolt::board

namespace gemvolt::shell {

class BoardView;
class Dialogs;
class FrmAttack;
class FrmChat;
class FrmPlayerList;
class HelpBrowserHost;
class SoundDialogs;
class SoundWindowKeeper;

/**
 * The client's main window: both boards, the figures, the next-fight panel,
 * the menus, the four timers and the secondary windows, over one client (the
 * game core, the session, the packet handlers and the match flow), which it
 * owns with the windows and the timers. The dialogs are given to it and must
 * outlive it.
 *
 * The game runs from the timers and the arrow keys, one event at a time on the
 * user-interface thread. After every event the window brings its labels and
 * panel up to date from the core, and the board view repaints only the cells
 * the core redrew.
 */
class FrmMain : public QMainWindow, public net::ChatWindowPort {
    Q_OBJECT
public:
    /** Main window captions, in the order they appear. */
    static constexpr const char* CaptionCreated = "Gemvolt MultiPlayer";
    static constexpr const char* CaptionInitialized = "Gemvolt Multi-Player - Client [Initialized]";
    static constexpr const char* CaptionRunning = "Gemvolt Multi-Player by Quillmark (06/03/04)";
    static constexpr const char* AboutText = "This Game was made by Quillmark, so blame him...";
    static constexpr const char* NoServerText = "Could not Locate Server Program...";
    static constexpr const char* ExitNotice = "Please Wait While Program Exits";

    /**
     * pause may be null for the real 75 ms sleep with an immediate repaint;
     * tests pass a recorder. soundDialogs may be null for the real file
     * dialog and boxes of the sound window.
     */
    explicit FrmMain(Dialogs& dialogs, board::PausePort* pause = nullptr,
                     SoundDialogs* soundDialogs = nullptr, QWidget* parent = nullptr);
    ~FrmMain() override;

    /**
     * The start-up sequence: AppFolder, the secondary windows (hidden), the
     * window's place, show, ClearGrids, pending events, the sound window
     * (hidden; it starts the music), DirectPlayInit, ConnectToServer, with the
     * captions between. False when the session could
     * not be set up: the program must end at once.
     */
    bool startUp();

    /** The folder of the client program (recorded first at start-up). */
    const QString& AppFolder() const { return m_appFolder; }
    void setAppFolder(const QString& folder) { m_appFolder = folder; }
    /** Whether the exit timer has ended the program. */
    bool ended() const { return m_ended; }

    // Menu actions, by their item names.
    void F_C2S_Click();
    void F_DS_Click();
    void F_CS_Click();
    void F_E_Click();
    void H_A_Click();

    /** Bring every label, the panel and the player list up to date from the core. */
    void syncFromCore();

    // net::ChatWindowPort
    void showChatWindow() override;

    /** The client under the windows. */
    net::HeadlessClient& client() { return *m_client; }
    battle::GameCore& core();

    BoardView* boardView() const { return m_view; }
    FrmChat* frmChat() const;
    FrmPlayerList* frmPlayerList() const;
    FrmAttack* frmAttack() const;
    /** The help browser's host, made by the first Help item (null before). */
    HelpBrowserHost* helpHost() const { return m_help; }
    /** The keeper of the sound window. */
    SoundWindowKeeper* soundKeeper() const { return m_soundKeeper; }

signals:
    /** The exit timer's last tick, or a session set-up failure: the program ends now. */
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildPlayArea();
    void buildPanel();
    bool connectSession();
    void endProgram();
    void openHelp(HelpItem item);
    void showSecondary(QWidget* window);
    void exitFinished();
    void finishExit();
    bool closeOpenDialogs();
    QLabel* addLabel(const char* name, int index, const QString& text, int left, int top, int width,
                     int height, qreal pointSize, Qt::Alignment align);
    QGroupBox* addFrame(const char* name, const QString& title, int left, int top, int width,
                        int height);

    Dialogs& m_dialogs;
    std::unique_ptr<net::HeadlessClient> m_client;
    std::unique_ptr<board::PausePort> m_ownPause;
    board::PausePort* m_pause;
    std::unique_ptr<SoundDialogs> m_ownSoundDialogs;
    SoundWindowKeeper* m_soundKeeper = nullptr;
    std::unique_ptr<board::SoundPort> m_sound;
    QString m_appFolder;
    bool m_ended = false;
    bool m_endSignalled = false;
    int m_exitRetries = 0;
    static constexpr int ExitRetryMs = 10;
    static constexpr int MaxExitRetries = 200;

    BoardView* m_view = nullptr;
    std::array<QLabel*, 2> m_lblPlyName{};
    std::array<QLabel*, 2> m_lblCScore{};
    std::array<QLabel*, 2> m_lblCChain{};
    std::array<QLabel*, 2> m_lblCCombo{};
    std::array<QLabel*, 2> m_lblBChain{};
    std::array<QLabel*, 2> m_lblBCombo{};
    QLabel* m_lblHScore = nullptr;
    QLabel* m_lblHCombo = nullptr;
    QLabel* m_lblHChain = nullptr;
    std::array<QLabel*, 2> m_lblIncoming{};

    QGroupBox* m_frmNxtMatch = nullptr;
    QLabel* m_lblWinner = nullptr;
    QLabel* m_lblNxtMatch = nullptr;
    QLabel* m_lblP1Ready = nullptr;
    QLabel* m_lblP2Ready = nullptr;
    QLabel* m_lblCountIn = nullptr;
    QPushButton* m_RdyButton = nullptr;

    QAction* m_F_E = nullptr;

    QPointer<FrmChat> m_frmChat;
    QPointer<FrmPlayerList> m_frmPlayerList;
    QPointer<FrmAttack> m_frmAttack;
    HelpBrowserHost* m_help = nullptr;
};

} // namespace gemvolt::shell
