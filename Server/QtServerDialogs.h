#pragma once

#include "Server/ServerDialogs.h"

class QWidget;

namespace gemvolt::server {

/** The server's dialogs as Qt shows them, over a parent window. */
class QtServerDialogs : public ServerDialogs {
public:
    /** `parent` may be set later, once the window exists. */
    explicit QtServerDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    std::optional<QString> askText(const QString& title, const QString& prompt,
                                   const QString& defaultText) override;
    void showCritical(const QString& title, const QString& text) override;

private:
    QWidget* m_parent = nullptr;
};

} // namespace gemvolt::server
