// A test's look at an X server from its own connection: properties, the window tree, pixels.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace zelvik::test {

// An xcb reply, freed at the end of its scope.
template <class T>
struct XReply {
    T* p;
    explicit XReply(T* r) : p(r) {}
    ~XReply() { std::free(p); }
    XReply(const XReply&) = delete;
    XReply& operator=(const XReply&) = delete;
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// Waits until the server has handled everything this connection sent.
inline void XSync(xcb_connection_t* c) { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

inline xcb_atom_t XAtom(xcb_connection_t* c, const char* name) {
    XReply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// A property's bytes as they are stored (empty when the window or property is missing).
inline std::string XStringProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    XReply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
    if (!r) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(r.p)), xcb_get_property_value_length(r.p));
}

inline std::vector<xcb_window_t> XChildren(xcb_connection_t* c, xcb_window_t w) {
    XReply<xcb_query_tree_reply_t> t(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!t) return {};
    const xcb_window_t* first = xcb_query_tree_children(t.p);
    return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(t.p));
}

// Where a window is (in its parent) and whether it is viewable; all -1 when it does not exist.
struct XPlacement {
    xcb_window_t parent;
    int x, y, width, height;
    bool viewable;
};

inline XPlacement XPlacementOf(xcb_connection_t* c, xcb_window_t w) {
    XReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    XReply<xcb_query_tree_reply_t> t(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    XReply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
    if (!g || !t || !a) return XPlacement{0, -1, -1, -1, -1, false};
    return XPlacement{t->parent, g->x, g->y, g->width, g->height, a->map_state == XCB_MAP_STATE_VIEWABLE};
}

// The window's pixels (red, green, blue in the low 24 bits), top row first; empty when unreadable.
inline std::vector<uint32_t> XReadWindow(xcb_connection_t* c, xcb_window_t w, int width, int height) {
    XReply<xcb_get_image_reply_t> r(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0, static_cast<uint16_t>(width),
                         static_cast<uint16_t>(height), ~0u),
        nullptr));
    if (!r || xcb_get_image_data_length(r.p) != width * height * 4) return {};
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    std::memcpy(pixels.data(), xcb_get_image_data(r.p), pixels.size() * 4);
    for (uint32_t& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

}  // namespace zelvik::test
