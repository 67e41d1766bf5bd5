#include "Client/shell/FrmMain.h"
#include "Client/shell/QtDialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QFile>

#include <memory>

namespace {

/**
 * For the start-up benchmark: writes the wall-clock time (ms since the epoch)
 * of the main window's first paint to the file named by
 * GEMVOLT_FIRST_PAINT_FILE, then removes itself.
 */
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QString file) : m_file(std::move(file)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            QFile out(m_file);
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
            watched->removeEventFilter(this);
        }
        return false;
    }

private:
    QString m_file;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // No display name: the window system would add it to every caption, and
    // the captions are the program's own.
    QApplication::setApplicationName("Gemvolt");
    // The program ends through the exit timer only, never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);

    gemvolt::shell::QtDialogs dialogs([] { QCoreApplication::exit(1); });
    gemvolt::shell::FrmMain frmMain(dialogs);
    dialogs.setParent(&frmMain);
    std::unique_ptr<FirstPaintProbe> probe;
    if (qEnvironmentVariableIsSet("GEMVOLT_FIRST_PAINT_FILE")) {
        probe = std::make_unique<FirstPaintProbe>(qEnvironmentVariable("GEMVOLT_FIRST_PAINT_FILE"));
        frmMain.installEventFilter(probe.get());
    }
    // exit(), not quit(): quitting first asks every window to close, and
    // windows that stay for the exit delay would veto it.
    QObject::connect(
        &frmMain, &gemvolt::shell::FrmMain::programEnded, &app, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    if (!frmMain.startUp())
        return 1;
    return QApplication::exec();
}
