// Runs the zelvik-emulator program as a child process on a temporary mount point, for tests and benchmarks.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

namespace zelvik::test {

// The program is started by the constructor, which waits (bounded) until the first camera's sys/block
// entry is served. Stop() sends SIGTERM and checks that the program exited with status 0 and left
// nothing mounted; the destructor does the same when Stop() was not called and hands any fault to the
// reporter (stderr unless one is given: tests pass one that fails the test). Whatever happens, the
// destructor leaves no process and no mount behind.
class FuseEmulator {
public:
    using Reporter = std::function<void(const std::string&)>;

    // Empty when FUSE can be used here; otherwise why not. Only a missing /dev/fuse counts: a program
    // that is present but does not mount is a failure, not a reason to skip.
    static std::string Unavailable() {
        struct stat info {};
        if (::stat("/dev/fuse", &info) != 0) return std::string("/dev/fuse is absent (") + std::strerror(errno) + ")";
        if (!S_ISCHR(info.st_mode)) return "/dev/fuse is not a character device";
        return std::string();
    }

    // Runs `program options... MOUNTPOINT`.
    FuseEmulator(std::string program, std::vector<std::string> options, Reporter reporter = nullptr)
        : reporter_(std::move(reporter)) {
        if (dir_.path().empty()) {
            error_ = std::string("mkdtemp: ") + std::strerror(errno);
            return;
        }
        mount_ = dir_.path() / "root";
        std::error_code ec;
        std::filesystem::create_directory(mount_, ec);

        std::vector<std::string> args{program};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(mount_.string());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) {
            error_ = std::string("fork: ") + std::strerror(errno);
            return;
        }
        if (pid_ == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        WaitForMount();
    }

    ~FuseEmulator() {
        if (pid_ > 0) {
            const std::string fault = Stop();
            if (!fault.empty()) Report(fault);
        }
        if (!mount_.empty() && Mounted()) ::umount2(mount_.c_str(), MNT_DETACH);
    }
    FuseEmulator(const FuseEmulator&) = delete;
    FuseEmulator& operator=(const FuseEmulator&) = delete;

    bool Ready() const { return ready_; }
    // Why the mount did not come up (empty when Ready()).
    const std::string& Error() const { return error_; }
    // The mount point: the system root that ZELVIK_ROOT names.
    const std::filesystem::path& Root() const { return mount_; }
    std::filesystem::path Path(const std::string& relative) const { return mount_ / relative; }
    // The program's process id while it runs, else -1.
    pid_t Pid() const { return pid_; }

    // True while the mount point appears in this process's mount table.
    bool Mounted() const {
        std::ifstream mountinfo("/proc/self/mountinfo");
        for (std::string line; std::getline(mountinfo, line);) {
            std::istringstream fields(line);
            std::string id, parent, device, root, mountPoint;
            fields >> id >> parent >> device >> root >> mountPoint;
            if (mountPoint == mount_.string()) return true;
        }
        return false;
    }

    // Fault commands for the control file ("unplug 1", "stall 2 1 500", ...), applied in one write.
    // On failure, *error (when given) receives the errno of the write (EINVAL for a rejected command).
    bool Control(const std::string& commands, int* error = nullptr) {
        const std::string text = commands + "\n";
        const int fd = ::open(Path("control").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        int failure = fd < 0 ? errno : 0;
        if (fd >= 0) {
            const ssize_t written = ::write(fd, text.data(), text.size());
            if (written < 0) failure = errno;
            else if (static_cast<size_t>(written) != text.size()) failure = EIO;
            ::close(fd);
        }
        if (error != nullptr) *error = failure;
        return failure == 0;
    }

    // The control file's status text: one line per camera.
    std::string Status() const {
        std::ifstream control(Path("control"));
        return std::string(std::istreambuf_iterator<char>(control), std::istreambuf_iterator<char>());
    }

    // SIGTERM, then waits (bounded) for the program. Empty when it exited with status 0 and nothing is
    // left mounted; otherwise what went wrong (the program is then killed and the mount detached).
    std::string Stop() {
        if (pid_ <= 0) return error_.empty() ? std::string() : "not running: " + error_;
        ::kill(pid_, SIGTERM);
        int status = 0;
        pid_t ended = 0;
        // A bound against hanging only: the program ends every wait at once on SIGTERM.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((ended = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::string fault;
        if (ended != pid_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            fault = "zelvik-emulator did not end after SIGTERM";
        } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fault = "zelvik-emulator ended with wait status " + std::to_string(status);
        }
        pid_ = -1;
        if (Mounted()) {
            ::umount2(mount_.c_str(), MNT_DETACH);
            fault += std::string(fault.empty() ? "" : "; ") + mount_.string() + " was left mounted";
        }
        return fault;
    }

private:
    void WaitForMount() {
        // A bound against hanging only, not a performance check.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        const std::filesystem::path firstDisk = Path("sys/block/sdb");
        while (std::chrono::steady_clock::now() < deadline) {
            struct stat info {};
            if (Mounted() && ::lstat(firstDisk.c_str(), &info) == 0) {
                ready_ = true;
                return;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                error_ = "zelvik-emulator ended before mounting (wait status " + std::to_string(status) + ")";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        error_ = "zelvik-emulator did not mount " + mount_.string() + " within 30 s";
    }

    void Report(const std::string& fault) const {
        if (reporter_) reporter_(fault);
        else std::fprintf(stderr, "FuseEmulator: %s\n", fault.c_str());
    }

    Reporter reporter_;
    TempDir dir_{"zelvik-fuse"};  // removed after the unmount
    std::filesystem::path mount_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string error_;
};

}  // namespace zelvik::test
