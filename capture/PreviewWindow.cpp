// The preview window: creation, placement and the drawing step of every streamed frame.
#include "capture/PreviewWindow.h"

#include "imaging/PreviewDraw.h"

namespace zelvik {

namespace {

constexpr const char* kChildTitle = "ActiveMovie Window";
constexpr const char* kTopLevelTitle = "Active Window";

}  // namespace

void PreviewWindow::Place(ZELVIK_HWND parent, int x, int y, int width, int height) {
    std::lock_guard lock(mutex_);
    parent_ = parent;
    x_ = x;
    y_ = y;
    width_ = width;
    height_ = height;
}

bool PreviewWindow::DisplayAvailable() {
    std::lock_guard lock(mutex_);
    // A connection whose server ended is dropped with its window, so that a new server is found.
    if (display_ && display_->Broken()) {
        window_.reset();
        display_.reset();
    }
    if (!display_) display_ = X11Display::Open();
    return display_ != nullptr;
}

bool PreviewWindow::Create(int pictureWidth, int pictureHeight) {
    if (!DisplayAvailable()) return false;
    // Only this (the application's) thread replaces the connection, so it may be used without the lock;
    // the connection serialises its own use.
    std::unique_ptr<X11Window> created =
        parent_ != 0 ? display_->CreateChildWindow(static_cast<uint32_t>(parent_), x_, y_, width_, height_, kChildTitle)
                     : display_->CreateTopLevelWindow(pictureWidth, pictureHeight, kTopLevelTitle);
    std::lock_guard lock(mutex_);
    // A second preview replaces the window rather than leaving one behind that nobody draws or closes.
    window_ = std::move(created);
    lossReported_ = false;
    return window_ != nullptr;
}

void PreviewWindow::Destroy() {
    std::lock_guard lock(mutex_);
    window_.reset();
    display_.reset();
    scaled_.Release();
    lossReported_ = false;
}

bool PreviewWindow::Draw(CaptureBuffers& buffers, int mode) {
    std::lock_guard lock(mutex_);
    const ColorModeInfo* info = FindColorMode(mode);
    if (!window_ || lossReported_ || !info) return true;
    ScreenImage image;
    ShowResult result = window_->BeginFrame(image);
    if (result == ShowResult::kReady) {
        // The finished image goes into the window memory as it is, converted on the way.
        if (DrawPreview(buffers.OutputOf(mode), false, scaled_, image) == PreviewPath::kNone) return true;
        result = window_->ShowFrame();
    }
    if (result != ShowResult::kLost) return true;
    lossReported_ = true;
    return false;
}

}  // namespace zelvik
