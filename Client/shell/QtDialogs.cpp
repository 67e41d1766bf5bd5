#include "Client/shell/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace gemvolt::shell {

std::optional<std::string> QtDialogs::askText(const std::string& title, const std::string& prompt,
                                              const std::string& defaultText) {
    bool ok = false;
    const QString answer = QInputDialog::getText(m_parent, QString::fromStdString(title),
                                                 QString::fromStdString(prompt), QLineEdit::Normal,
                                                 QString::fromStdString(defaultText), &ok);
    if (!ok)
        return std::nullopt;
    return answer.toStdString();
}

void QtDialogs::showMessage(const std::string& text) {
    // Truly non-modal: open() would make the box window-modal and swallow the
    // arrow keys of a fight; show() returns at once and leaves the window usable.
    auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                                QString::fromStdString(text), QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void QtDialogs::showCritical(const std::string& title, const std::string& text) {
    QMessageBox::critical(m_parent, QString::fromStdString(title), QString::fromStdString(text));
}

} // namespace gemvolt::shell
