#include "bench/support/BenchSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

namespace gemvolt::bench {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void fail(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
    std::exit(1);
}

std::string ownFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string text(path, std::size_t(n));
    return text.substr(0, text.rfind('/'));
}

double ownCpuSeconds() {
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<std::int64_t>& values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(index), values.end());
    return double(values[index]);
}

std::string stampText(std::int64_t sentNs, std::uint32_t sender, std::uint32_t seq) {
    char text[StampSize + 1];
    std::snprintf(text, sizeof text, "#%016" PRIx64 "%08" PRIx32 "%08" PRIx32,
                  static_cast<std::uint64_t>(sentNs), sender, seq);
    return std::string(text, StampSize);
}

bool readStamp(std::string_view text, Stamp& stamp) {
    if (text.size() < StampSize || text[text.size() - StampSize] != '#') {
        return false;
    }
    const std::string digits(text.substr(text.size() - StampSize + 1));
    stamp.sentNs =
        static_cast<std::int64_t>(std::strtoull(digits.substr(0, 16).c_str(), nullptr, 16));
    stamp.sender =
        static_cast<std::uint32_t>(std::strtoul(digits.substr(16, 8).c_str(), nullptr, 16));
    stamp.seq = static_cast<std::uint32_t>(std::strtoul(digits.substr(24, 8).c_str(), nullptr, 16));
    return true;
}

} // namespace gemvolt::bench
