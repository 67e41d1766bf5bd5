#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace gemvolt::net {
class ChatLog;
}

namespace gemvolt::shell {

/**
 * The chat room window: shows the shared chat log and has the input line.
 * Enter sends the local name, ":>" and the input, and empties the input; the
 * own line shows only when the server's copy comes back. Closing the window
 * hides it, so the log survives; GoodBye destroys it on the way out.
 */
class FrmChat : public QWidget {
    Q_OBJECT
public:
    /**
     * log is the chat-log model (it must outlive the window); say receives what
     * the player typed, for the client to turn into its chat line.
     */
    FrmChat(const net::ChatLog& log, std::function<void(const QString&)> say,
            QWidget* parent = nullptr);

    /** Destroy the window for good (the exit sequence). */
    void GoodBye();

    QPlainTextEdit* txtChat() const { return m_txtChat; }
    QLineEdit* txtSend() const { return m_txtSend; }
    QPushButton* hideButton() const { return m_hide; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void sendInputLine();
    void showLog();
    void layoutWidgets();

    const net::ChatLog& m_log;
    std::function<void(const QString&)> m_say;
    QString m_shown;
    QPlainTextEdit* m_txtChat;
    QLineEdit* m_txtSend;
    QPushButton* m_hide;
};

} // namespace gemvolt::shell
