#include "Client/audio/ZeroPages.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

// Under the address sanitizer the heap is the sanitizer's own, and reading
// past a block's start is what it reports.
#if defined(__linux__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#include <sys/mman.h>
#include <unistd.h>
#define GEMVOLT_ZERO_PAGES 1
#endif

namespace gemvolt::audio {

#ifdef GEMVOLT_ZERO_PAGES

namespace {

bool isZero(const unsigned char* page, std::size_t bytes) {
    const auto* word = reinterpret_cast<const std::uint64_t*>(page);
    const std::size_t words = bytes / sizeof(std::uint64_t);
    for (std::size_t i = 0; i < words; ++i) {
        if (word[i] != 0) {
            return false;
        }
    }
    return true;
}

// The C library serves a large request from a mapping of its own and marks the
// block's size word, just before the memory handed out, with its "mapped" bit
// (2). The system may join that mapping to a neighbouring one, so the block is
// looked for at the start of every mapping that changed. Returns the block's
// length, or 0 when the mapping starts with no such block.
std::size_t ownHeapBlock(std::uintptr_t begin, std::uintptr_t end, std::size_t page) {
    const std::size_t word = reinterpret_cast<const std::size_t*>(begin)[1];
    const std::size_t length = word & ~std::size_t(7);
    if ((word & 7) != 2 || length % page != 0 || length > end - begin) {
        return 0;
    }
    return length;
}

bool overlaps(const std::vector<ZeroPages::Mapping>& mappings, std::uintptr_t begin,
              std::uintptr_t end) {
    return std::any_of(mappings.begin(), mappings.end(),
                       [&](const ZeroPages::Mapping& m) { return m.begin < end && begin < m.end; });
}

void release(std::uintptr_t begin, std::uintptr_t end, std::size_t& released) {
    if (end > begin && madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED) == 0) {
        released += end - begin;
    }
}

// Whole runs of zero pages go back at once; the first page holds the block's header.
void releaseZeroPages(std::uintptr_t begin, std::uintptr_t end, std::size_t page,
                      std::size_t& released) {
    std::uintptr_t run = 0;
    for (std::uintptr_t p = begin + page; p < end; p += page) {
        if (isZero(reinterpret_cast<const unsigned char*>(p), page)) {
            if (run == 0) {
                run = p;
            }
        } else if (run != 0) {
            release(run, p, released);
            run = 0;
        }
    }
    if (run != 0) {
        release(run, end, released);
    }
}

} // namespace

bool ZeroPages::supported() {
    return true;
}

std::vector<ZeroPages::Mapping> ZeroPages::snapshot() {
    std::vector<Mapping> mappings;
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (maps == nullptr) {
        return mappings;
    }
    char line[512];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned long begin = 0;
        unsigned long end = 0;
        char perms[5] = {};
        unsigned long inode = 1;
        char name[2] = {};
        const int fields =
            std::sscanf(line, "%lx-%lx %4s %*s %*s %lu %1s", &begin, &end, perms, &inode, name);
        // Private, writable, backed by no file and without a name such as [stack].
        if (fields == 4 && inode == 0 && std::string_view(perms) == "rw-p") {
            mappings.push_back({begin, end});
        }
    }
    std::fclose(maps);
    return mappings;
}

std::size_t ZeroPages::releaseNewBlocks(const std::vector<Mapping>& before) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t released = 0;
    for (const Mapping& m : snapshot()) {
        if (std::find(before.begin(), before.end(), m) != before.end()) {
            continue;
        }
        // The joined blocks lie one after the other. Only memory that was not
        // mapped before is looked at: any other mapping (a thread's stack, an
        // arena of the heap) is left alone.
        for (std::uintptr_t block = m.begin; block < m.end;) {
            const std::size_t length = ownHeapBlock(block, m.end, page);
            if (length == 0) {
                break;
            }
            if (length >= MinBlockBytes && !overlaps(before, block, block + length)) {
                releaseZeroPages(block, block + length, page, released);
            }
            block += length;
        }
    }
    return released;
}

#else

bool ZeroPages::supported() {
    return false;
}

std::vector<ZeroPages::Mapping> ZeroPages::snapshot() {
    return {};
}

std::size_t ZeroPages::releaseNewBlocks(const std::vector<Mapping>&) {
    return 0;
}

#endif

} // namespace gemvolt::audio
