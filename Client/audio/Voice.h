#pragma once

#include "Client/audio/AudioDevice.h"
#include "Client/audio/WaveData.h"

#include <AL/al.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;

namespace gemvolt::audio {

class WaveStream;

/**
 * One loaded sound, ready to play with its own pan and frequency: the sound
 * buffer of one slot. It plays through two sources placed hard left and hard
 * right, so the pan is an exact attenuation of the opposite channel in
 * hundredths of a decibel, whatever the library's own panning law. A stereo
 * file feeds its left channel to the left source and its right to the right.
 *
 * A streamed voice plays from an open file instead: a few blocks of it are
 * queued on both sources and refilled from the event loop as they are played,
 * so a long sound never lies whole in memory. Looping then starts the file
 * over inside the same block, without a gap.
 */
class Voice {
public:
    /** Blocks queued on each source of a streamed voice. */
    static constexpr int StreamBlocks = 3;

    /** Loads the sound on the device; nullptr when the device refuses it. */
    static std::unique_ptr<Voice> create(std::shared_ptr<AudioDevice> device, const WaveData& wave);
    /**
     * Plays the sound from the open file, `blockMs` of it per queued block
     * (the refill comes every half block). nullptr when the device refuses it.
     */
    static std::unique_ptr<Voice> createStreamed(std::shared_ptr<AudioDevice> device,
                                                 std::unique_ptr<WaveStream> stream,
                                                 int blockMs = 2000);
    ~Voice();
    Voice(const Voice&) = delete;
    Voice& operator=(const Voice&) = delete;

    /**
     * Pan in hundredths of a decibel, negative to the left: −1000 leaves the
     * left channel at full level and lowers the right by 10 dB; 0 plays both
     * at full level. Clamped to ±10000.
     */
    void setPan(int hundredthsOfDecibel);

    /** Playback frequency in Hz; changes speed and pitch together. */
    bool setFrequency(int hz);
    int frequency() const { return m_frequency; }
    int sampleRate() const { return m_sampleRate; }

    /** Plays from where it stands (the start, or where it was stopped). */
    void play(bool looping);
    /** Stops and keeps the position, so play goes on from there. */
    void stop();

    bool isPlaying() const;
    /** Played to its end (or never started) rather than stopped midway. */
    bool isFinished() const;

    /** Order in which effects were started, to find the oldest one. */
    std::uint64_t startedAt = 0;

private:
    explicit Voice(std::shared_ptr<AudioDevice> device);
    bool makeSources();
    ALint state() const;
    void refill();
    bool queueBlock(std::size_t pair);

    // Declared first so the device outlives the sources and buffers made on it.
    std::shared_ptr<AudioDevice> m_device;
    std::array<ALuint, 2> m_sources{};
    // Static: one buffer per channel. Streamed: pairs (left, right) of block buffers.
    std::vector<ALuint> m_buffers;
    int m_sourceCount = 0;
    int m_sampleRate = 0;
    int m_frequency = 0;

    // Streaming only.
    std::unique_ptr<WaveStream> m_stream;
    std::unique_ptr<QTimer> m_pump;
    std::int64_t m_blockFrames = 0;
    std::vector<std::size_t> m_freePairs;
    std::vector<std::int16_t> m_block;
    std::array<std::vector<std::int16_t>, 2> m_sides;
    bool m_looping = false;
    bool m_streamEnded = false;
};

} // namespace gemvolt::audio
