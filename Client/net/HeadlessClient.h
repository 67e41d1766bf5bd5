#pragma once

#include "Client/battle/GameCore.h"
#include "Client/board/Ports.h"
#include "Client/net/ChatLog.h"
#include "Client/net/MatchFlow.h"
#include "Client/net/PacketHandlers.h"
#include "Client/net/Session.h"
#include "Client/net/SessionDialogs.h"
#include "Client/net/Ticker.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>

namespace gemvolt::net {

/** The ports of a client's outside world; every one optional except where noted. */
struct ClientPorts {
    board::DrawPort* draw = nullptr;             ///< cell widgets and the repaint
    board::PausePort* pause = nullptr;           ///< the 75 ms animation pause (none: no wait)
    board::SoundPort* sound = nullptr;           ///< effects and music
    board::MessageBoxPort* messageBox = nullptr; ///< OK-only boxes, which must not block
    ChatWindowPort* chatWindow = nullptr;        ///< "show the chat window"
};

/**
 * One whole client without windows: the game core, the session, the packet
 * handlers, the match flow, the chat log and the four timers. The client
 * windows put widgets on it, the computer player puts a brain on it, and
 * tests drive it with a ManualTicker.
 *
 * Everything runs on the thread that made it. The owner keeps the dialogs
 * and every port alive as long as the client.
 */
class HeadlessClient : public QObject, private board::TimerPort {
    Q_OBJECT
public:
    static constexpr int FallGemsInterval = 1000;
    static constexpr int UpdateInterval = 200;
    static constexpr int CountDownInterval = 1000;
    static constexpr int ExitFirstInterval = 100;
    static constexpr int ExitLastInterval = 1000;

    /** ticker null: real QTimers. */
    explicit HeadlessClient(SessionDialogs& dialogs, std::unique_ptr<Ticker> ticker = nullptr,
                            QObject* parent = nullptr);
    ~HeadlessClient() override;

    /** Plug in the outside world; may be called again (ports are replaced whole). */
    void setPorts(const ClientPorts& ports);

    // --- menu commands ---
    /**
     * "Connect To Server": leaves an earlier session first (MsgPlayerLeft,
     * then the connection closes), sets up the session and connects with the
     * prompts. False on a setup error, which the dialogs have shown and after
     * which they were asked to end the program.
     */
    bool ConnectToServer();
    /** "Disconnect From Server": fall and update timers off, MsgPlayerLeft, connection closed. */
    void DisconnectFromServer();
    /**
     * "Exit": fall timer off, MsgPlayerLeft, the exit notice in the chat log,
     * the exit timer, the chat window shown. exitFinished() follows about
     * 1.5 s later, with the session closed.
     */
    void Exit();
    /**
     * The window system closes the main window: like Exit, but the fall timer
     * runs on and the chat window stays as it is. During an exit the running
     * exit timer goes on with its interval, so the end does not move.
     */
    void CloseRequested();

    // --- the player ---
    /** The Ready button. */
    void RdyButton_Click() { m_flow.RdyButton_Click(); }
    /** A key of the game (37 left, 38 rotate, 39 right, 40 down). */
    void KeyDown(int keyCode) { m_core.KeyDown(keyCode); }
    /** A finished chat line (name, ":>", text) as it goes out; nothing when empty. */
    bool SendChat(const QString& line) { return m_handlers.SendChat(line.toStdString()); }
    /**
     * What the player typed into the chat, from the chat window or the computer
     * player: it goes out as the player's chat line, the registered name, ":>"
     * and the text. The one place where a typed line is turned into what is
     * sent, so anything done to typed lines is done alike for both.
     */
    bool Say(const QString& typed);
    /** The pattern editor's Apply: the grid becomes the own pattern and is sent. */
    void cmdApply_Click() { m_core.cmdApply_Click(); }

    // --- parts ---
    battle::GameCore& core() { return m_core; }
    const battle::GameCore& core() const { return m_core; }
    Session& session() { return m_session; }
    PacketHandlers& handlers() { return m_handlers; }
    MatchFlow& matchFlow() { return m_flow; }
    ChatLog& chatLog() { return m_chat; }
    Ticker& ticker() { return *m_ticker; }

    /** Run one tick of a timer as its timer would (what the ticker calls). */
    void tick(ClientTimer timer);

signals:
    /** Something the windows show may have changed (after every message, tick and command). */
    void stateChanged();
    /** The exit timer's last tick: the session is closed, the program may end now. */
    void exitFinished();

private:
    void timerChanged(board::Timer timer, bool enabled) override;
    void beginExit();
    void applyPorts();

    battle::GameCore m_core;
    ChatLog m_chat;
    MatchFlow m_flow;
    PacketHandlers m_handlers;
    Session m_session;
    std::unique_ptr<Ticker> m_ticker;
    ClientPorts m_ports;
    bool m_hasSession = false;
    bool m_exiting = false;
};

} // namespace gemvolt::net
