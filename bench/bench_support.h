#pragma once

#include <QElapsedTimer>

#include <fstream>
#include <string>

#include <sys/resource.h>

// Helpers shared by the timed drivers.
namespace kxbench {

// The time since `t` started, in seconds.
inline double seconds(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

// The process's resident memory now, in KiB.
inline long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

// Peak resident memory since the last resetPeak(), in KiB; -1 when unknown.
inline long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

// Starts a new peak at the present resident size; false where the system cannot.
inline bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

// Processor time of this process in seconds: on a shared machine the wall-clock figures
// depend on what else runs, this one hardly.
inline double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace kxbench
