#pragma once

#include <QObject>
#include <QString>

namespace gemvolt::net {

/**
 * The chat log txtChat as a text model: every line ends with "\r\n". The log
 * never passes MaxChars characters: the oldest lines give way, so the newest
 * line always shows. The chat window shows text() and follows changed().
 */
class ChatLog : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxChars = 30000;

    using QObject::QObject;

    const QString& text() const { return m_text; }

    /** Add a line (the text and "\r\n") at the end; the oldest lines go when the log is full. */
    void AppendChatLine(const QString& line);

    /**
     * Add text exactly as given, with no line end (the exit notice's line
     * feed and words); the same limit applies.
     */
    void appendRaw(const QString& text);

    void clear();

signals:
    void changed();

private:
    void trim();

    QString m_text;
};

} // namespace gemvolt::net
