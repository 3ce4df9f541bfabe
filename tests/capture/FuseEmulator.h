// Runs the zelvik-emulator program on a temporary mount point for the length of a test or benchmark.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace zelvik::test {

class FuseEmulator {
public:
    // Why the emulator cannot run here (no /dev/fuse, or the program was not built), or empty.
    static std::string Unavailable(const std::string& program) {
        if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is not available";
        if (program.empty() || ::access(program.c_str(), X_OK) != 0) return "zelvik-emulator was not built";
        return {};
    }

    // Starts `program options... MOUNT` and waits until the camera disk appears (at most 20 s).
    FuseEmulator(const std::string& program, const std::vector<std::string>& options) {
        char pattern[] = "/tmp/zelvik-fuse-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        mount_ = pattern;
        std::vector<std::string> args{program};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(mount_.string());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            if (std::filesystem::exists(mount_ / "dev/sdb")) {
                ready_ = true;
                return;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;  // ended before mounting
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~FuseEmulator() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);  // the program unmounts before it exits
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        if (!mount_.empty()) std::filesystem::remove(mount_, ec);
    }
    FuseEmulator(const FuseEmulator&) = delete;
    FuseEmulator& operator=(const FuseEmulator&) = delete;

    bool Ready() const { return ready_; }
    const std::filesystem::path& Root() const { return mount_; }
    // A fault command for the control file, e.g. "unplug 1".
    bool Control(const std::string& command) {
        std::ofstream control(mount_ / "control");
        control << command << '\n';
        control.flush();
        return static_cast<bool>(control);
    }

private:
    std::filesystem::path mount_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace zelvik::test
