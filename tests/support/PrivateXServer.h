// A private Xvfb for one test: its own display number (chosen by the server), killed at the end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace zelvik::test {

class PrivateXServer {
public:
    // screen: WIDTHxHEIGHTxDEPTH; extraArguments go to Xvfb as they are (e.g. "-extension", "MIT-SHM").
    explicit PrivateXServer(const std::string& screen = "1024x768x24",
                            const std::vector<std::string>& extraArguments = {}) {
        if (::access(kXvfb, X_OK) != 0) return;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // The server writes its display number to this descriptor once it accepts connections.
            ::dup2(fds[1], 3);
            std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", screen};
            args.insert(args.end(), extraArguments.begin(), extraArguments.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(kXvfb, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        // Read into a plain buffer: building the name from std::strings draws a false -Wrestrict from GCC 12.
        char name[16] = ":";
        size_t length = 1;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (pid_ > 0 && length + 1 < sizeof name && ::poll(&p, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 &&
               c != '\n') {
            name[length++] = c;
        }
        ::close(fds[0]);
        if (length == 1) return;
        name[length] = '\0';
        display_ = name;
        connection_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
        }
    }
    ~PrivateXServer() {
        if (connection_) xcb_disconnect(connection_);
        Kill(SIGTERM);
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // The test's own connection (null when no server could be started).
    xcb_connection_t* connection() const { return connection_; }
    const std::string& display() const { return display_; }
    const xcb_screen_t* screen() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data; }

    // Ends the server (SIGKILL: as if it crashed) and waits for it.
    void Kill(int signal = SIGKILL) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    static constexpr const char* kXvfb = "/usr/bin/Xvfb";
    std::string display_;
    pid_t pid_ = -1;
    xcb_connection_t* connection_ = nullptr;
};

}  // namespace zelvik::test
