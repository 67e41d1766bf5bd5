#include "Client/shell/FrmChat.h"

#include "Client/shell/Twips.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

namespace gemvolt::shell {

namespace {
// Designed geometry in twips.
constexpr int LogLeft = 120;
constexpr int LogTop = 600;
constexpr int HideWidth = 1095;
constexpr int HideHeight = 375;
constexpr int SendHeight = 315;
constexpr int DesignWidth = 7200;
constexpr int DesignHeight = 5400;
} // namespace

FrmChat::FrmChat(std::function<void(const std::string&)> send,
                 std::function<std::string()> localName, QWidget* parent)
    : QWidget(parent, Qt::Window), m_send(std::move(send)), m_localName(std::move(localName)),
      m_txtChat(new QPlainTextEdit(this)), m_txtSend(new QLineEdit(this)),
      m_hide(new QPushButton("_Hide", this)) {
    setObjectName("frmChat");
    setWindowTitle("GMVLT - Chat Room");
    m_txtChat->setObjectName("txtChat");
    m_txtChat->setReadOnly(true);
    m_txtChat->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtSend->setObjectName("txtSend");
    m_hide->setObjectName("cmdHide");
    // The input line comes first in the tab order and has the focus when the window opens.
    setTabOrder(m_txtSend, m_txtChat);
    setTabOrder(m_txtChat, m_hide);
    m_txtChat->setFocusPolicy(Qt::ClickFocus);
    connect(m_txtSend, &QLineEdit::returnPressed, this, &FrmChat::sendInputLine);
    connect(m_hide, &QPushButton::clicked, this, &QWidget::hide);
    resize(Twips::toPixels(this, DesignWidth), Twips::toPixels(this, DesignHeight));
    layoutWidgets();
}

void FrmChat::sendInputLine() {
    const std::string line =
        (m_localName ? m_localName() : std::string()) + ":>" + m_txtSend->text().toStdString();
    if (m_send)
        m_send(line);
    m_txtSend->clear();
}

void FrmChat::AppendChatLine(const QString& line) {
    m_log += line + "\r\n";
    if (m_log.size() > MaxLogChars) {
        m_log.clear();
        m_txtChat->clear();
        return;
    }
    // The widget mirrors the log: the line, then the break that ends it.
    QTextCursor cursor(m_txtChat->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line);
    cursor.insertBlock();
    m_txtChat->verticalScrollBar()->setValue(m_txtChat->verticalScrollBar()->maximum());
}

void FrmChat::appendText(const QString& text) {
    m_log += text;
    // The widget shows the log's line breaks; CR LF and a lone LF both start a new line.
    QString shown = text;
    shown.replace("\r\n", "\n");
    QTextCursor cursor(m_txtChat->document());
    cursor.movePosition(QTextCursor::End);
    const QStringList parts = shown.split('\n');
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(parts[i]);
    }
    m_txtChat->verticalScrollBar()->setValue(m_txtChat->verticalScrollBar()->maximum());
}

void FrmChat::GoodBye() {
    hide();
    deleteLater();
}

void FrmChat::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_txtSend->setFocus();
}

void FrmChat::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutWidgets();
}

void FrmChat::layoutWidgets() {
    const double w = Twips::fromPixels(this, width());
    const double h = Twips::fromPixels(this, height());
    if (w <= 999 || h <= 999)
        return;
    const double logWidth = w - 3 * LogLeft;
    const double logHeight = h - 3 * LogTop;
    if (logWidth <= 0 || logHeight <= 0)
        return;
    m_txtChat->setGeometry(Twips::rect(this, LogLeft, LogTop, logWidth, logHeight));
    m_txtSend->setGeometry(
        Twips::rect(this, LogLeft, LogTop + logHeight + 100, logWidth, SendHeight));
    m_hide->setGeometry(Twips::rect(this, LogLeft + logWidth - HideWidth, LogTop - HideHeight - 60,
                                    HideWidth, HideHeight));
}

} // namespace gemvolt::shell
