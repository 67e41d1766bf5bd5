#include "Client/audio/AudioDevice.h"

#include "Client/audio/ZeroPages.h"

#include <AL/al.h>
#define AL_ALEXT_PROTOTYPES
#include <AL/alext.h>
#include <AL/efx.h>

#include <cstring>
#include <vector>

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
    // The output limiter works out a gain for every sample frame, which costs
    // more than mixing the music itself. Pans only ever lower a side, so each
    // sound keeps its own level; only a pile of loud effects at once could
    // reach full scale. A user's own setting in the library's configuration
    // still wins.
    std::vector<ALCint> attributes;
    if (alcIsExtensionPresent(device, "ALC_SOFT_output_limiter") == ALC_TRUE) {
        attributes = {ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE};
    }
    // No sound goes through the library's effect units (reverb and the like):
    // without their sends, each of the 256 voices the context sets up front is
    // a few kilobytes smaller.
    attributes.insert(attributes.end(), {ALC_MAX_AUXILIARY_SENDS, 0, 0});
    // The context clears room for 256 voices up front (some 7.7 MB, whatever
    // the settings ask for); the game plays at most 66. Give back the pages
    // that only hold those zeros before any voice plays.
    const auto mappings = ZeroPages::snapshot();
    ALCcontext* context = alcCreateContext(device, attributes.data());
    ZeroPages::releaseNewBlocks(mappings);
    if (context == nullptr) {
        alcCloseDevice(device);
        return nullptr;
    }
    std::shared_ptr<AudioDevice> opened(new AudioDevice(device, context));
    // A device that records to a file keeps running: resting would cut the
    // quiet stretches out of the recording's timeline, and the library's
    // file writer does not survive a pause.
    const bool recordsToFile = name.contains("Wave File Writer");
    opened->m_canPause =
        !recordsToFile && alcIsExtensionPresent(device, "ALC_SOFT_pause_device") == ALC_TRUE;
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

void AudioDevice::pause() {
    if (m_canPause && !m_paused) {
        alcGetError(m_device);
        alcDevicePauseSOFT(m_device);
        m_paused = alcGetError(m_device) == ALC_NO_ERROR;
    }
}

void AudioDevice::resume() {
    if (m_paused) {
        alcDeviceResumeSOFT(m_device);
        alcGetError(m_device);
        m_paused = false;
    }
}

bool AudioDevice::makeCurrent() const {
    if (alcGetCurrentContext() == m_context) {
        return true;
    }
    return alcMakeContextCurrent(m_context) == ALC_TRUE;
}

} // namespace gemvolt::audio
