#pragma once

#include <QByteArray>
#include <QStringList>

#include <AL/alc.h>

#include <memory>

namespace gemvolt::audio {

/**
 * One opened output device with its own mixing context. Shared by every
 * sound made on it: the device closes when the last of them is released, so
 * a sound started before the user picked another device plays to its end.
 */
class AudioDevice {
public:
    /** The names of the output devices, in the order the system lists them. */
    static QStringList enumerate();

    /** Opens the named device; nullptr when it cannot be opened (no sound). */
    static std::shared_ptr<AudioDevice> open(const QByteArray& name);

    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    /** Makes this device's context the one that sound calls act on. */
    bool makeCurrent() const;

    /**
     * The resampler sounds on this device should use (a windowed-sinc one when
     * the library offers it, so music at a lower sample rate or at a higher
     * speed keeps its top end clean), or −1 for the library's default.
     */
    int resampler() const { return m_resampler; }

    /**
     * Stops the mixer while nothing plays, so a silent device costs no
     * processor time; resume() before the next sound starts. Without the
     * library's pause extension the device simply keeps running.
     */
    void pause();
    void resume();
    bool isPaused() const { return m_paused; }

private:
    AudioDevice(ALCdevice* device, ALCcontext* context);

    ALCdevice* m_device;
    ALCcontext* m_context;
    int m_resampler = -1;
    bool m_canPause = false;
    bool m_paused = false;
};

} // namespace gemvolt::audio
