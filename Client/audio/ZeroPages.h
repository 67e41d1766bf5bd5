#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gemvolt::audio {

/**
 * Gives back to the system the memory pages that a library cleared but never
 * wrote. The sound library clears room for every voice it could ever mix when
 * a device's context is made (some megabytes), though the game plays a few
 * dozen voices at most. A page that holds only zeros reads back the same once
 * released, so nothing the library can see changes; a voice that is used later
 * simply takes its page again.
 *
 * Only a heap block with a mapping of its own, in memory that was not mapped
 * at snapshot(), is touched; it must belong to the code that ran in between on
 * this thread, and no other thread may write to it meanwhile. Does nothing
 * where the system or the C library does not allow telling such blocks apart.
 */
class ZeroPages {
public:
    /**
     * Smallest block looked at: above anything another thread of the client
     * allocates (a network frame is at most 1 MiB), so no block still being
     * filled elsewhere can be taken for one that was only cleared.
     */
    static constexpr std::size_t MinBlockBytes = 4 * 1024 * 1024;

    struct Mapping {
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        friend bool operator==(const Mapping&, const Mapping&) = default;
    };

    /** Whether this build on this system can tell the blocks apart at all. */
    static bool supported();

    /** The process's private anonymous writable mappings right now. */
    static std::vector<Mapping> snapshot();

    /**
     * Releases the all-zero pages of every heap block of at least
     * MinBlockBytes that has a mapping of its own outside every mapping in
     * `before`. Returns the bytes released.
     */
    static std::size_t releaseNewBlocks(const std::vector<Mapping>& before);
};

} // namespace gemvolt::audio
