#include "Client/shell/SoundWindowKeeper.h"

namespace gemvolt::shell {

SoundWindowKeeper::SoundWindowKeeper(SoundDialogs& dialogs, const QString& appFolder,
                                     QObject* parent)
    : QObject(parent), m_dialogs(dialogs), m_appFolder(appFolder) {}

SoundWindowKeeper::~SoundWindowKeeper() {
    delete m_window.data();
}

FrmSFX* SoundWindowKeeper::window() {
    if (m_finished) {
        return nullptr;
    }
    if (m_window.isNull()) {
        m_window = new FrmSFX(m_dialogs, m_appFolder);
        connect(m_window.data(), &FrmSFX::closedByUser, this, &SoundWindowKeeper::drop);
        emit windowCreated(m_window.data());
    }
    return m_window.data();
}

void SoundWindowKeeper::drop() {
    // The window is still inside its own close handling: delete it afterwards.
    if (FrmSFX* w = m_window.data()) {
        m_window.clear();
        w->deleteLater();
    }
}

void SoundWindowKeeper::show() {
    if (FrmSFX* w = window()) {
        w->show();
        w->raise();
    }
}

void SoundWindowKeeper::GoodBye() {
    m_finished = true;
    if (FrmSFX* w = m_window.data()) {
        m_window.clear();
        w->GoodBye();
        delete w;
    }
}

void SoundWindowKeeper::PlaySound(const QString& file, int position) {
    if (FrmSFX* w = window()) {
        w->PlaySound(file, position);
    }
}

void SoundWindowKeeper::CleanUpSndBuffer() {
    if (FrmSFX* w = window()) {
        w->CleanUpSndBuffer();
    }
}

void SoundWindowKeeper::SetBGMSpeed(double row) {
    if (FrmSFX* w = window()) {
        w->SetBGMSpeed(row);
    }
}

QString SoundWindowKeeper::collisionFile() {
    FrmSFX* w = window();
    return w != nullptr ? w->collisionFile() : QString();
}

QString SoundWindowKeeper::destructionFile() {
    FrmSFX* w = window();
    return w != nullptr ? w->destructionFile() : QString();
}

bool SoundWindowKeeper::bgmDisabled() {
    FrmSFX* w = window();
    return w != nullptr && w->bgmDisabled();
}

} // namespace gemvolt::shell
