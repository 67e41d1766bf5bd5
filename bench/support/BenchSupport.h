#pragma once

// Small helpers every load driver under bench/ needs: the clock, the way out
// on a setup failure, where the programs are, CPU time and percentiles, and
// the stamp measured messages carry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gemvolt::bench {

/** Monotonic time in nanoseconds; send and receipt times of measured messages. */
std::int64_t nowNs();

/** Prints "<program>: why" on stderr and ends the program with status 1. */
[[noreturn]] void fail(const std::string& why);

/** The folder this program runs from, where the server and the bot are built beside it. */
std::string ownFolder();

/** User plus system CPU time of this process so far, in seconds. */
double ownCpuSeconds();

/** The value at fraction (0.5, 0.99) of values, which it partly reorders; 0 when empty. */
double percentile(std::vector<std::int64_t>& values, double fraction);

/** The tail of every measured message: '#', 16 hex digits of the send time, 8 of the
 * sender's index, 8 of its sequence number. */
constexpr std::size_t StampSize = 1 + 16 + 8 + 8;

/** A stamp read back from the end of a received message. */
struct Stamp {
    std::int64_t sentNs = 0;
    std::uint32_t sender = 0;
    std::uint32_t seq = 0;
};

/** The stamp for a message sent at sentNs by sender as its seq-th; StampSize characters. */
std::string stampText(std::int64_t sentNs, std::uint32_t sender, std::uint32_t seq);

/** Reads the stamp at the end of text; false when text does not end in one. */
bool readStamp(std::string_view text, Stamp& stamp);

} // namespace gemvolt::bench
