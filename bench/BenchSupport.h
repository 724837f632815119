#pragma once

// What every benchmark here needs: medians, wall and processor time, the
// process's memory, and a scratch folder with a program store of its own.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/resource.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Two passes of a repeat in turns, a then b on even repeats, b then a on odd
// ones, so that whatever one pass leaves behind (warm caches, dirty pages)
// weighs on both alike.
template <class A, class B>
void InTurns(int repeat, A&& a, B&& b) {
    if (repeat % 2 == 0) {
        a();
        b();
    } else {
        b();
        a();
    }
}

inline double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Processor time of the whole process so far (every thread, user and system):
// on a shared machine it shows what the work costs when wall time cannot.
inline double CpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    const auto sec = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return sec(use.ru_utime) + sec(use.ru_stime);
}

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), -1 when missing.
inline long ProcStatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t len = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, len, field) == 0) return std::strtol(line.c_str() + len + 1, nullptr, 10);
    return -1;
}

// Resets the peak resident size so VmHWM measures from here on.
inline bool ResetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

// A fresh folder under /tmp named after the benchmark; the program started
// in this process keeps its store there and runs offscreen unless told otherwise.
inline std::string ScratchFolder(const std::string& name) {
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    std::string dir = mkdtemp(pattern.data());
    setenv("VELLUMARK_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return dir;
}

}  // namespace bench
