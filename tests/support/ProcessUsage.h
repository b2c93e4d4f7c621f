#pragma once

// What this process (or a child it watches) holds now, for the tests and benchmarks that count
// leaks over many cycles.

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace mstest {

// Entries of a /proc descriptor folder, "." and ".." left out; -1 when it cannot be read.
inline int descriptorEntries(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return -1;
    int n = 0;
    while (::readdir(d)) ++n;
    ::closedir(d);
    return n - 2;
}

// Descriptors this process holds (the listing's own is not counted).
inline int openDescriptorCount() {
    return descriptorEntries("/proc/self/fd") - 1;
}

// Resident memory in KiB.
inline long residentKiB() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Descriptors another process holds; -1 when it is gone.
inline int openDescriptorCount(pid_t pid) {
    return descriptorEntries("/proc/" + std::to_string(pid) + "/fd");
}

// The number of a line of /proc/PID/status such as "VmRSS:  1234 kB" (KiB) or "Threads:  9";
// -1 when the process or the line is not there.
inline long statusValue(pid_t pid, const char* name) {
    long value = -1;
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char line[256];
        const std::size_t length = std::strlen(name);
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
                value = std::strtol(line + length + 1, nullptr, 10);
                break;
            }
        }
        std::fclose(f);
    }
    return value;
}

}  // namespace mstest
