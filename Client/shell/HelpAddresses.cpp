#include "Client/shell/HelpAddresses.h"

#include "Client/shell/AssetFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace gemvolt::shell {

HelpAddresses::HelpAddresses() : HelpAddresses(QCoreApplication::applicationDirPath()) {}

HelpAddresses::HelpAddresses(QString appFolder)
    // Addresses must not depend on the folder the program was started from.
    : m_appFolder(QDir(AssetFolder::forProgram(appFolder)).absolutePath()) {}

QString HelpAddresses::helpFolder() const {
    return m_appFolder + QStringLiteral("/help");
}

QString HelpAddresses::baseAddress() const {
    return QUrl::fromLocalFile(helpFolder() + QLatin1Char('/')).toString(QUrl::FullyEncoded);
}

QString HelpAddresses::onlineAddress(const QString& anchor) const {
    return baseAddress() + QStringLiteral("Help.htm") + anchor;
}

QString HelpAddresses::offlineAddress() const {
    return m_appFolder + QDir::separator() + QStringLiteral("HELP ME.doc");
}

QString HelpAddresses::searchAddress(const QString& word) {
    return QString::fromLatin1(SearchScheme) + QLatin1Char(':') + word;
}

QString HelpAddresses::anchorOf(HelpItem item) {
    switch (item) {
    case HelpItem::H_OH:
    case HelpItem::H_IH_MM:
        return QString();
    case HelpItem::M_IH_CP_CMM:
        return QStringLiteral("#CLIENT");
    case HelpItem::H_IH_CP_FG:
        return QStringLiteral("#C_FG");
    case HelpItem::H_IH_CP_M:
        return QStringLiteral("#C_M");
    case HelpItem::H_IH_CP_GP:
        return QStringLiteral("#C_GP");
    case HelpItem::H_IH_SP:
        return QStringLiteral("#SERVER");
    case HelpItem::H_IH_F:
        return QStringLiteral("#FAQ");
    case HelpItem::H_IH_A:
        return QStringLiteral("#ACK");
    }
    return QString();
}

QString HelpAddresses::forItem(HelpItem item) const {
    if (item == HelpItem::H_OH)
        return offlineAddress();
    return onlineAddress(anchorOf(item));
}

} // namespace gemvolt::shell
