#pragma once

#include "Client/audio/AudioDevice.h"
#include "Client/audio/WaveData.h"

#include <AL/al.h>

#include <array>
#include <cstdint>
#include <memory>

namespace gemvolt::audio {

/**
 * One loaded sound, ready to play with its own pan and frequency: the sound
 * buffer of one slot. It plays through two sources placed hard left and hard
 * right, so the pan is an exact attenuation of the opposite channel in
 * hundredths of a decibel, whatever the library's own panning law. A stereo
 * file feeds its left channel to the left source and its right to the right.
 */
class Voice {
public:
    /** Loads the sound on the device; nullptr when the device refuses it. */
    static std::unique_ptr<Voice> create(std::shared_ptr<AudioDevice> device, const WaveData& wave);
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
    ALint state() const;

    // Declared first so the device outlives the sources and buffers made on it.
    std::shared_ptr<AudioDevice> m_device;
    std::array<ALuint, 2> m_sources{};
    std::array<ALuint, 2> m_buffers{};
    int m_sourceCount = 0;
    int m_bufferCount = 0;
    int m_sampleRate = 0;
    int m_frequency = 0;
};

} // namespace gemvolt::audio
