#include "Client/shell/FrmChat.h"

#include "Client/net/ChatLog.h"
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

QString shownText(const QString& log) {
    QString text = log;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// How many characters at the head of shown have gone from now, the rest of
// shown being where now begins; -1 when now is no such continuation. The log
// drops whole lines from the top, so only line starts are candidates.
qsizetype droppedHead(QStringView shown, QStringView now) {
    for (qsizetype at = 0; at < shown.size();) {
        if (now.startsWith(shown.mid(at)))
            return at;
        at = shown.indexOf(u'\n', at);
        if (at < 0)
            break;
        ++at;
    }
    return -1;
}
} // namespace

FrmChat::FrmChat(const net::ChatLog& log, std::function<void(const QString&)> say, QWidget* parent)
    : QWidget(parent, Qt::Window), m_log(log), m_say(std::move(say)),
      m_txtChat(new QPlainTextEdit(this)), m_txtSend(new QLineEdit(this)),
      m_hide(new QPushButton("_Hide", this)) {
    setObjectName("frmChat");
    setWindowTitle("GMVLT - Chat Room");
    m_txtChat->setObjectName("txtChat");
    m_txtChat->setReadOnly(true);
    // A read-only log has nothing to undo; a history would grow with every line.
    m_txtChat->setUndoRedoEnabled(false);
    m_txtChat->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtChat->setFocusPolicy(Qt::ClickFocus);
    m_txtSend->setObjectName("txtSend");
    m_hide->setObjectName("cmdHide");
    // The input line comes first in the tab order and has the focus when the window opens.
    setTabOrder(m_txtSend, m_hide);
    connect(m_txtSend, &QLineEdit::returnPressed, this, &FrmChat::sendInputLine);
    connect(m_hide, &QPushButton::clicked, this, &QWidget::hide);
    connect(&m_log, &net::ChatLog::changed, this, &FrmChat::showLog);
    resize(Twips::toPixels(this, DesignWidth), Twips::toPixels(this, DesignHeight));
    layoutWidgets();
    showLog();
}

void FrmChat::sendInputLine() {
    if (m_say)
        m_say(m_txtSend->text());
    m_txtSend->clear();
}

void FrmChat::showLog() {
    const QString text = shownText(m_log.text());
    if (text == m_shown)
        return;
    // The usual cases, lines added at the end and, once the log is full, the
    // oldest lines gone from the top: only the difference goes into the
    // document, so a flood of lines costs each line its own length rather
    // than the whole log's.
    const qsizetype dropped = m_shown.isEmpty() ? -1 : droppedHead(m_shown, text);
    if (dropped >= 0) {
        QTextCursor cursor(m_txtChat->document());
        if (dropped > 0) {
            cursor.setPosition(int(dropped), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text.mid(m_shown.size() - dropped));
    } else {
        m_txtChat->setPlainText(text);
    }
    m_shown = text;
    // The newest line is in view.
    m_txtChat->verticalScrollBar()->setValue(m_txtChat->verticalScrollBar()->maximum());
}

void FrmChat::GoodBye() {
    hide();
    disconnect(&m_log, nullptr, this, nullptr);
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
    // The rule measures the window from outside, its frame included.
    const QRect outer = frameGeometry();
    const double w = Twips::fromPixels(this, outer.width());
    const double h = Twips::fromPixels(this, outer.height());
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
