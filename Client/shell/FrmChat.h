#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace gemvolt::shell {

/**
 * The chat room window: the shared chat log and the input line. Enter sends
 * the local name, ":>" and the input, and empties the input; the own line
 * shows only when the server's copy comes back. Closing the window hides it,
 * so the log survives; GoodBye destroys it on the way out.
 */
class FrmChat : public QWidget {
    Q_OBJECT
public:
    /** The log holds at most this many characters; a longer log is emptied. */
    static constexpr int MaxLogChars = 30000;

    /**
     * send composes nothing: it receives the finished chat line; localName
     * gives the name typed at connection time.
     */
    FrmChat(std::function<void(const std::string&)> send, std::function<std::string()> localName,
            QWidget* parent = nullptr);

    /** AppendChatLine: the line and CR LF at the end; past MaxLogChars the log empties. */
    void AppendChatLine(const QString& line);
    /** A plain append to the log's text (the exit notice), not a log line. */
    void appendText(const QString& text);
    /** The log's text exactly as kept, lines ended by CR LF. */
    const QString& logText() const { return m_log; }
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
    void layoutWidgets();

    std::function<void(const std::string&)> m_send;
    std::function<std::string()> m_localName;
    QString m_log;
    QPlainTextEdit* m_txtChat;
    QLineEdit* m_txtSend;
    QPushButton* m_hide;
};

} // namespace gemvolt::shell
