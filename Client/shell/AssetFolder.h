#pragma once

#include <QString>

namespace gemvolt::shell {

/**
 * Where the client finds its sounds and help pages.
 *
 * In the build tree they are copied beside the programs, so the program's own
 * folder holds them. An install puts the programs in one folder (bin/, or
 * /usr/games for the package) and the files they read in a data folder
 * (share/gemvolt, or /usr/share/games/gemvolt), at a fixed place relative to the
 * programs; that folder is used when it holds the help pages.
 */
class AssetFolder {
public:
    /** The folder holding the assets of a program that lives in `programFolder`. */
    static QString forProgram(const QString& programFolder);

    /** The installed data folder relative to the programs' folder, e.g. "../share/gemvolt". */
    static QString installedRelative();
};

} // namespace gemvolt::shell
