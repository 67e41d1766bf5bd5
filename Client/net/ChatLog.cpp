#include "Client/net/ChatLog.h"

namespace gemvolt::net {

void ChatLog::AppendChatLine(const QString& line) {
    m_text += line;
    m_text += QStringLiteral("\r\n");
    trim();
    emit changed();
}

void ChatLog::appendRaw(const QString& text) {
    m_text += text;
    trim();
    emit changed();
}

void ChatLog::clear() {
    m_text.clear();
    emit changed();
}

void ChatLog::trim() {
    // Drop whole lines from the top until the log fits; a single line longer
    // than the whole log keeps its end, which is what the reader sees last.
    while (m_text.size() > MaxChars) {
        const qsizetype end = m_text.indexOf(QStringLiteral("\r\n"));
        if (end < 0 || end + 2 >= m_text.size()) {
            m_text = m_text.right(MaxChars);
            return;
        }
        m_text.remove(0, end + 2);
    }
}

} // namespace gemvolt::net
