#include "Client/shell/FrmMain.h"
#include "Client/shell/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Gemvolt");
    QApplication::setApplicationDisplayName("Gemvolt");
    // The program ends through the exit timer only, never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);

    gemvolt::shell::QtDialogs dialogs([] { QCoreApplication::exit(1); });
    gemvolt::shell::FrmMain frmMain(dialogs);
    dialogs.setParent(&frmMain);
    QObject::connect(&frmMain, &gemvolt::shell::FrmMain::programEnded, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    if (!frmMain.startUp())
        return 1;
    return QApplication::exec();
}
