// The preview's X11 side: one display connection per camera, its windows, and showing frames in them.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ScreenImage.h"

namespace zelvik {

// What a drawing step found.
enum class ShowResult {
    kReady,     // BeginFrame: the image is ready to be filled; ShowFrame: the frame is on the screen
    kNotShown,  // the window is unmapped, on an unmapped parent, or has no area: nothing to draw
    kLost,      // the window was destroyed or the display connection broke: nothing is drawn any more
};

class X11Display;

// A window the library created for the preview. Drawing (BeginFrame, ShowFrame) may run on another thread
// than creation and destruction; the display serialises them. Destroyed with the object.
class X11Window {
public:
    ~X11Window();
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    uint32_t Id() const { return id_; }
    // The class-like name this window was created with (its WM_CLASS).
    const std::string& ClassName() const { return className_; }

    // Looks at the window: kNotShown when it is not viewable or has no area, kLost when it or the server
    // is gone (and from then on), else kReady with image describing frame memory of the window's size.
    // The memory is kept while the size stays; its contents are whatever was drawn last.
    ShowResult BeginFrame(ScreenImage& image);
    // Puts the image of the last BeginFrame into the window and waits until the server has taken it, so
    // the memory may be rewritten at once. kReady or kLost.
    ShowResult ShowFrame();
    // True once drawing found the window or the connection gone.
    bool Lost() const;

private:
    friend class X11Display;
    struct Image;
    X11Window(X11Display& display, uint32_t id, std::string className);
    bool BuildImage(int32_t width, int32_t height);
    void DropImage();

    X11Display& display_;
    uint32_t id_;
    uint32_t gc_ = 0;
    std::string className_;
    std::unique_ptr<Image> image_;
    bool lost_ = false;
};

// A connection to an X server owned by one camera instance. Thread-safe: every operation takes the
// connection's lock. Errors from the server never end the process; a broken connection makes every
// window report kLost.
class X11Display {
public:
    struct Options {
        bool sharedMemory = true;  // use MIT-SHM where the server offers it
    };

    // Connects to name (null: $DISPLAY). Null when there is no display, it cannot be reached, or its
    // default screen is not a 24- or 32-bit true-colour screen with 32-bit pixels.
    static std::unique_ptr<X11Display> Open(const char* name = nullptr);
    static std::unique_ptr<X11Display> Open(const char* name, Options options);
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    // A visible child window of parent at (x, y) in its coordinates, width x height, titled title.
    // Null when the parent does not exist, the size is not positive or the connection is broken.
    std::unique_ptr<X11Window> CreateChildWindow(uint32_t parent, int32_t x, int32_t y, int32_t width,
                                                 int32_t height, const std::string& title);
    // A visible top-level window whose client area is width x height, centred on the screen and never
    // placed at negative coordinates. Closing it from the window manager destroys it.
    std::unique_ptr<X11Window> CreateTopLevelWindow(int32_t width, int32_t height, const std::string& title);

    // True when frames travel through shared memory.
    bool UsesSharedMemory() const;
    // True once the connection to the server is broken.
    bool Broken() const;

private:
    friend class X11Window;
    struct Connection;
    explicit X11Display(std::unique_ptr<Connection> connection);
    std::unique_ptr<X11Window> CreateWindow(uint32_t parent, int32_t x, int32_t y, int32_t width,
                                            int32_t height, const std::string& title, bool topLevel);
    // Handles what the server sent on its own: a window manager's close request destroys that window,
    // errors of unchecked requests are dropped. Called with mutex_ held.
    void DrainEvents();
    bool BrokenLocked() const;

    mutable std::mutex mutex_;
    std::unique_ptr<Connection> c_;
    int32_t screenWidth_ = 0;
    int32_t screenHeight_ = 0;
    uint32_t windowCounter_ = 0;
};

}  // namespace zelvik
