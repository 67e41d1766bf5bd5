#include "Client/shell/AssetFolder.h"

#include <QDir>
#include <QFileInfo>

#ifndef GEMVOLT_DATA_FROM_PROGRAM
#define GEMVOLT_DATA_FROM_PROGRAM "../share/gemvolt"
#endif

namespace gemvolt::shell {

QString AssetFolder::forProgram(const QString& programFolder) {
    // The folder beside the program wins, so a build tree never reads an older
    // installed copy; the data folder only when it really holds the help pages.
    const QDir program(programFolder);
    if (QFileInfo::exists(program.filePath(QStringLiteral("help/Help.htm")))) {
        return programFolder;
    }
    const QString installed = QDir::cleanPath(program.filePath(installedRelative()));
    if (QFileInfo::exists(installed + QStringLiteral("/help/Help.htm"))) {
        return installed;
    }
    return programFolder;
}

QString AssetFolder::installedRelative() {
    return QStringLiteral(GEMVOLT_DATA_FROM_PROGRAM);
}

} // namespace gemvolt::shell
