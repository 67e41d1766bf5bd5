#pragma once

// The real gemvolt-server, headless on a free port, with its output lines.

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

#include <map>
#include <memory>

namespace gemvolt::testing {

inline QString programPath(const QString& name) {
    return qEnvironmentVariable("GEMVOLT_BIN_DIR") + QLatin1Char('/') + name;
}

class ServerProcess {
public:
    ServerProcess() {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
        });
    }
    ~ServerProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }

    /** Start and wait for the port line; 0 when the server did not come up. */
    quint16 start(const QStringList& extra = {}) {
        process.start(programPath(QStringLiteral("gemvolt-server")),
                      QStringList{QStringLiteral("--headless"), QStringLiteral("--port"),
                                  QStringLiteral("0")} +
                          extra);
        if (!process.waitForStarted(5000))
            return 0;
        for (int i = 0; i < 100 && lines.isEmpty(); ++i)
            process.waitForReadyRead(100);
        if (lines.isEmpty())
            return 0;
        return static_cast<quint16>(lines.first().toUInt());
    }

    QStringList linesStartingWith(const QString& prefix) const {
        QStringList out;
        for (const QString& line : lines)
            if (line.startsWith(prefix))
                out << line;
        return out;
    }

    QProcess process;
    QStringList lines;
};

struct BotRun {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QString out;
};

inline void startBot(BotRun& run, quint16 port, const QStringList& extra) {
    run.process->start(programPath(QStringLiteral("gemvolt-bot")),
                       QStringList{QStringLiteral("--port"), QString::number(port),
                                   QStringLiteral("--fast"), QStringLiteral("--stats")} +
                           extra);
}

// "stats received=.. undecodable=.. fights=.. wins=.. losses=.." as numbers.
inline std::map<QString, int> statsOf(const QString& output) {
    std::map<QString, int> values;
    const QRegularExpression line(QStringLiteral("^stats (.*)$"),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(output);
    if (!m.hasMatch())
        return values;
    for (const QString& pair : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        values[pair.section(QLatin1Char('='), 0, 0)] = pair.section(QLatin1Char('='), 1).toInt();
    return values;
}

// The id the server gave a name, from its "joined <id> <name>" lines.
inline QString idOf(const ServerProcess& server, const QString& name) {
    for (const QString& line : server.linesStartingWith(QStringLiteral("joined ")))
        if (line.section(QLatin1Char(' '), 2) == name)
            return line.section(QLatin1Char(' '), 1, 1);
    return {};
}

} // namespace gemvolt::testing
