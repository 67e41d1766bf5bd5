#include "Server/QtServerDialogs.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace gemvolt::server {

std::optional<QString> QtServerDialogs::askText(const QString& title, const QString& prompt,
                                                const QString& defaultText) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return answer;
}

void QtServerDialogs::showCritical(const QString& title, const QString& text) {
    // Not modal: the window and the session go on while the box is open.
    auto* box = new QMessageBox(QMessageBox::Critical, title, text, QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

} // namespace gemvolt::server
