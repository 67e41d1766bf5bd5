#include "Client/audio/AudioDevice.h"

#include <AL/al.h>
#define AL_ALEXT_PROTOTYPES
#include <AL/alext.h>

#include <cstring>

namespace gemvolt::audio {

namespace {

// Splits a list of NUL-terminated names that ends with an empty name.
QStringList splitNameList(const ALCchar* list) {
    QStringList names;
    if (list == nullptr) {
        return names;
    }
    while (*list != '\0') {
        const std::size_t length = std::strlen(list);
        names.append(QString::fromUtf8(list, static_cast<qsizetype>(length)));
        list += length + 1;
    }
    return names;
}

} // namespace

QStringList AudioDevice::enumerate() {
    if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATE_ALL_EXT") == ALC_TRUE) {
        return splitNameList(alcGetString(nullptr, ALC_ALL_DEVICES_SPECIFIER));
    }
    if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT") == ALC_TRUE) {
        return splitNameList(alcGetString(nullptr, ALC_DEVICE_SPECIFIER));
    }
    return {};
}

std::shared_ptr<AudioDevice> AudioDevice::open(const QByteArray& name) {
    ALCdevice* device = alcOpenDevice(name.isEmpty() ? nullptr : name.constData());
    if (device == nullptr) {
        return nullptr;
    }
    ALCcontext* context = alcCreateContext(device, nullptr);
    if (context == nullptr) {
        alcCloseDevice(device);
        return nullptr;
    }
    std::shared_ptr<AudioDevice> opened(new AudioDevice(device, context));
    if (opened->makeCurrent() && alIsExtensionPresent("AL_SOFT_source_resampler") == AL_TRUE) {
        // The default linear resampler mirrors images above the source's band;
        // the shortest windowed-sinc one removes them at a modest cost.
        const ALint count = alGetInteger(AL_NUM_RESAMPLERS_SOFT);
        for (ALint i = 0; i < count; ++i) {
            const ALchar* name = alGetStringiSOFT(AL_RESAMPLER_NAME_SOFT, i);
            if (name != nullptr && std::strstr(name, "Sinc") != nullptr) {
                opened->m_resampler = i;
                break;
            }
        }
        alGetError();
    }
    return opened;
}

AudioDevice::AudioDevice(ALCdevice* device, ALCcontext* context)
    : m_device(device), m_context(context) {}

AudioDevice::~AudioDevice() {
    if (alcGetCurrentContext() == m_context) {
        alcMakeContextCurrent(nullptr);
    }
    alcDestroyContext(m_context);
    alcCloseDevice(m_device);
}

bool AudioDevice::makeCurrent() const {
    if (alcGetCurrentContext() == m_context) {
        return true;
    }
    return alcMakeContextCurrent(m_context) == ALC_TRUE;
}

} // namespace gemvolt::audio
