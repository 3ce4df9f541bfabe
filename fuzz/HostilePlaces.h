// Hostile places to save an image or a recording, shared by the fuzzers that write files: made once
// below a scratch directory, with the names an input picks among them or makes of its own bytes.
#pragma once

#include <dirent.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace zelvik::fuzz {

// A directory, a FIFO nobody reads, links (to the null device, to a directory, dangling), the null
// device's node, names too long, the empty name, and, as root, a link another user planted in a sticky
// world-writable directory pointing at a file that must never change. Nothing here names a disk: every
// target is harmless if written.
struct HostilePlaces {
    static constexpr char kVictimText[] = "not yours";

    std::string dir;
    std::string victim;  // the planted link's target; empty when the link could not be planted
    std::vector<std::string> paths;

    explicit HostilePlaces(std::string scratch) : dir(std::move(scratch)) {
        const std::string folder = dir + "/folder", fifo = dir + "/fifo", shared = dir + "/shared",
                          keep = dir + "/keep";
        ::mkdir(folder.c_str(), 0755);
        ::mkfifo(fifo.c_str(), 0600);
        ::symlink("/dev/null", (dir + "/to-null").c_str());
        ::symlink(folder.c_str(), (dir + "/to-folder").c_str());
        ::symlink((dir + "/nowhere/x").c_str(), (dir + "/dangling").c_str());
        ::mknod((dir + "/null-node").c_str(), S_IFCHR | 0600, makedev(1, 3));
        paths = {dir + "/out.bmp",
                 dir + "/out.avi",
                 folder,
                 folder + "/",
                 dir + "/missing/x.png",
                 fifo,
                 dir + "/to-null",
                 dir + "/to-folder",
                 dir + "/dangling",
                 dir + "/null-node",
                 "/dev/null",
                 dir + "/" + std::string(300, 'n'),
                 dir + "/" + std::string(5000, 'd'),
                 ""};
        ::mkdir(shared.c_str(), 0700);
        ::chmod(shared.c_str(), 01777);
        // In a folder of its own: no name of the input's bytes (no separator) can reach it.
        ::mkdir(keep.c_str(), 0755);
        const std::string target = keep + "/victim", planted = shared + "/planted.avi";
        if (FILE* f = std::fopen(target.c_str(), "w")) {
            std::fputs(kVictimText, f);
            std::fclose(f);
        }
        if (::symlink(target.c_str(), planted.c_str()) == 0 && ::lchown(planted.c_str(), 4343, 4343) == 0) {
            victim = target;
            paths.push_back(planted);
        }
    }

    // One of the places, or a name of the input's own bytes in the scratch directory (never a separator
    // in it, so it cannot leave the directory).
    std::string AnyPath(FuzzedDataProvider& in) const {
        if (in.ConsumeBool()) return paths[in.ConsumeIntegralInRange<size_t>(0, paths.size() - 1)];
        std::string name = in.ConsumeRandomLengthString(400);
        for (char& c : name)
            if (c == '/') c = '_';
        return dir + "/" + name;
    }

    // False when the planted link was followed: its target no longer holds what it held.
    bool VictimIntact() const {
        if (victim.empty()) return true;
        char text[32] = {};
        FILE* f = std::fopen(victim.c_str(), "r");
        if (f == nullptr) return false;
        const size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        return std::string(text, n) == kVictimText;
    }

    // Removes the images and recordings an input wrote (regular files at the top of the scratch
    // directory), so that millions of inputs do not fill the disk; no place above is such a file.
    void RemoveWrittenFiles() const {
        if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                struct stat st {};
                const std::string path = dir + "/" + e->d_name;
                if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
            }
            ::closedir(d);
        }
    }
};

}  // namespace zelvik::fuzz
