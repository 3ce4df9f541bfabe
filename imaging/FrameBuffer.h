// FrameBuffer: a pixel array with 4-byte-padded rows, its bitmap header and colour table.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/AlignedBuffer.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// The 40-byte bitmap header that describes a buffer to displays and BMP writers.
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: memory row 0 is shown at the bottom
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct RgbQuad {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};

// Header directly followed by the colour table, as displays take it.
struct BitmapInfo {
    BitmapInfoHeader header;
    RgbQuad colorTable[256];
};

// Stride rule: width x bytes per pixel, rounded up to a multiple of 4 (bytes per pixel = bits / 8).
// 0 when the row does not fit 32 bits.
uint32_t FrameStride(int64_t width, uint32_t bitsPerPixel);

// A frame in memory. Memory row 0 holds the sensor's first line; a display shows it at the bottom, so
// upright consumers flip rows. Pixels: 8 gray/raw, 16 (10-bit sample), 24 BGR, 32 BGRx, 48 and 64 the
// same in 16-bit words. Not safe for concurrent use; the capture engine decides who touches which buffer.
class FrameBuffer {
public:
    FrameBuffer();
    ~FrameBuffer();
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Builds width x height pixels of bitsPerPixel, dropping the previous contents. 0 and untouched when
    // width <= 0, height <= 0 or bitsPerPixel is 0 (or not a bit count a header can carry). An 8-bit
    // buffer (built, created like another or borrowed) gets the gray ramp as its colour table.
    int Create(int32_t width, int32_t height, int32_t bitsPerPixel);
    // Builds the geometry of other (header copied, colour table not), pixels not copied.
    int CreateLike(const FrameBuffer* other);
    // Describes width x height pixels of bitsPerPixel that live in memory the caller owns and keeps alive
    // while the buffer refers to it (rows at the stride rule); nothing is allocated or freed. 0 and empty
    // for a geometry Create refuses or a null bits.
    int Borrow(uint8_t* bits, int32_t width, int32_t height, int32_t bitsPerPixel);
    // Frees the pixels; the buffer becomes empty. Always 0.
    int Release();
    // Clips rect (display coordinates, default: whole source) and (x, y), then runs kernel once with this
    // buffer as destination and the parameters as given (their types are the kernel's, so a parameter
    // block cannot be passed as the wrong thing). 0 without calling it when the clip is empty or kernel
    // is null.
    template <class... Params>
    int Apply(FrameKernelOf<Params...> kernel, const FrameBuffer& source, const Rect* rect, int32_t x, int32_t y,
              std::type_identity_t<Params>... params) {
        const std::optional<KernelFrame> frame = ClippedFrame(source, rect, x, y);
        if (!frame || kernel == nullptr) return 0;
        return kernel(*frame, std::forward<Params>(params)...);
    }
    // Runs a resizing kernel over two rectangles (defaults: whole buffers); not clipped. 0 without calling
    // it when kernel is null or a rectangle is empty or not inside its buffer.
    int ApplyScaled(ScaledFrameKernel kernel, const FrameBuffer& source, const Rect* sourceRect,
                    const Rect* destRect);
    // Clips a source rectangle in display coordinates (y = 0 is the last memory row) placed at (x, y) of
    // this buffer, and converts both to memory rows. 0 with rect, x, y zeroed when nothing is left.
    int ClipRects(const FrameBuffer& source, Rect& rect, int32_t& x, int32_t& y) const;

    uint8_t* Bits() { return bits_; }
    const uint8_t* Bits() const { return bits_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    uint32_t Stride() const { return stride_; }
    uint16_t BitsPerPixel() const { return bitsPerPixel_; }
    uint16_t BytesPerPixel() const { return static_cast<uint16_t>(bitsPerPixel_ / 8); }
    const BitmapInfo& Info() const { return info_; }
    const BitmapInfoHeader& Header() const { return info_.header; }
    const RgbQuad* ColorTable() const { return info_.colorTable; }

private:
    // The kernel's frame for Apply, or nothing when the clip is empty.
    std::optional<KernelFrame> ClippedFrame(const FrameBuffer& source, const Rect* rect, int32_t x, int32_t y);
    int BuildPixels();
    void FillGrayTable();
    void ResetHeader();

    BitmapInfo info_{};
    AlignedBuffer heap_;  // pages of their own, returned to the system when the buffer goes
    uint8_t* bits_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t stride_ = 0;
    uint16_t bitsPerPixel_ = 0;
};

}  // namespace zelvik
