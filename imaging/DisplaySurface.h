// The platform surface a FrameBuffer can live in: pixel memory that a display shows in place.
#pragma once

#include <cstdint>
#include <memory>

namespace zelvik {

struct BitmapInfo;
struct RgbQuad;

// One bitmap whose pixel memory the platform can show without copying (the X11 preview implements
// it over shared-memory images). The surface owns that memory for its whole life.
class DisplaySurface {
public:
    virtual ~DisplaySurface() = default;

    // First byte of the pixel memory: stride x height bytes, memory row 0 first.
    virtual uint8_t* Pixels() = 0;
    // Creates the drawing context that colour tables and copies go through. false: no context.
    virtual bool AttachContext() = 0;
    // Loads count palette entries at index start (8-bit surfaces); failures are ignored.
    virtual void LoadColorTable(uint32_t start, uint32_t count, const RgbQuad* entries) = 0;
    // Copies a width x height block from (sourceX, sourceY) of source to (x, y) of this surface.
    // Returns the platform's result (nonzero for success).
    virtual int CopyFrom(const DisplaySurface& source, int32_t sourceX, int32_t sourceY, int32_t width,
                         int32_t height, int32_t x, int32_t y) = 0;
};

// Makes surfaces for FrameBuffers. A FrameBuffer without a provider, or whose provider refuses a
// surface, keeps its pixels in zeroed heap memory and its blits do nothing.
class DisplaySurfaceProvider {
public:
    virtual ~DisplaySurfaceProvider() = default;

    // A surface for the header and colour table of info; reference is the surface of the buffer being
    // imitated (CreateLike) or null. Null result: the platform refuses (the buffer takes the heap).
    virtual std::unique_ptr<DisplaySurface> CreateSurface(const BitmapInfo& info,
                                                          const DisplaySurface* reference) = 0;
};

}  // namespace zelvik
