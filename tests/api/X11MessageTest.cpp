// Messages to an X11 window arrive as ClientMessage events carrying the message, wParam and lParam.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/Messages.h"

namespace zelvik::test {
namespace {

// A private X server on display :N for the length of the test.
class PrivateXServer {
public:
    PrivateXServer() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
        // Formatted into a buffer: joining strings here draws a false -Wrestrict from GCC 12 at -O3.
        char name[16];
        std::snprintf(name, sizeof name, ":%d", 90 + static_cast<int>(::getpid() % 500));
        display_ = name;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/usr/bin/Xvfb", "Xvfb", display_.c_str(), "-nolisten", "tcp", "-screen", "0", "64x64x24",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && !connection_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
            if (!xcb_connection_has_error(c)) {
                connection_ = c;
            } else {
                xcb_disconnect(c);
            }
        }
    }
    ~PrivateXServer() {
        if (connection_) xcb_disconnect(connection_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    xcb_connection_t* connection() const { return connection_; }
    const std::string& display() const { return display_; }

private:
    std::string display_;
    pid_t pid_ = -1;
    xcb_connection_t* connection_ = nullptr;
};

TEST(X11MessageTest, PostedMessagesArriveAsClientMessages) {
    PrivateXServer server;
    if (!server.connection()) GTEST_SKIP() << "no Xvfb: X11 message delivery not tested";
    ::setenv("DISPLAY", server.display().c_str(), 1);
    xcb_connection_t* c = server.connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_flush(c);

    // A window that does not exist costs an X error on the library's connection, never the process.
    PostToTarget(0x1FFFFFFF, MSG_CAMERA_ERROR, 0, 4);
    const uintptr_t wParam = uintptr_t{0x12345678} << 16 | 0x9ABC;
    PostToTarget(window, MSG_CAMERA_FRAME, wParam, -13);

    xcb_client_message_event_t received{};
    bool got = false;
    for (int i = 0; i < 200 && !got; ++i) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            if ((e->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
                received = *reinterpret_cast<xcb_client_message_event_t*>(e);
                got = true;
            }
            free(e);
        }
        if (!got) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(received.format, 32);
    EXPECT_EQ(received.window, window);
    const uint32_t* d = received.data.data32;
    EXPECT_EQ(d[0], uint32_t{MSG_CAMERA_FRAME});
    EXPECT_EQ(uint64_t{d[2]} << 32 | d[1], uint64_t{wParam});
    EXPECT_EQ(static_cast<int64_t>(uint64_t{d[4]} << 32 | d[3]), -13);
}

}  // namespace
}  // namespace zelvik::test
