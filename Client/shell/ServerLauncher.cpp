#include "Client/shell/ServerLauncher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace gemvolt::shell {

QString ServerLauncher::programName() {
#ifdef Q_OS_WIN
    return QStringLiteral("gemvolt-server.exe");
#else
    return QStringLiteral("gemvolt-server");
#endif
}

QString ServerLauncher::locate(const QString& appFolder) {
    if (!appFolder.isEmpty()) {
        const QFileInfo beside(QDir(appFolder).filePath(programName()));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(programName());
}

bool ServerLauncher::start(const QString& appFolder) {
    const QString program = locate(appFolder);
    if (program.isEmpty())
        return false;
    return QProcess::startDetached(program, {}, QFileInfo(program).absolutePath());
}

} // namespace gemvolt::shell
