#pragma once

// The real gemvolt-server, headless on a free port, with its output lines.

#include <QProcess>
#include <QStringList>
#include <QtTest>

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

} // namespace gemvolt::testing
