#pragma once

#include <QString>

#include <vector>

namespace gemvolt::testing {

/** Writes the sound files the sound tests play. */
class SoundFiles {
public:
    /**
     * A sine tone with 5 ms fades at both ends. `format` is a libsndfile
     * format (RIFF wave, 16-bit PCM by default). Returns false on failure.
     */
    static bool writeTone(const QString& path, double hz, double seconds, int rate = 44100,
                          int channels = 1, double amplitude = 0.5, int format = 0);
    /** A tone that loops seamlessly: a whole number of cycles, no fades. */
    static bool writeLoop(const QString& path, int hz, int cycles, int rate = 44100,
                          double amplitude = 0.5);
    /** Stereo, no fades: a tone of its own on each side, as (hz, amplitude). */
    static bool writeSides(const QString& path, int rate, int frames, double leftHz,
                           double leftAmplitude, double rightHz, double rightAmplitude);
    /** Any bytes, for files that are not sound. */
    static bool writeBytes(const QString& path, const QByteArray& bytes);
};

} // namespace gemvolt::testing
