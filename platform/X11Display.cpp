// The preview's X11 side over xcb: windows, and frames shown through MIT-SHM or plain image requests.
#include "platform/X11Display.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Clock.h"

namespace zelvik {

namespace {

// xcb hands out replies and errors in malloc'd memory.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;

// ICCCM size hints (WM_NORMAL_HINTS), 18 32-bit fields.
struct SizeHints {
    uint32_t flags;
    int32_t x, y, width, height;
    int32_t minWidth, minHeight, maxWidth, maxHeight;
    int32_t widthInc, heightInc;
    int32_t minAspectNum, minAspectDen, maxAspectNum, maxAspectDen;
    int32_t baseWidth, baseHeight;
    uint32_t winGravity;
};
static_assert(sizeof(SizeHints) == 18 * 4);
constexpr uint32_t kUserPosition = 1, kProgramPosition = 4, kProgramSize = 8;

// X window sizes are 16-bit; positions signed 16-bit.
constexpr int32_t kMaxExtent = 32767;

int16_t ClampPosition(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767)); }

// Window class names are fresh per window: the creating display's address and a process-wide sequence
// that starts at the clock, so two windows never share one even across instances.
std::string FreshClassName(const void* owner) {
    static std::atomic<uint32_t> sequence{MillisecondClock()};
    char name[64];
    std::snprintf(name, sizeof name, "VideoRenderer_%08x_%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(owner)), static_cast<unsigned>(sequence++));
    return name;
}

}  // namespace

struct X11Display::Connection {
    xcb_connection_t* conn = nullptr;
    const xcb_screen_t* screen = nullptr;
    xcb_visualid_t visual = 0;
    uint8_t depth = 0;
    bool sharedMemory = false;
    uint32_t maxRequestBytes = 0;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t wmDeleteWindow = XCB_ATOM_NONE;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;

    ~Connection() {
        if (conn) xcb_disconnect(conn);
    }
};

struct X11Window::Image {
    ScreenImage view;
    // Shared-memory form: the segment the server reads from.
    bool shared = false;
    int shmId = -1;
    void* shmAddress = nullptr;
    xcb_shm_seg_t segment = 0;
    // Plain form: memory sent inside the image requests.
    std::unique_ptr<uint8_t[]> heap;
};

namespace {

// The default screen must take 32-bit pixels laid out blue, green, red, unused in memory.
bool ScreenTakesBgrx(xcb_connection_t* c, const xcb_screen_t* screen, xcb_visualid_t& visual) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    bool pixels32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth) pixels32 = f.data->bits_per_pixel == 32;
    }
    if (!pixels32 || (screen->root_depth != 24 && screen->root_depth != 32)) return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        if (d.data->depth != screen->root_depth) continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id != screen->root_visual) continue;
            visual = v.data->visual_id;
            return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
                   v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
        }
    }
    return false;
}

xcb_atom_t InternAtom(xcb_connection_t* c, const char* name) {
    XcbPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool ServerOffersSharedMemory(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
    if (!ext || !ext->present) return false;
    XcbPtr<xcb_shm_query_version_reply_t> version(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    return version != nullptr;
}

// True when the request went through; false when the server answered with an error or the connection broke.
bool Succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    XcbPtr<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error && !xcb_connection_has_error(c);
}

void SetStringProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                       const std::string& value) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 8, static_cast<uint32_t>(value.size()),
                        value.data());
}

}  // namespace

std::unique_ptr<X11Display> X11Display::Open(const char* name) { return Open(name, Options{}); }

std::unique_ptr<X11Display> X11Display::Open(const char* name, Options options) {
    auto connection = std::make_unique<Connection>();
    int screenNumber = 0;
    connection->conn = xcb_connect(name, &screenNumber);
    xcb_connection_t* c = connection->conn;
    if (xcb_connection_has_error(c)) return nullptr;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) return nullptr;
    connection->screen = screens.data;
    connection->depth = screens.data->root_depth;
    if (!ScreenTakesBgrx(c, screens.data, connection->visual)) return nullptr;
    connection->wmProtocols = InternAtom(c, "WM_PROTOCOLS");
    connection->wmDeleteWindow = InternAtom(c, "WM_DELETE_WINDOW");
    connection->netWmName = InternAtom(c, "_NET_WM_NAME");
    connection->utf8String = InternAtom(c, "UTF8_STRING");
    connection->sharedMemory = options.sharedMemory && ServerOffersSharedMemory(c);
    connection->maxRequestBytes = xcb_get_maximum_request_length(c) * 4;
    if (xcb_connection_has_error(c)) return nullptr;
    std::unique_ptr<X11Display> display(new (std::nothrow) X11Display(std::move(connection)));
    return display;
}

X11Display::X11Display(std::unique_ptr<Connection> connection) : c_(std::move(connection)) {
    screenWidth_ = c_->screen->width_in_pixels;
    screenHeight_ = c_->screen->height_in_pixels;
}

X11Display::~X11Display() = default;

bool X11Display::UsesSharedMemory() const {
    std::lock_guard lock(mutex_);
    return c_->sharedMemory;
}

bool X11Display::Broken() const {
    std::lock_guard lock(mutex_);
    return BrokenLocked();
}

bool X11Display::BrokenLocked() const { return xcb_connection_has_error(c_->conn) != 0; }

void X11Display::DrainEvents() {
    xcb_connection_t* c = c_->conn;
    while (XcbPtr<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE) continue;
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        // A window manager's close button: the window goes away, as a window without a handler of its
        // own would; the next drawing step then finds it lost.
        if (message->type == c_->wmProtocols && message->data.data32[0] == c_->wmDeleteWindow) {
            xcb_destroy_window(c, message->window);
            xcb_flush(c);
        }
    }
}

std::unique_ptr<X11Window> X11Display::CreateChildWindow(uint32_t parent, int32_t x, int32_t y, int32_t width,
                                                         int32_t height, const std::string& title) {
    if (parent == 0) return nullptr;
    return CreateWindow(parent, x, y, width, height, title, false);
}

std::unique_ptr<X11Window> X11Display::CreateTopLevelWindow(int32_t width, int32_t height, const std::string& title) {
    // The window manager adds its frame around the client area, so the client area is what is centred.
    const int32_t x = std::max((screenWidth_ - width) / 2, 0);
    const int32_t y = std::max((screenHeight_ - height) / 2, 0);
    return CreateWindow(0, x, y, width, height, title, true);
}

std::unique_ptr<X11Window> X11Display::CreateWindow(uint32_t parent, int32_t x, int32_t y, int32_t width,
                                                    int32_t height, const std::string& title, bool topLevel) {
    if (width <= 0 || height <= 0 || width > kMaxExtent || height > kMaxExtent) return nullptr;
    std::lock_guard lock(mutex_);
    xcb_connection_t* c = c_->conn;
    if (BrokenLocked()) return nullptr;
    DrainEvents();
    const xcb_window_t id = xcb_generate_id(c);
    // The window's own visual and colour map, so that it takes the same pixels whatever its parent's are;
    // a black background is what the server shows where nothing has been drawn yet.
    const uint32_t values[] = {c_->screen->black_pixel, c_->screen->black_pixel, c_->screen->default_colormap};
    const xcb_void_cookie_t created = xcb_create_window_checked(
        c, c_->depth, id, topLevel ? c_->screen->root : parent, ClampPosition(x), ClampPosition(y),
        static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, c_->visual,
        XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_COLORMAP, values);
    if (!Succeeded(c, created)) return nullptr;

    std::string className = FreshClassName(this);
    SetStringProperty(c, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
    SetStringProperty(c, id, c_->netWmName, c_->utf8String, title);
    // WM_CLASS holds the instance name and the class name, each ending in a zero byte.
    SetStringProperty(c, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, className + '\0' + className + '\0');
    if (topLevel) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, c_->wmProtocols, XCB_ATOM_ATOM, 32, 1,
                            &c_->wmDeleteWindow);
        SizeHints hints{};
        hints.flags = kUserPosition | kProgramPosition | kProgramSize;
        hints.x = x;
        hints.y = y;
        hints.width = width;
        hints.height = height;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                            sizeof hints / 4, &hints);
    }
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const uint32_t noExposures = 0;
    xcb_create_gc(c, gc, id, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    if (!Succeeded(c, xcb_map_window_checked(c, id))) {
        xcb_free_gc(c, gc);
        xcb_destroy_window(c, id);
        xcb_flush(c);
        return nullptr;
    }
    std::unique_ptr<X11Window> window(new (std::nothrow) X11Window(*this, id, std::move(className)));
    if (!window) {
        xcb_free_gc(c, gc);
        xcb_destroy_window(c, id);
        xcb_flush(c);
        return nullptr;
    }
    window->gc_ = gc;
    return window;
}

X11Window::X11Window(X11Display& display, uint32_t id, std::string className)
    : display_(display), id_(id), className_(std::move(className)) {}

X11Window::~X11Window() {
    std::lock_guard lock(display_.mutex_);
    DropImage();
    if (display_.BrokenLocked()) return;
    xcb_connection_t* c = display_.c_->conn;
    xcb_free_gc(c, gc_);
    // Waited for, so the window is gone for every client when the object is; a window someone else
    // destroyed already answers with an error, which is dropped.
    std::free(xcb_request_check(c, xcb_destroy_window_checked(c, id_)));
    display_.DrainEvents();
}

bool X11Window::Lost() const {
    std::lock_guard lock(display_.mutex_);
    return lost_;
}

ShowResult X11Window::BeginFrame(ScreenImage& image) {
    std::lock_guard lock(display_.mutex_);
    image = ScreenImage{};
    if (lost_) return ShowResult::kLost;
    xcb_connection_t* c = display_.c_->conn;
    if (!display_.BrokenLocked()) display_.DrainEvents();
    // Both questions in one round trip; an error on either means the window is gone.
    const auto attributesCookie = xcb_get_window_attributes(c, id_);
    const auto geometryCookie = xcb_get_geometry(c, id_);
    xcb_generic_error_t* attributesError = nullptr;
    xcb_generic_error_t* geometryError = nullptr;
    XcbPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, &attributesError));
    XcbPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, &geometryError));
    std::free(attributesError);
    std::free(geometryError);
    if (!attributes || !geometry) {
        lost_ = true;
        return ShowResult::kLost;
    }
    if (attributes->map_state != XCB_MAP_STATE_VIEWABLE || geometry->width == 0 || geometry->height == 0) {
        return ShowResult::kNotShown;
    }
    if (!image_ || image_->view.width != geometry->width || image_->view.height != geometry->height) {
        if (!BuildImage(geometry->width, geometry->height)) {
            lost_ = true;
            return ShowResult::kLost;
        }
    }
    image = image_->view;
    return ShowResult::kReady;
}

ShowResult X11Window::ShowFrame() {
    std::lock_guard lock(display_.mutex_);
    if (lost_ || !image_) return lost_ ? ShowResult::kLost : ShowResult::kNotShown;
    xcb_connection_t* c = display_.c_->conn;
    const X11Display::Connection& x = *display_.c_;
    const ScreenImage& v = image_->view;
    bool ok = true;
    if (image_->shared) {
        ok = Succeeded(c, xcb_shm_put_image_checked(c, id_, gc_, static_cast<uint16_t>(v.width),
                                                    static_cast<uint16_t>(v.height), 0, 0,
                                                    static_cast<uint16_t>(v.width), static_cast<uint16_t>(v.height),
                                                    0, 0, x.depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, image_->segment, 0));
    } else {
        // As many whole rows per request as the server accepts (the request header takes 24 bytes).
        const uint32_t rowsPerRequest = std::max<uint32_t>(1, (x.maxRequestBytes - 24) / v.stride);
        for (int32_t top = 0; top < v.height && ok; top += static_cast<int32_t>(rowsPerRequest)) {
            const int32_t rows = std::min<int32_t>(static_cast<int32_t>(rowsPerRequest), v.height - top);
            ok = Succeeded(c, xcb_put_image_checked(c, XCB_IMAGE_FORMAT_Z_PIXMAP, id_, gc_,
                                                    static_cast<uint16_t>(v.width), static_cast<uint16_t>(rows), 0,
                                                    static_cast<int16_t>(top), 0, x.depth, v.stride * rows,
                                                    v.pixels + static_cast<size_t>(top) * v.stride));
        }
    }
    if (!ok) {
        lost_ = true;
        return ShowResult::kLost;
    }
    return ShowResult::kReady;
}

bool X11Window::BuildImage(int32_t width, int32_t height) {
    DropImage();
    auto image = std::make_unique<Image>();
    image->view.width = width;
    image->view.height = height;
    image->view.stride = static_cast<uint32_t>(width) * 4;
    const size_t bytes = static_cast<size_t>(image->view.stride) * static_cast<size_t>(height);
    X11Display::Connection& x = *display_.c_;
    if (x.sharedMemory) {
        image->shmId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (image->shmId >= 0) {
            image->shmAddress = shmat(image->shmId, nullptr, 0);
            if (image->shmAddress != reinterpret_cast<void*>(-1)) {
                image->segment = xcb_generate_id(x.conn);
                image->shared = Succeeded(x.conn, xcb_shm_attach_checked(x.conn, image->segment,
                                                                         static_cast<uint32_t>(image->shmId), 1));
                if (!image->shared) shmdt(image->shmAddress);
            }
            // Marked for removal now: the segment disappears once both sides have detached, even if
            // this process ends abruptly.
            shmctl(image->shmId, IPC_RMID, nullptr);
        }
        if (!image->shared) {
            // A server on another machine cannot reach this memory; requests carry the pixels from now on.
            x.sharedMemory = false;
            if (display_.BrokenLocked()) return false;
        }
    }
    if (image->shared) {
        image->view.pixels = static_cast<uint8_t*>(image->shmAddress);
    } else {
        image->heap.reset(new (std::nothrow) uint8_t[bytes]);
        if (!image->heap) return false;
        image->view.pixels = image->heap.get();
    }
    std::memset(image->view.pixels, 0, bytes);
    image_ = std::move(image);
    return true;
}

void X11Window::DropImage() {
    if (!image_) return;
    if (image_->shared) {
        if (!display_.BrokenLocked()) xcb_shm_detach(display_.c_->conn, image_->segment);
        shmdt(image_->shmAddress);
    }
    image_.reset();
}

}  // namespace zelvik
