#pragma once

#include <QString>
#include <QUrl>

namespace gemvolt::shell {

/** The items of the main window's Help menu that open a page, by their widget names. */
enum class HelpItem {
    H_OH,        ///< "Offline Help": the offline document
    H_IH_MM,     ///< "Online Help" > "Main Menu": the contents of the help
    M_IH_CP_CMM, ///< "Client Program" > "Client - Main Menu"
    H_IH_CP_FG,  ///< "Client Program" > "First Glance"
    H_IH_CP_M,   ///< "Client Program" > "Menu"
    H_IH_CP_GP,  ///< "Client Program" > "Game Play"
    H_IH_SP,     ///< "Server Program"
    H_IH_F,      ///< "FAQ"
    H_IH_A,      ///< "Acknowledgements"
};

/**
 * Builds every address the help browser opens, from the folder the client program lives in.
 *
 * The online help base is the folder of help pages installed with the program, as a file:
 * address, so help works without any network. The offline document sits in the same asset
 * folder: the program's own folder, or the installed data folder (see AssetFolder).
 */
class HelpAddresses {
public:
    /** Addresses for the running program: the folder of its executable. */
    HelpAddresses();
    /** Addresses for a program installed in appFolder (tests use a folder of their own). */
    explicit HelpAddresses(QString appFolder);

    /** The folder of the client's assets (see AssetFolder). */
    const QString& appFolder() const { return m_appFolder; }
    /** The folder of the installed help pages, as a local path. */
    QString helpFolder() const;
    /** The online help base address: the help folder as a file: address ending in "/". */
    QString baseAddress() const;
    /** The online help page "Help.htm" followed by anchor ("" or "#NAME"). */
    QString onlineAddress(const QString& anchor = QString()) const;
    /** AppFolder, the path separator and "HELP ME.doc". */
    QString offlineAddress() const;
    /** Where "Home" leads: the contents of the online help. */
    QString homeAddress() const { return onlineAddress(); }
    /** Where "Search" leads: the search page, or the results for word when it is not empty. */
    static QString searchAddress(const QString& word = QString());

    /** The address a Help menu item opens. */
    QString forItem(HelpItem item) const;
    /** The anchor ("#C_FG", or "" for the contents) of an online item; "" for Offline Help. */
    static QString anchorOf(HelpItem item);

    /** The scheme of the generated search pages ("search:combo"). */
    static constexpr const char* SearchScheme = "search";

private:
    QString m_appFolder;
};

} // namespace gemvolt::shell
