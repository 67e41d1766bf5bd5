#include "Client/shell/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace gemvolt::shell {

void QtDialogs::showMessage(const std::string& text) {
    if (m_ending)
        return;
    // Truly non-modal: open() would make the box window-modal and swallow the
    // arrow keys of a fight; show() returns at once and leaves the window usable.
    auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                                QString::fromStdString(text), QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QString QtDialogs::promptText(const QString& message, const QString& title,
                              const QString& defaultAnswer) {
    if (m_ending)
        return {};
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_parent, title, message, QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
}

void QtDialogs::showCriticalError(const QString& title, const QString& text) {
    if (m_ending)
        return;
    QMessageBox::critical(m_parent, title, text);
}

void QtDialogs::endProgram() {
    // During the way out the program already ends, with its own status.
    if (m_onEnd && !m_ending)
        m_onEnd();
}

} // namespace gemvolt::shell
