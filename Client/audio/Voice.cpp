#include "Client/audio/Voice.h"

#include "Client/audio/WaveStream.h"

#include <QTimer>

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

bool Voice::makeSources() {
    alGetError();
    alGenSources(2, m_sources.data());
    if (alGetError() != AL_NO_ERROR) {
        return false;
    }
    m_sourceCount = 2;
    for (std::size_t i = 0; i < 2; ++i) {
        const ALuint s = m_sources[i];
        alSourcei(s, AL_SOURCE_RELATIVE, AL_TRUE);
        alSource3f(s, AL_POSITION, i == 0 ? -1.0f : 1.0f, 0.0f, 0.0f);
        alSourcef(s, AL_ROLLOFF_FACTOR, 0.0f);
        alSourcef(s, AL_GAIN, 1.0f);
        if (m_device->resampler() >= 0) {
            alSourcei(s, AL_SOURCE_RESAMPLER_SOFT, m_device->resampler());
        }
    }
    return alGetError() == AL_NO_ERROR;
}

std::unique_ptr<Voice> Voice::create(std::shared_ptr<AudioDevice> device, const WaveData& wave) {
    if (!device || !device->makeCurrent() || wave.frames() <= 0 ||
        wave.frames() * wave.channels() > 0x3fffffff) {
        return nullptr;
    }
    std::unique_ptr<Voice> voice(new Voice(std::move(device)));
    if (!voice->makeSources()) {
        return nullptr;
    }
    const int bufferCount = wave.channels() == 2 ? 2 : 1;
    voice->m_buffers.resize(static_cast<std::size_t>(bufferCount));
    alGenBuffers(bufferCount, voice->m_buffers.data());
    if (alGetError() != AL_NO_ERROR) {
        voice->m_buffers.clear();
        return nullptr;
    }

    if (bufferCount == 1) {
        if (!uploadMono(voice->m_buffers[0], wave.samples(), wave.sampleRate())) {
            return nullptr;
        }
    } else {
        for (int c = 0; c < 2; ++c) {
            if (!uploadMono(voice->m_buffers[static_cast<std::size_t>(c)], wave.channel(c),
                            wave.sampleRate())) {
                return nullptr;
            }
        }
    }
    // A mono sound feeds the same buffer to both sources.
    for (std::size_t i = 0; i < 2; ++i) {
        const ALuint buffer = voice->m_buffers[bufferCount == 1 ? 0 : i];
        alSourcei(voice->m_sources[i], AL_BUFFER, static_cast<ALint>(buffer));
    }
    if (alGetError() != AL_NO_ERROR) {
        return nullptr;
    }
    voice->m_sampleRate = wave.sampleRate();
    voice->m_frequency = wave.sampleRate();
    return voice;
}

std::unique_ptr<Voice> Voice::createStreamed(std::shared_ptr<AudioDevice> device,
                                             std::unique_ptr<WaveStream> stream, int blockMs) {
    if (!device || !stream || blockMs <= 0 || !device->makeCurrent()) {
        return nullptr;
    }
    std::unique_ptr<Voice> voice(new Voice(std::move(device)));
    if (!voice->makeSources()) {
        return nullptr;
    }
    voice->m_buffers.resize(2 * StreamBlocks);
    alGenBuffers(2 * StreamBlocks, voice->m_buffers.data());
    if (alGetError() != AL_NO_ERROR) {
        voice->m_buffers.clear();
        return nullptr;
    }
    for (std::size_t pair = StreamBlocks; pair-- > 0;) {
        voice->m_freePairs.push_back(pair);
    }
    voice->m_blockFrames =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(stream->sampleRate()) * blockMs / 1000);
    voice->m_sampleRate = stream->sampleRate();
    voice->m_frequency = stream->sampleRate();
    voice->m_stream = std::move(stream);
    // The refill wakes the user-interface thread only while the voice plays.
    voice->m_pump = std::make_unique<QTimer>();
    voice->m_pump->setInterval(std::max(1, blockMs / 2));
    QObject::connect(voice->m_pump.get(), &QTimer::timeout, [v = voice.get()] { v->refill(); });
    return voice;
}

Voice::~Voice() {
    m_pump.reset();
    if (!m_device || !m_device->makeCurrent()) {
        return;
    }
    if (m_sourceCount > 0) {
        alSourceStopv(m_sourceCount, m_sources.data());
        alDeleteSources(m_sourceCount, m_sources.data());
    }
    if (!m_buffers.empty()) {
        alDeleteBuffers(static_cast<ALsizei>(m_buffers.size()), m_buffers.data());
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
    if (m_stream) {
        // A queue would loop as a whole: the stream loops by starting the file over.
        m_looping = looping;
        const ALint now = state();
        if (m_streamEnded && (looping || now == AL_STOPPED)) {
            // Read to its end: a looping sound goes on from the start, and one
            // played to its end starts over, as a loaded sound would.
            m_streamEnded = !m_stream->rewind();
        }
        if (now == AL_PLAYING) {
            // The speed changes of a fight call this often; restarting the
            // refill's countdown each time would let the queue run dry.
            if (!m_pump->isActive()) {
                m_pump->start();
            }
            return;
        }
        refill();
        if (m_freePairs.size() == StreamBlocks) {
            return; // nothing left to play
        }
        m_device->resume();
        alSourcePlayv(2, m_sources.data());
        m_pump->start();
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
    if (m_pump) {
        m_pump->stop();
    }
    if (!m_device->makeCurrent()) {
        return;
    }
    if (state() == AL_PLAYING) {
        alSourcePausev(2, m_sources.data());
    }
}

void Voice::refill() {
    if (!m_device->makeCurrent()) {
        return;
    }
    // Both sources play in step, so they have used up the same blocks.
    ALint done[2] = {0, 0};
    alGetSourcei(m_sources[0], AL_BUFFERS_PROCESSED, &done[0]);
    alGetSourcei(m_sources[1], AL_BUFFERS_PROCESSED, &done[1]);
    for (ALint i = 0; i < std::min(done[0], done[1]); ++i) {
        ALuint played[2] = {0, 0};
        alSourceUnqueueBuffers(m_sources[0], 1, &played[0]);
        alSourceUnqueueBuffers(m_sources[1], 1, &played[1]);
        const auto at = std::find(m_buffers.begin(), m_buffers.end(), played[0]);
        m_freePairs.push_back(static_cast<std::size_t>(at - m_buffers.begin()) / 2);
    }
    while (!m_freePairs.empty() && !m_streamEnded && queueBlock(m_freePairs.back())) {
        m_freePairs.pop_back();
    }
    if (m_pump->isActive() && state() == AL_STOPPED) {
        if (m_freePairs.size() == StreamBlocks) {
            m_pump->stop(); // played to its end
        } else {
            // The refill came too late and the queue ran dry: go on from here.
            alSourcePlayv(2, m_sources.data());
        }
    }
    alGetError();
}

bool Voice::queueBlock(std::size_t pair) {
    m_block.clear();
    std::int64_t got = 0;
    bool wrapped = false;
    while (got < m_blockFrames) {
        const std::int64_t n = m_stream->read(m_blockFrames - got, m_block);
        got += n;
        if (n > 0) {
            wrapped = false;
            continue;
        }
        // The end of the file: a looping sound goes on from its start in the same block.
        if (!m_looping || wrapped || !m_stream->rewind()) {
            m_streamEnded = true;
            break;
        }
        wrapped = true;
    }
    if (got == 0) {
        return false;
    }
    const ALuint left = m_buffers[2 * pair];
    const ALuint right = m_buffers[2 * pair + 1];
    alGetError();
    bool uploaded = false;
    if (m_stream->channels() == 1) {
        uploaded =
            uploadMono(left, m_block, m_sampleRate) && uploadMono(right, m_block, m_sampleRate);
    } else {
        const std::size_t frames = m_block.size() / 2;
        m_sides[0].resize(frames);
        m_sides[1].resize(frames);
        for (std::size_t f = 0; f < frames; ++f) {
            m_sides[0][f] = m_block[2 * f];
            m_sides[1][f] = m_block[2 * f + 1];
        }
        uploaded = uploadMono(left, m_sides[0], m_sampleRate) &&
                   uploadMono(right, m_sides[1], m_sampleRate);
    }
    if (uploaded) {
        alSourceQueueBuffers(m_sources[0], 1, &left);
        alSourceQueueBuffers(m_sources[1], 1, &right);
        uploaded = alGetError() == AL_NO_ERROR;
    }
    if (!uploaded) {
        m_streamEnded = true; // the device refuses the sound: it ends here
    }
    return uploaded;
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
