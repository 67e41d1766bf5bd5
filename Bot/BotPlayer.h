#pragma once

#include "Bot/BotBrain.h"
#include "Bot/BotOptions.h"
#include "Client/board/PausePort.h"
#include "Client/net/HeadlessClient.h"
#include "Client/net/SessionDialogs.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace gemvolt::bot {

/** What a bot has seen and done, for --stats and the tests. */
struct BotStats {
    int MessagesReceived = 0;
    int MessagesUndecodable = 0;
    int Fights = 0;
    int Wins = 0;
    int Losses = 0;
    int Pairs = 0;
    int Keys = 0;
    /** Connection breaks the session resumed from, and resumes that succeeded. */
    int Interruptions = 0;
    int Resumes = 0;
    /**
     * For each of the latest fights lost (BotBrain::BoardsAtLossKept): a
     * digest of the last board snapshot sent before the game over (the first
     * 12 hex digits of its SHA-1), which whoever watches that fight must have
     * seen last of the board.
     */
    QStringList BoardsAtLoss;
};

/**
 * gemvolt-bot as an object: a headless client on real timers and the real
 * session, answering its own prompts from the options, with a BotBrain at the
 * keys. It designs its attack pattern, joins, greets the room and fights
 * until told to leave or until its number of fights is done.
 */
class BotPlayer : public QObject, private net::SessionDialogs, private board::PausePort {
    Q_OBJECT
public:
    /** The greeting chatted after joining. */
    static QString greeting(Level level);
    /** How BotStats names a board snapshot (the whole message, as sent). */
    static QString boardDigest(const common::Bytes& snapshot);

    explicit BotPlayer(const BotOptions& options, QObject* parent = nullptr);
    ~BotPlayer() override;

    /** Enter the pattern and connect. finished() follows on every way out. */
    void start();
    /** Leave the server as a person does (MsgPlayerLeft, then the connection closes). */
    void leave(int exitCode);

    BotStats stats() const;
    /** Let someone watch the bot's own board being drawn (the bot itself draws nothing). */
    void setDrawPort(board::DrawPort* draw);
    BotBrain& brain() { return *m_brain; }
    net::HeadlessClient& client() { return *m_client; }
    const BotOptions& options() const { return m_options; }

signals:
    /** The bot is done; exitCode 0 for a clean leave, 1 for a lost or failed connection. */
    void finished(int exitCode);
    /** A line for standard error (connection problems). */
    void problem(const QString& text);

private:
    QString promptText(const QString& message, const QString& title,
                       const QString& defaultAnswer) override;
    void showCriticalError(const QString& title, const QString& text) override;
    void endProgram() override;
    void pause(int milliseconds) override;

    void onMessage(const QByteArray& message);
    void finish(int exitCode);

    BotOptions m_options;
    std::unique_ptr<net::HeadlessClient> m_client;
    std::unique_ptr<BotBrain> m_brain;
    QTimer m_pollTimer;
    QElapsedTimer m_clock;
    int m_received = 0;
    int m_undecodable = 0;
    int m_interruptions = 0;
    int m_resumes = 0;
    bool m_done = false;
};

} // namespace gemvolt::bot
