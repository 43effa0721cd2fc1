#pragma once

#include <fstream>

// Helpers shared by the timed drivers.
namespace kxbench {

// The process's resident memory now, in KiB.
inline long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

} // namespace kxbench
