#pragma once

#include "Client/shell/FrmSFX.h"

#include <QObject>
#include <QPointer>

namespace gemvolt::shell {

class SoundDialogs;

/**
 * Owns the sound window for the main window and gives the game its narrow way
 * to sound: effects, the tidy-up after each landing, the music's speed, the
 * two effect file names and the "Disable BGM" tick.
 *
 * The window is created at the first use (the main window asks for it at
 * start-up, which starts the music). When the user closes it with its close
 * button it is dropped, and the next use of any kind (an effect from the game,
 * Show > Sound Options) creates it again with its defaults. After GoodBye the
 * keeper stays silent: the program is ending.
 */
class SoundWindowKeeper : public QObject {
    Q_OBJECT
public:
    /** `dialogs` must outlive the keeper; an empty `appFolder` means the program's folder. */
    explicit SoundWindowKeeper(SoundDialogs& dialogs, const QString& appFolder = QString(),
                               QObject* parent = nullptr);
    ~SoundWindowKeeper() override;

    /** The sound window, created (hidden, music started) when it does not exist. */
    FrmSFX* window();
    /** Whether the window exists right now. */
    bool exists() const { return !m_window.isNull(); }
    /** Show > Sound Options. */
    void show();
    /** Exit: releases every sound and destroys the window for good. */
    void GoodBye();

    // The calls the game makes.
    void PlaySound(const QString& file, int position);
    void CleanUpSndBuffer();
    void SetBGMSpeed(double row);
    /** The text of txtGC, the gem collision sound. */
    QString collisionFile();
    /** The text of txtGD, the gem destruction sound. */
    QString destructionFile();
    /** Whether checkBGM is ticked. */
    bool bgmDisabled();

signals:
    /** A new sound window was created (the first one, or after a close). */
    void windowCreated(gemvolt::shell::FrmSFX* window);

private:
    void drop();

    SoundDialogs& m_dialogs;
    QString m_appFolder;
    QPointer<FrmSFX> m_window;
    bool m_finished = false;
};

} // namespace gemvolt::shell
