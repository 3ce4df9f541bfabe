// Messages to an X11 window arrive as ClientMessage events carrying the message, wParam and lParam.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/Messages.h"
#include "tests/support/PrivateXServer.h"

namespace zelvik::test {
namespace {

TEST(X11MessageTest, PostedMessagesArriveAsClientMessages) {
    PrivateXServer server("64x64x24");
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
