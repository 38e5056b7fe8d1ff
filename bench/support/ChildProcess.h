#pragma once

// What the console benchmarks share between the parent that drives a run and
// the console children it starts: wall-clock times both sides compare, the
// fleet's ids, a progress block in a shared file, and the figures read at the
// end.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace velmora::bench {

/// Wall-clock ms: the parent and its children read the same clock.
inline double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

/// Vehicle n's id, the same in every run.
inline std::string idOf(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
    return text;
}

/// A T in the file at path, shared by every process that maps it (made
/// and zeroed when create); null when the file cannot be mapped.
template <typename T>
T* mapShared(const std::string& path, bool create) {
    const int fd = ::open(path.c_str(), O_RDWR | (create ? O_CREAT | O_TRUNC : 0), 0600);
    if (fd < 0 || (create && ::ftruncate(fd, sizeof(T)) != 0)) {
        return nullptr;
    }
    void* memory = ::mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return memory == MAP_FAILED ? nullptr : static_cast<T*>(memory);
}

/// The process's peak resident size in kB (0 when it is gone).
inline long long peakRssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atoll(line.c_str() + 6);
        }
    }
    return 0;
}

/// The 99th percentile of values (0 for none).
inline double p99Of(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(0.99 * static_cast<double>(values.size() - 1))];
}

} // namespace velmora::bench
