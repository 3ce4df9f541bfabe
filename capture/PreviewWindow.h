// The capture engine's preview window: its placement, its creation on the application's thread and the
// drawing step the capture thread runs for every frame.
#pragma once

#include <memory>
#include <mutex>

#include "capture/CaptureBuffers.h"
#include "imaging/FrameBuffer.h"
#include "include/ZelvikSdk.h"
#include "platform/X11Display.h"

namespace zelvik {

// Threads: Place, Create and Destroy run on the application's thread; Draw on the capture thread. They
// share the window under one lock, so a window replaced or destroyed while the capture thread draws is
// never drawn into after it is gone.
class PreviewWindow {
public:
    // Zelvik_SetPreviewWindow: parent 0 asks for a top-level window, else a child at (x, y) of
    // width x height in the parent. Takes effect at the next Create.
    void Place(ZELVIK_HWND parent, int x, int y, int width, int height);
    // What Create would do without a display: true when one can be reached (the connection stays open).
    bool DisplayAvailable();
    // Makes the window of the current placement (the top-level kind at pictureWidth x pictureHeight),
    // replacing and destroying any previous one. False when there is no display or the window could not
    // be made (the caller reports error 4).
    bool Create(int pictureWidth, int pictureHeight);
    // Zelvik_Close: the window goes away (after the capture thread has ended) with the connection.
    void Destroy();

    // Draws the finished frame of colour mode mode. Nothing when there is no window or it is hidden; false
    // only the first time the window is found lost (the caller reports error 4 once).
    bool Draw(CaptureBuffers& buffers, int mode);

private:
    std::mutex mutex_;
    ZELVIK_HWND parent_ = 0;
    int x_ = 0, y_ = 0, width_ = 2592, height_ = 1944;
    std::unique_ptr<X11Display> display_;
    // Declared after the display: destroyed before the connection it lives on.
    std::unique_ptr<X11Window> window_;
    // The window-sized picture of the scaled path, kept while the window keeps its size.
    FrameBuffer scaled_;
    bool lossReported_ = false;
};

}  // namespace zelvik
