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

private:
    AudioDevice(ALCdevice* device, ALCcontext* context);

    ALCdevice* m_device;
    ALCcontext* m_context;
};

} // namespace gemvolt::audio
