#include "Client/audio/Voice.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/alext.h>

#include <algorithm>
#include <cmath>

namespace gemvolt::audio {

namespace {

// Property changes on the two sources must reach the mixer together, or the
// channels drift apart by a mixing period.
class DeferredUpdates {
public:
    DeferredUpdates() { alDeferUpdatesSOFT(); }
    ~DeferredUpdates() { alProcessUpdatesSOFT(); }
    DeferredUpdates(const DeferredUpdates&) = delete;
    DeferredUpdates& operator=(const DeferredUpdates&) = delete;
};

bool uploadMono(ALuint buffer, const std::vector<std::int16_t>& samples, int rate) {
    alBufferData(buffer, AL_FORMAT_MONO16, samples.data(),
                 static_cast<ALsizei>(samples.size() * sizeof(std::int16_t)), rate);
    return alGetError() == AL_NO_ERROR;
}

} // namespace

Voice::Voice(std::shared_ptr<AudioDevice> device) : m_device(std::move(device)) {}

std::unique_ptr<Voice> Voice::create(std::shared_ptr<AudioDevice> device, const WaveData& wave) {
    if (!device || !device->makeCurrent() || wave.frames() <= 0 ||
        wave.frames() * wave.channels() > 0x3fffffff) {
        return nullptr;
    }
    std::unique_ptr<Voice> voice(new Voice(std::move(device)));
    alGetError();

    alGenSources(2, voice->m_sources.data());
    if (alGetError() != AL_NO_ERROR) {
        return nullptr;
    }
    voice->m_sourceCount = 2;
    const int bufferCount = wave.channels() == 2 ? 2 : 1;
    alGenBuffers(bufferCount, voice->m_buffers.data());
    if (alGetError() != AL_NO_ERROR) {
        return nullptr;
    }
    voice->m_bufferCount = bufferCount;

    if (bufferCount == 1) {
        if (!uploadMono(voice->m_buffers[0], wave.samples(), wave.sampleRate())) {
            return nullptr;
        }
        voice->m_buffers[1] = voice->m_buffers[0];
    } else {
        for (int c = 0; c < 2; ++c) {
            if (!uploadMono(voice->m_buffers[static_cast<std::size_t>(c)], wave.channel(c),
                            wave.sampleRate())) {
                return nullptr;
            }
        }
    }

    for (std::size_t i = 0; i < 2; ++i) {
        const ALuint s = voice->m_sources[i];
        alSourcei(s, AL_BUFFER, static_cast<ALint>(voice->m_buffers[i]));
        alSourcei(s, AL_SOURCE_RELATIVE, AL_TRUE);
        alSource3f(s, AL_POSITION, i == 0 ? -1.0f : 1.0f, 0.0f, 0.0f);
        alSourcef(s, AL_ROLLOFF_FACTOR, 0.0f);
        alSourcef(s, AL_GAIN, 1.0f);
        if (voice->m_device->resampler() >= 0) {
            alSourcei(s, AL_SOURCE_RESAMPLER_SOFT, voice->m_device->resampler());
        }
    }
    if (alGetError() != AL_NO_ERROR) {
        return nullptr;
    }
    voice->m_sampleRate = wave.sampleRate();
    voice->m_frequency = wave.sampleRate();
    return voice;
}

Voice::~Voice() {
    if (!m_device || !m_device->makeCurrent()) {
        return;
    }
    if (m_sourceCount > 0) {
        alSourceStopv(m_sourceCount, m_sources.data());
        alDeleteSources(m_sourceCount, m_sources.data());
    }
    if (m_bufferCount > 0) {
        alDeleteBuffers(m_bufferCount, m_buffers.data());
    }
    alGetError();
}

void Voice::setPan(int hundredthsOfDecibel) {
    if (!m_device->makeCurrent()) {
        return;
    }
    const int pan = std::clamp(hundredthsOfDecibel, -10000, 10000);
    const float quiet = static_cast<float>(std::pow(10.0, -std::abs(pan) / 2000.0));
    DeferredUpdates batch;
    alSourcef(m_sources[0], AL_GAIN, pan > 0 ? quiet : 1.0f);
    alSourcef(m_sources[1], AL_GAIN, pan < 0 ? quiet : 1.0f);
}

bool Voice::setFrequency(int hz) {
    if (hz <= 0 || m_sampleRate <= 0 || !m_device->makeCurrent()) {
        return false;
    }
    const float pitch = static_cast<float>(static_cast<double>(hz) / m_sampleRate);
    alGetError();
    {
        DeferredUpdates batch;
        alSourcef(m_sources[0], AL_PITCH, pitch);
        alSourcef(m_sources[1], AL_PITCH, pitch);
    }
    if (alGetError() != AL_NO_ERROR) {
        return false;
    }
    m_frequency = hz;
    return true;
}

void Voice::play(bool looping) {
    if (!m_device->makeCurrent()) {
        return;
    }
    {
        DeferredUpdates batch;
        alSourcei(m_sources[0], AL_LOOPING, looping ? AL_TRUE : AL_FALSE);
        alSourcei(m_sources[1], AL_LOOPING, looping ? AL_TRUE : AL_FALSE);
    }
    if (state() != AL_PLAYING) {
        m_device->resume();
        // Both sources start in the same mixing step, sample-aligned.
        alSourcePlayv(2, m_sources.data());
    }
}

void Voice::stop() {
    if (!m_device->makeCurrent()) {
        return;
    }
    if (state() == AL_PLAYING) {
        alSourcePausev(2, m_sources.data());
    }
}

ALint Voice::state() const {
    if (!m_device->makeCurrent()) {
        return AL_STOPPED;
    }
    ALint value = AL_STOPPED;
    alGetSourcei(m_sources[0], AL_SOURCE_STATE, &value);
    return value;
}

bool Voice::isPlaying() const {
    return state() == AL_PLAYING;
}

bool Voice::isFinished() const {
    const ALint s = state();
    return s == AL_STOPPED || s == AL_INITIAL;
}

} // namespace gemvolt::audio
