#pragma once

#include "Server/ServerCore.h"
#include "Server/ServerObserver.h"
#include "Server/SessionPort.h"

#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace gemvolt::server {

class ServerDialogs;

/**
 * The session server's window: the fight queue in four parallel lists, the
 * kick button, the server's address and its running time. Loading it (start())
 * hosts the session; closing it ends the session.
 */
class ServerWindow : public QWidget, private ServerObserver {
    Q_OBJECT
public:
    /** What the window takes from outside; tests replace every part. */
    struct Options {
        /** The port the session listens on (0 picks a free one). */
        quint16 port = 4000;
        /** The clock the uptime is measured with; the system clock when empty. */
        std::function<QDateTime()> clock;
        /** The server's address as ";"-separated parts; the session's when empty. */
        std::function<QString()> address;
    };

    explicit ServerWindow(ServerDialogs& dialogs, Options options, QWidget* parent = nullptr);
    ~ServerWindow() override;

    /**
     * Shows the window, asks for the player limit and hosts the session, then
     * starts the uptime and shows the address. A failure is shown in the
     * "InitServer" error box and the caption says the server is not hosting.
     */
    void start();

    ServerCore& core() { return m_core; }
    SessionPort& sessionPort() { return m_port; }

public slots:
    /** Shows the time since the start as "Uptime: hh:mm:ss", wrapping after 24 hours. */
    void updateUptime();
    /** Shows the second ";"-separated part of the address, or the error text. */
    void refreshAddress();
    /** Removes the player of the selected row and closes its connection. */
    void kickSelected();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void standingsChanged() override;
    void selectRow(int row);
    QDateTime now() const;

    SessionPort m_port;
    ServerCore m_core{m_port};
    ServerDialogs& m_dialogs;
    Options m_options;
    QDateTime m_startTime;
    bool m_selecting = false;

    QGroupBox* m_frame = nullptr;
    QListWidget* PlayerIndex = nullptr;
    QListWidget* PlayerName = nullptr;
    QListWidget* PlayerWins = nullptr;
    QListWidget* PlayerLosses = nullptr;
    QPushButton* cmdKick = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QLabel* lblUptime = nullptr;
    QTimer* tmrUptime = nullptr;
};

} // namespace gemvolt::server
