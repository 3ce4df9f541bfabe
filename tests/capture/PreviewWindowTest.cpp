// The preview window through the C API on the in-process emulator, checked from a second client of a
// private Xvfb: where the windows go, what they show, and what happens without a display.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/capture/CaptureFixture.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/XInspect.h"

namespace zelvik::test {
namespace {

// The library's windows among the root's children, by title.
std::vector<xcb_window_t> WindowsTitled(xcb_connection_t* c, xcb_window_t parent, const std::string& title) {
    std::vector<xcb_window_t> found;
    for (xcb_window_t w : XChildren(c, parent))
        if (XStringProperty(c, w, XCB_ATOM_WM_NAME) == title) found.push_back(w);
    return found;
}

class PreviewWindowTest : public CaptureFixture {
protected:
    void SetUp() override {
        server_ = std::make_unique<PrivateXServer>();
        if (!server_->connection()) GTEST_SKIP() << "no Xvfb: the preview window is not tested";
        c = server_->connection();
        ::setenv("DISPLAY", server_->display().c_str(), 1);
    }
    void TearDown() override {
        CaptureFixture::TearDown();  // handles released (windows closed) before the server goes
        ::unsetenv("DISPLAY");
    }
    xcb_window_t Root() const { return server_->screen()->root; }

    std::unique_ptr<PrivateXServer> server_;
    xcb_connection_t* c = nullptr;
};

TEST_F(PreviewWindowTest, ChildWindowInTheApplicationsWindowLivesUntilClose) {
    const int h = Open();
    const xcb_window_t parent = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, parent, Root(), 0, 0, 800, 600, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      server_->screen()->root_visual, 0, nullptr);
    xcb_map_window(c, parent);
    XSync(c);
    ASSERT_EQ(Zelvik_SetPreviewWindow(h, parent, 10, 20, 640, 480), 1);
    ASSERT_EQ(Zelvik_Preview(h), 1);
    XSync(c);
    std::vector<xcb_window_t> children = XChildren(c, parent);
    ASSERT_EQ(children.size(), 1u);
    const xcb_window_t child = children[0];
    const XPlacement g = XPlacementOf(c, child);
    EXPECT_EQ(g.x, 10);
    EXPECT_EQ(g.y, 20);
    EXPECT_EQ(g.width, 640);
    EXPECT_EQ(g.height, 480);
    EXPECT_EQ(XStringProperty(c, child, XCB_ATOM_WM_NAME), "ActiveMovie Window");

    // StopPreview leaves the window; a new StartPreview draws into the same one.
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    XSync(c);
    EXPECT_EQ(XChildren(c, parent), std::vector<xcb_window_t>{child});
    ASSERT_EQ(Zelvik_StartPreview(h), 1);
    ASSERT_EQ(Zelvik_Close(h), 1);
    XSync(c);
    EXPECT_TRUE(XChildren(c, parent).empty());
}

TEST_F(PreviewWindowTest, TopLevelWindowTakesTheSubsampledPictureCentred) {
    const int h = Open();
    ASSERT_EQ(Zelvik_SetSubSample(h, 2), 1);  // 2592 x 1944 / 4
    ASSERT_EQ(Zelvik_SetPreviewWindow(h, 0, 0, 0, 0, 0), 1);
    ASSERT_EQ(Zelvik_Preview(h), 1);
    XSync(c);
    const auto windows = WindowsTitled(c, Root(), "Active Window");
    ASSERT_EQ(windows.size(), 1u);
    const XPlacement g = XPlacementOf(c, windows[0]);
    EXPECT_EQ(g.width, 648);
    EXPECT_EQ(g.height, 486);
    EXPECT_EQ(g.x, (1024 - 648) / 2);
    EXPECT_EQ(g.y, (768 - 486) / 2);
    // A second preview replaces the window instead of leaving the first behind.
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    ASSERT_EQ(Zelvik_Preview(h), 1);
    XSync(c);
    EXPECT_EQ(WindowsTitled(c, Root(), "Active Window").size(), 1u);
}

// What the output buffer's pixel (column x, memory row r) looks like on the screen in each colour mode.
uint32_t ShownPixel(const std::vector<uint8_t>& buffer, int bits, int stride, int x, int r) {
    const uint8_t* p = buffer.data() + static_cast<size_t>(r) * stride;
    auto narrow = [&](int word) {  // a 10-bit sample of a 16-bit mode, as the display takes it
        uint16_t v;
        std::memcpy(&v, p + static_cast<size_t>(x) * (bits / 8) + 2 * word, 2);
        return static_cast<uint32_t>((v >> 2) & 0xFF);
    };
    switch (bits) {
        case 8:
            return uint32_t{p[x]} * 0x010101u;
        case 16:
            return narrow(0) * 0x010101u;
        case 24:
        case 32: {
            const uint8_t* q = p + static_cast<size_t>(x) * (bits / 8);
            return uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
        }
        default:
            return narrow(2) << 16 | narrow(1) << 8 | narrow(0);
    }
}

TEST_F(PreviewWindowTest, WindowShowsTheOutputBufferUprightOneToOneAndScaled) {
    struct Case {
        int bits;
        ZELVIK_HWND parentKind;  // 0: top-level of the picture's size, 1: a child of half the size
    } cases[] = {{8, 0}, {16, 0}, {24, 0}, {32, 0}, {48, 0}, {24, 1}, {8, 1}};
    constexpr int kWidth = 648, kHeight = 486;  // subsample 2
    for (const Case& k : cases) {
        SCOPED_TRACE("bits " + std::to_string(k.bits) + (k.parentKind ? ", half-size child" : ", top-level"));
        const int h = Open();
        ASSERT_EQ(Zelvik_SetSubSample(h, 2), 1);
        ASSERT_EQ(Zelvik_SetColorMode(h, k.bits), 1);
        xcb_window_t parent = 0;
        int shownWidth = kWidth, shownHeight = kHeight;
        if (k.parentKind) {
            parent = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, parent, Root(), 0, 0, 400, 300, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, server_->screen()->root_visual, 0, nullptr);
            xcb_map_window(c, parent);
            XSync(c);
            shownWidth = kWidth / 2;
            shownHeight = kHeight / 2;
        }
        ASSERT_EQ(Zelvik_SetPreviewWindow(h, parent, 0, 0, shownWidth, shownHeight), 1);
        const int stride = (kWidth * (k.bits / 8) + 3) & ~3;
        std::vector<uint8_t> buffer(static_cast<size_t>(stride) * kHeight);
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
        for (int frames = 0; frames < 2; ++frames) ASSERT_TRUE(WaitForFrame(Queue()));
        // After the stop, the window shows the frame last copied into the buffer (drawn just before).
        ASSERT_EQ(Zelvik_StopPreview(h), 1);
        XSync(c);
        const auto windows = parent ? XChildren(c, parent) : WindowsTitled(c, Root(), "Active Window");
        ASSERT_EQ(windows.size(), 1u);
        const auto pixels = XReadWindow(c, windows[0], shownWidth, shownHeight);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(shownWidth) * shownHeight);
        // The scene's top rows differ from its bottom rows, so a picture upside down cannot pass.
        ASSERT_NE(ShownPixel(buffer, k.bits, stride, kWidth / 2, 0),
                  ShownPixel(buffer, k.bits, stride, kWidth / 2, kHeight - 1));
        // Nearest neighbour as the scaling kernel takes it: column trunc(x * ratio), and rows counted from
        // the bottom; at the picture's own size the identity.
        const float xRatio = static_cast<float>(kWidth) / shownWidth, yRatio = static_cast<float>(kHeight) / shownHeight;
        int wrong = 0;
        for (int y = 0; y < shownHeight; ++y) {
            const int row = kHeight - 1 - static_cast<int>((shownHeight - 1 - y) * static_cast<double>(yRatio));
            for (int x = 0; x < shownWidth; ++x) {
                const int column = static_cast<int>(x * static_cast<double>(xRatio));
                wrong += pixels[static_cast<size_t>(y) * shownWidth + x] != ShownPixel(buffer, k.bits, stride, column, row);
            }
        }
        EXPECT_EQ(wrong, 0);
        Release(h);
        XSync(c);
        EXPECT_TRUE(WindowsTitled(c, Root(), "Active Window").empty());  // Release closes it too
        DrainMessages(Queue());
    }
}

TEST_F(PreviewWindowTest, ServerThatEndsWhileStreamingStopsOnlyTheDrawing) {
    const int h = Open();
    ASSERT_EQ(Zelvik_SetSubSample(h, 2), 1);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_EQ(WindowsTitled(c, Root(), "Active Window").size(), 1u);
    ASSERT_TRUE(WaitForFrame(Queue()));
    server_->Kill();
    DrainMessages(Queue());
    // The capture thread goes on delivering, and says once that the window is gone.
    for (int frames = 0; frames < 10; ++frames) {
        const auto m = WaitForFrame(Queue());
        ASSERT_TRUE(m);
        EXPECT_EQ(m->lParam, 0);
    }
    int windowErrors = 0;
    for (ZelvikMessage m; ZelvikMsg_Get(Notify(), &m, 0) == 1;)
        windowErrors += m.message == MSG_CAMERA_ERROR && m.lParam == ZELVIK_ERR_WINDOW;
    EXPECT_EQ(windowErrors, 1);
    EXPECT_EQ(Zelvik_Close(h), 1);
}

TEST_F(PreviewWindowTest, WithoutADisplayWindowsFailButQueuesStreamHeadless) {
    server_->Kill();
    for (const char* display : {"", ":64999"}) {  // unset, and a display nobody serves
        SCOPED_TRACE(display);
        if (*display) ::setenv("DISPLAY", display, 1);
        else ::unsetenv("DISPLAY");
        const int h = Open();
        EXPECT_EQ(Zelvik_Preview(h), 0);
        EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_WINDOW});
        EXPECT_EQ(Zelvik_CallBackPreview(h, 0x1E00007, nullptr, 0, 1), 0);  // an X window as the target
        EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_WINDOW});
        // A program that takes its frames from a queue needs no display.
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
        ASSERT_TRUE(WaitForFrame(Queue()));
        ASSERT_EQ(Zelvik_StopPreview(h), 1);
        ASSERT_EQ(Zelvik_StartPreview(h), 1);
        ASSERT_TRUE(WaitForFrame(Queue()));
        EXPECT_EQ(Zelvik_Close(h), 1);
        Release(h);
        DrainMessages(Queue());
    }
}

}  // namespace
}  // namespace zelvik::test
