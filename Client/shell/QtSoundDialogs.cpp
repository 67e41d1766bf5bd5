#include "Client/shell/QtSoundDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace gemvolt::shell {

QString QtSoundDialogs::openFile(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& startPath) {
    return QFileDialog::getOpenFileName(parent, title, startPath, filter);
}

void QtSoundDialogs::showMessage(QWidget* parent, const QString& text) {
    // The game and the network go on while the box is open.
    auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace gemvolt::shell
