// The preview's X11 windows and drawing, checked from a second client of a private Xvfb.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "imaging/FrameBuffer.h"
#include "imaging/PreviewDraw.h"
#include "platform/X11Display.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/XInspect.h"

namespace zelvik::test {
namespace {

xcb_window_t MakeWindow(xcb_connection_t* c, xcb_window_t parent, int width, int height, bool map) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent ? parent : screen->root, 0, 0,
                      static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    if (map) xcb_map_window(c, w);
    XSync(c);
    return w;
}

// A pattern in which every pixel of a window up to 4096 wide differs from its neighbours.
uint32_t Pattern(int x, int y) { return static_cast<uint32_t>((x * 7 + y * 4099 + 0x102030) & 0xFFFFFF); }

void FillPattern(const ScreenImage& image) {
    for (int y = 0; y < image.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.pixels + static_cast<size_t>(y) * image.stride);
        for (int x = 0; x < image.width; ++x) row[x] = Pattern(x, y);
    }
}

int CountPatternMismatches(const std::vector<uint32_t>& pixels, int width, int height) {
    if (pixels.size() != static_cast<size_t>(width) * height) return -1;
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) wrong += pixels[static_cast<size_t>(y) * width + x] != Pattern(x, y);
    return wrong;
}

class X11DisplayTest : public ::testing::Test {
protected:
    // Starts a server; false (and the test skipped) when Xvfb is not installed.
    bool Start(const std::string& screen = "1024x768x24", const std::vector<std::string>& extra = {},
               X11Display::Options options = {}) {
        display.reset();
        server = std::make_unique<PrivateXServer>(screen, extra);
        c = server->connection();
        if (!c) return false;
        display = X11Display::Open(server->display().c_str(), options);
        return display != nullptr;
    }

    std::unique_ptr<PrivateXServer> server;
    xcb_connection_t* c = nullptr;
    std::unique_ptr<X11Display> display;
};

#define START_OR_SKIP(...)                                                      \
    do {                                                                        \
        if (!Start(__VA_ARGS__)) {                                              \
            if (!c) GTEST_SKIP() << "no Xvfb: X11 preview not tested";          \
            FAIL() << "the library could not open the private display";        \
        }                                                                       \
    } while (0)

TEST_F(X11DisplayTest, ChildWindowSitsInItsParentWithTitleClassAndBlackBackground) {
    START_OR_SKIP();
    const xcb_window_t parent = MakeWindow(c, 0, 800, 600, true);
    auto window = display->CreateChildWindow(parent, 10, 20, 640, 480, "ActiveMovie Window");
    ASSERT_NE(window, nullptr);
    const XPlacement p = XPlacementOf(c, window->Id());
    EXPECT_EQ(p.parent, parent);
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 20);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    EXPECT_TRUE(p.viewable);
    EXPECT_EQ(XStringProperty(c, window->Id(), XCB_ATOM_WM_NAME), "ActiveMovie Window");
    EXPECT_EQ(XStringProperty(c, window->Id(), XAtom(c, "_NET_WM_NAME")), "ActiveMovie Window");
    EXPECT_TRUE(std::regex_match(window->ClassName(), std::regex("VideoRenderer_[0-9a-f]{8}_[0-9a-f]{8}")))
        << window->ClassName();
    EXPECT_EQ(XStringProperty(c, window->Id(), XCB_ATOM_WM_CLASS),
              window->ClassName() + '\0' + window->ClassName() + '\0');
    // Nothing drawn yet: the server shows the black background, whatever the parent shows.
    const auto pixels = XReadWindow(c, window->Id(), 640, 480);
    ASSERT_EQ(pixels.size(), 640u * 480u);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0u), 640 * 480);

    auto second = display->CreateChildWindow(parent, 0, 0, 8, 8, "ActiveMovie Window");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->ClassName(), window->ClassName());

    // Destroying the object takes the window away.
    const xcb_window_t id = window->Id();
    window.reset();
    XSync(c);
    EXPECT_EQ(XPlacementOf(c, id).width, -1);
}

TEST_F(X11DisplayTest, TopLevelWindowIsCentredAndNeverAtNegativeCoordinates) {
    struct Case {
        const char* screen;
        int width, height, x, y;
    } cases[] = {
        {"1024x768x24", 648, 486, 188, 141},   // a quarter of the sensor
        {"1024x768x24", 1023, 767, 0, 0},      // one pixel smaller: the half is rounded toward zero
        {"640x480x24", 2592, 1944, 0, 0},      // larger than the screen: the corner, not (-976, -732)
        {"800x600x24", 100, 700, 350, 0},      // too tall only
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.screen) + " " + std::to_string(k.width) + "x" + std::to_string(k.height));
        START_OR_SKIP(k.screen);
        auto window = display->CreateTopLevelWindow(k.width, k.height, "Active Window");
        ASSERT_NE(window, nullptr);
        const XPlacement p = XPlacementOf(c, window->Id());
        EXPECT_EQ(p.parent, server->screen()->root);
        EXPECT_EQ(p.x, k.x);
        EXPECT_EQ(p.y, k.y);
        EXPECT_EQ(p.width, k.width);
        EXPECT_EQ(p.height, k.height);
        EXPECT_TRUE(p.viewable);
        EXPECT_EQ(XStringProperty(c, window->Id(), XCB_ATOM_WM_NAME), "Active Window");
        // The window manager asks before closing it (a close would otherwise cut the whole connection).
        const std::string protocols = XStringProperty(c, window->Id(), XAtom(c, "WM_PROTOCOLS"));
        const xcb_atom_t deleteWindow = XAtom(c, "WM_DELETE_WINDOW");
        ASSERT_EQ(protocols.size(), 4u);
        EXPECT_EQ(std::memcmp(protocols.data(), &deleteWindow, 4), 0);
    }
}

TEST_F(X11DisplayTest, WindowsAreRefusedWithoutAParentOrAnArea) {
    START_OR_SKIP();
    const xcb_window_t parent = MakeWindow(c, 0, 100, 100, true);
    EXPECT_EQ(display->CreateChildWindow(0x1FFFFFF, 0, 0, 10, 10, "t"), nullptr);  // no such window
    EXPECT_EQ(display->CreateChildWindow(0, 0, 0, 10, 10, "t"), nullptr);
    EXPECT_EQ(display->CreateChildWindow(parent, 0, 0, 0, 10, "t"), nullptr);
    EXPECT_EQ(display->CreateChildWindow(parent, 0, 0, 10, -1, "t"), nullptr);
    EXPECT_EQ(display->CreateTopLevelWindow(0, 486, "t"), nullptr);
    EXPECT_EQ(display->CreateTopLevelWindow(40000, 10, "t"), nullptr);
    // The refusals left the connection working.
    EXPECT_NE(display->CreateChildWindow(parent, 0, 0, 10, 10, "t"), nullptr);
    EXPECT_FALSE(display->Broken());
}

TEST_F(X11DisplayTest, FramesReachTheWindowThroughSharedMemoryOrImageRequests) {
    struct Case {
        const char* name;
        std::string screen;
        std::vector<std::string> serverArguments;
        bool sharedMemoryAllowed;
        bool expectSharedMemory;
        int width, height;
    } cases[] = {
        {"shared memory", "1024x768x24", {}, true, true, 97, 61},
        {"shared memory, whole sensor", "2592x1944x24", {}, true, true, 2592, 1944},
        {"requests by choice", "1024x768x24", {}, false, false, 97, 61},
        {"server without MIT-SHM", "1024x768x24", {"-extension", "MIT-SHM"}, true, false, 97, 61},
        // 20 MB of pixels: more than one request can carry.
        {"requests, whole sensor", "2592x1944x24", {}, false, false, 2592, 1944},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        START_OR_SKIP(k.screen, k.serverArguments, X11Display::Options{k.sharedMemoryAllowed});
        auto window = display->CreateTopLevelWindow(k.width, k.height, "Active Window");
        ASSERT_NE(window, nullptr);
        ScreenImage image;
        ASSERT_EQ(window->BeginFrame(image), ShowResult::kReady);
        EXPECT_EQ(display->UsesSharedMemory(), k.expectSharedMemory);
        ASSERT_EQ(image.width, k.width);
        ASSERT_EQ(image.height, k.height);
        ASSERT_GE(image.stride, static_cast<uint32_t>(k.width) * 4);
        FillPattern(image);
        ASSERT_EQ(window->ShowFrame(), ShowResult::kReady);
        EXPECT_EQ(CountPatternMismatches(XReadWindow(c, window->Id(), k.width, k.height), k.width, k.height), 0);
    }
}

TEST_F(X11DisplayTest, HiddenWindowsAreNotDrawnAndResizedOnesGetNewMemory) {
    START_OR_SKIP();
    const xcb_window_t unmappedParent = MakeWindow(c, 0, 100, 100, false);
    auto inHiddenParent = display->CreateChildWindow(unmappedParent, 0, 0, 50, 50, "ActiveMovie Window");
    ASSERT_NE(inHiddenParent, nullptr);
    ScreenImage image;
    EXPECT_EQ(inHiddenParent->BeginFrame(image), ShowResult::kNotShown);
    EXPECT_EQ(image.pixels, nullptr);

    auto window = display->CreateTopLevelWindow(64, 48, "Active Window");
    ASSERT_NE(window, nullptr);
    xcb_unmap_window(c, window->Id());
    XSync(c);
    EXPECT_EQ(window->BeginFrame(image), ShowResult::kNotShown);
    xcb_map_window(c, window->Id());
    const uint32_t size[] = {50, 40};
    xcb_configure_window(c, window->Id(), XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    XSync(c);
    ASSERT_EQ(window->BeginFrame(image), ShowResult::kReady);
    EXPECT_EQ(image.width, 50);
    EXPECT_EQ(image.height, 40);
    FillPattern(image);
    EXPECT_EQ(window->ShowFrame(), ShowResult::kReady);
    EXPECT_EQ(CountPatternMismatches(XReadWindow(c, window->Id(), 50, 40), 50, 40), 0);
    EXPECT_FALSE(window->Lost());
}

TEST_F(X11DisplayTest, WindowDestroyedElsewhereIsLostForGood) {
    START_OR_SKIP();
    auto byOtherClient = display->CreateTopLevelWindow(64, 48, "Active Window");
    auto byWindowManager = display->CreateTopLevelWindow(64, 48, "Active Window");
    ASSERT_NE(byOtherClient, nullptr);
    ASSERT_NE(byWindowManager, nullptr);
    ScreenImage image;
    ASSERT_EQ(byOtherClient->BeginFrame(image), ShowResult::kReady);

    xcb_destroy_window(c, byOtherClient->Id());
    // A window manager's close button: WM_DELETE_WINDOW sent to the window.
    xcb_client_message_event_t close{};
    close.response_type = XCB_CLIENT_MESSAGE;
    close.format = 32;
    close.window = byWindowManager->Id();
    close.type = XAtom(c, "WM_PROTOCOLS");
    close.data.data32[0] = XAtom(c, "WM_DELETE_WINDOW");
    xcb_send_event(c, 0, close.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&close));
    XSync(c);

    EXPECT_EQ(byOtherClient->ShowFrame(), ShowResult::kLost);  // between BeginFrame and ShowFrame
    for (X11Window* w : {byOtherClient.get(), byWindowManager.get()}) {
        EXPECT_EQ(w->BeginFrame(image), ShowResult::kLost);
        EXPECT_EQ(w->BeginFrame(image), ShowResult::kLost);
        EXPECT_TRUE(w->Lost());
    }
    XSync(c);
    EXPECT_EQ(XPlacementOf(c, byWindowManager->Id()).width, -1);  // the close request destroyed it
    // The connection itself is fine.
    EXPECT_FALSE(display->Broken());
    EXPECT_NE(display->CreateTopLevelWindow(8, 8, "Active Window"), nullptr);
}

TEST_F(X11DisplayTest, ServerThatEndsLeavesEveryWindowLost) {
    START_OR_SKIP();
    auto first = display->CreateTopLevelWindow(64, 48, "Active Window");
    auto second = display->CreateTopLevelWindow(32, 24, "Active Window");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ScreenImage image;
    ASSERT_EQ(first->BeginFrame(image), ShowResult::kReady);
    server->Kill();
    EXPECT_EQ(first->ShowFrame(), ShowResult::kLost);
    EXPECT_EQ(second->BeginFrame(image), ShowResult::kLost);
    EXPECT_EQ(first->BeginFrame(image), ShowResult::kLost);
    EXPECT_TRUE(display->Broken());
    EXPECT_EQ(display->CreateTopLevelWindow(8, 8, "Active Window"), nullptr);
    // Tearing down windows and connection without a server is quiet.
    first.reset();
    second.reset();
    display.reset();
}

TEST(X11DisplayOpenTest, NoDisplayMeansNoConnection) {
    const char* saved = std::getenv("DISPLAY");
    const std::string restore = saved ? saved : "";
    ::unsetenv("DISPLAY");
    EXPECT_EQ(X11Display::Open(nullptr), nullptr);
    EXPECT_EQ(X11Display::Open(":64999"), nullptr);  // no server listens there
    if (saved) ::setenv("DISPLAY", restore.c_str(), 1);
}

// The drawing step end to end: a frame whose top rows differ from its bottom rows appears upright.
TEST_F(X11DisplayTest, FrameBufferAppearsUprightOneToOneAndScaled) {
    START_OR_SKIP();
    constexpr int kWidth = 64, kHeight = 48;
    FrameBuffer source;
    ASSERT_EQ(source.Create(kWidth, kHeight, 24), 1);
    // Memory row 0 is the sensor's first line: red rows at the top, blue at the bottom, a ramp across.
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = source.Bits() + y * source.Stride() + x * 3;
            p[0] = static_cast<uint8_t>(y < kHeight / 2 ? 0 : 200);  // blue
            p[1] = static_cast<uint8_t>(x * 4);                          // green
            p[2] = static_cast<uint8_t>(y < kHeight / 2 ? 200 : 0);  // red
        }
    }
    auto expected = [&](int x, int y) {
        const uint8_t* p = source.Bits() + y * source.Stride() + x * 3;
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    };
    auto window = display->CreateTopLevelWindow(kWidth, kHeight, "Active Window");
    ASSERT_NE(window, nullptr);
    FrameBuffer displayBuffer;
    ScreenImage image;
    ASSERT_EQ(window->BeginFrame(image), ShowResult::kReady);
    ASSERT_EQ(DrawPreview(source, false, displayBuffer, image), PreviewPath::kOneToOne);
    ASSERT_EQ(window->ShowFrame(), ShowResult::kReady);
    auto pixels = XReadWindow(c, window->Id(), kWidth, kHeight);
    ASSERT_EQ(pixels.size(), size_t{kWidth * kHeight});
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) wrong += pixels[y * kWidth + x] != expected(x, y);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(pixels[0], 0xC80000u);  // red in the top left corner

    // Twice the size: every source pixel becomes a 2 x 2 block, still upright.
    const uint32_t size[] = {2 * kWidth, 2 * kHeight};
    xcb_configure_window(c, window->Id(), XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    XSync(c);
    ASSERT_EQ(window->BeginFrame(image), ShowResult::kReady);
    ASSERT_EQ(DrawPreview(source, false, displayBuffer, image), PreviewPath::kScaled);
    ASSERT_EQ(window->ShowFrame(), ShowResult::kReady);
    pixels = XReadWindow(c, window->Id(), 2 * kWidth, 2 * kHeight);
    ASSERT_EQ(pixels.size(), size_t{4 * kWidth * kHeight});
    wrong = 0;
    for (int y = 0; y < 2 * kHeight; ++y)
        for (int x = 0; x < 2 * kWidth; ++x) wrong += pixels[y * 2 * kWidth + x] != expected(x / 2, y / 2);
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace zelvik::test
