#pragma once

#include "Client/audio/SoundPlayer.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace gemvolt::shell {

class SoundDialogs;

/**
 * The sound window: the user's sound settings and the client's only sound
 * player. Creating it lists the devices, selects the first, starts the
 * background music from the program's folder and turns the three file texts
 * into full paths there. The texts are read at each use, so an edit or a
 * browse takes effect the next time that sound is loaded.
 *
 * Closing it with its own close button releases every sound (as GoodBye does)
 * and emits closedByUser(); its owner then drops it and creates a fresh one at
 * the next use (see SoundWindowKeeper).
 */
class FrmSFX : public QWidget {
    Q_OBJECT
public:
    /**
     * Creates the window hidden and runs its creation steps. `appFolder` is the
     * folder of the program whose default sounds are used (the running program's
     * when empty; see AssetFolder); `dialogs` must outlive the window.
     */
    explicit FrmSFX(SoundDialogs& dialogs, const QString& appFolder = QString(),
                    QWidget* parent = nullptr);
    ~FrmSFX() override;

    /** Plays an effect once, panned by board column (see audio::SoundPlayer). */
    void PlaySound(const QString& file, int position);
    void InitSoundBuffer(const QString& file, int slot);
    void CleanUpSndBuffer();
    void SetBGMSpeed(double row);
    /** Asks for a wave file; returns its path, or `previous` when cancelled. */
    QString Browse(const QString& previous);
    /** Releases every sound, the device and the device list. */
    void GoodBye();

    /** The gem collision sound's file (the text of txtGC). */
    QString collisionFile() const;
    /** The gem destruction sound's file (the text of txtGD). */
    QString destructionFile() const;
    /** The background music's file (the text of txtBGM). */
    QString musicFile() const;
    /** Whether "Disable BGM" is ticked: the music's speed then no longer follows the board. */
    bool bgmDisabled() const;

    QString appFolder() const { return m_appFolder; }
    const audio::SoundPlayer& player() const { return m_player; }

signals:
    /** The user closed the window with its close button; its sound is released. */
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWidgets();
    void runCreationSteps();
    void playMusicButton();
    QString inAppFolder(const QString& name) const;

    SoundDialogs& m_dialogs;
    QString m_appFolder;
    audio::SoundPlayer m_player;
    bool m_released = false;

    QComboBox* cmbDevices = nullptr;
    QLineEdit* txtGC = nullptr;
    QLineEdit* txtGD = nullptr;
    QLineEdit* txtBGM = nullptr;
    QPushButton* cmdGCPlay = nullptr;
    QPushButton* cmdGDPlay = nullptr;
    QPushButton* cmdBGMPlay = nullptr;
    QPushButton* cmdGCclect = nullptr;
    QPushButton* cmdGDclect = nullptr;
    QPushButton* cmdBGMclect = nullptr;
    QCheckBox* checkBGM = nullptr;
    QPushButton* cmdHide = nullptr;
};

} // namespace gemvolt::shell
