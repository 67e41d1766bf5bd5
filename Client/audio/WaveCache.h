#pragma once

#include "Client/audio/WaveData.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace gemvolt::audio {

/**
 * Decoded sounds kept per file path and modification time, so an effect that
 * plays at every landing gem is decoded once, while a file edited on disk is
 * read again at its next use. Holds at most a few files; the least recently
 * used one goes first. Long sounds (the music) are decoded at every fetch and
 * not held; the player streams them from their files instead.
 */
class WaveCache {
public:
    /** Decoded sounds with more samples than this (all channels) are not held. */
    static constexpr std::int64_t MaxHeldSamples = 512 * 1024;

    explicit WaveCache(std::size_t capacity = 8);

    /**
     * The decoded sound of the file at path, from the cache when the file's
     * modification time and size are unchanged. Returns nullptr (and forgets
     * the file) when it is missing, unreadable or no wave file.
     */
    std::shared_ptr<const WaveData> fetch(const QString& path);

    /** Whether fetch would answer from the cache, without decoding. */
    bool holds(const QString& path) const;

    /** How many times a file was actually decoded (the cache missed). */
    int decodeCount() const { return m_decodes; }
    /** Number of files held. */
    std::size_t size() const { return m_entries.size(); }
    void clear();

private:
    struct Entry {
        QString path;
        std::int64_t modified = 0;
        std::int64_t bytes = 0;
        std::uint64_t lastUse = 0;
        std::shared_ptr<const WaveData> data;
    };

    std::size_t m_capacity;
    std::uint64_t m_clock = 0;
    int m_decodes = 0;
    std::vector<Entry> m_entries;
};

} // namespace gemvolt::audio
