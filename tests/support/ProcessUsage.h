#pragma once

// What this process holds now, for the tests and benchmarks that count leaks over many cycles.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

namespace mstest {

// Descriptors this process holds (the listing's own is not counted).
inline int openDescriptorCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n - 3;  // ".", ".." and the listing's own descriptor
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

}  // namespace mstest
