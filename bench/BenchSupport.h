#pragma once
// What the benchmark programs share.

#include <fstream>
#include <string>

// The process's peak resident memory so far, in KiB (VmHWM).
inline long peakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}
