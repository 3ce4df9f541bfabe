// What a process holds right now, read from /proc/self: threads, open descriptors and resident memory.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace zelvik::test {

// Threads of this process.
inline int ThreadsNow() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

// Open descriptors, not counting pipes: the sanitizers start their symbolizer through pipes whenever they
// first need it, and the library itself never makes one.
inline int DescriptorsNow() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && std::strncmp(target, "pipe:", 5) == 0) continue;
            ++n;
        }
        ::closedir(d);
    }
    return n - 1;  // the directory's own descriptor
}

// Resident memory in MiB.
inline double ResidentMb() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

}  // namespace zelvik::test
