#pragma once

#include "Client/audio/WaveCache.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

namespace gemvolt::audio {

class AudioDevice;
class Voice;

/**
 * The client's only sound player: the device list, the chosen device and the
 * slot table of loaded sounds. Slot 0 holds the background music; slots 1 to
 * MaxEffectSlots hold one effect each, every effect with a buffer and a pan of
 * its own. Finished effect slots are reused; when every slot is busy the
 * oldest effect is stopped and its slot taken. A sound longer than
 * WaveCache::MaxHeldSamples (the music) plays streamed from its file.
 *
 * Every failure is silent: no device, a missing, unreadable or non-wave file,
 * an empty slot. The operation then simply does nothing (or leaves the slot
 * empty), and the game carries on without that sound.
 *
 * Everything runs on the user-interface thread, which runs an event loop.
 */
class SoundPlayer {
public:
    /** The most effects that play at once. */
    static constexpr int MaxEffectSlots = 32;
    /**
     * How long all must be quiet (no music, no effect) before the device's
     * mixer rests; the next sound wakes it.
     */
    static constexpr int RestAfterMs = 2000;

    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    /**
     * Reads the list of output devices once; returns their descriptions (empty
     * when the machine has no sound). No device is selected afterwards.
     */
    QStringList enumerateDevices();
    QStringList deviceDescriptions() const { return m_devices; }

    /**
     * Chooses the device (index into the list, −1 for none). The choice takes
     * effect at the next load; sounds already playing stay where they are. A
     * device that failed to open is not tried again until the choice changes.
     */
    void selectDevice(int index);
    int selectedDevice() const { return m_selected; }

    /**
     * Loads the wave file into the slot. The table is cut back so the slot is
     * its last one (releasing every slot above it, which is how loading the
     * music cuts off the effects). On failure the slot stays empty. The device
     * is opened again only when the selection changed since it was opened.
     */
    void InitSoundBuffer(const QString& file, int slot);

    /**
     * Plays an effect once, panned by board column (0 left .. 5 right, any
     * other position centred). Does nothing unless the path ends in exactly
     * ".wav". Takes a finished effect slot, a new one, or the oldest effect's.
     */
    void PlaySound(const QString& file, int position);

    /** Releases finished effects and trims empty slots from the end of the table. */
    void CleanUpSndBuffer();

    /**
     * Sets the music's speed from the height of the stack:
     * (1 + row × 5 / 1000) × BgmBaseFrequency, rounded half to even, and makes
     * sure the music plays looping, going on from where it was.
     */
    void SetBGMSpeed(double row);

    /** Stops the music, keeping its position. */
    void stopMusic();
    /** Plays the music looping from where it stands. */
    void playMusicLooping();
    /** Takes the music slot's current frequency as the base for speed changes. */
    void takeBgmBaseFrequency();
    double BgmBaseFrequency() const { return m_bgmBaseFrequency; }

    /** Releases every sound, the device and the device list. */
    void GoodBye();

    /** Pan in hundredths of a decibel for a board column. */
    static int panForPosition(int position);

    // Read-only views of the table, for the window and its checks.
    /** Last index + 1; never below 1, never above MaxEffectSlots + 1. */
    int slotCount() const { return static_cast<int>(m_slots.size()); }
    bool isSlotLoaded(int slot) const;
    bool isSlotPlaying(int slot) const;
    /** The slot's playback frequency in Hz, 0 when empty. */
    int slotFrequency(int slot) const;
    /** Number of effect slots playing right now. */
    int playingEffects() const;
    /** How many times an output device was opened since construction. */
    int devicesOpened() const { return m_devicesOpened; }
    /** How many times opening an output device was tried, successful or not. */
    int deviceOpenAttempts() const { return m_deviceOpenAttempts; }
    /** An output device is open and its mixer runs (it rests once all is quiet, RestAfterMs). */
    bool isMixing() const;

private:
    Voice* voiceAt(int slot) const;
    bool loadInto(const QString& file, int slot);
    std::shared_ptr<AudioDevice> currentDevice();
    int chooseEffectSlot();
    void restSoon();
    void restWhenQuiet();

    QStringList m_devices;
    int m_selected = -1;
    std::shared_ptr<AudioDevice> m_device;
    int m_deviceIndex = -1;
    // Selection that failed to open; not tried again until the selection changes.
    int m_failedIndex = -1;
    int m_devicesOpened = 0;
    int m_deviceOpenAttempts = 0;
    std::vector<std::unique_ptr<Voice>> m_slots;
    WaveCache m_cache;
    double m_bgmBaseFrequency = 0.0;
    std::uint64_t m_starts = 0;
    QTimer m_restTimer;
};

} // namespace gemvolt::audio
