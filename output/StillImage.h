// Still image files: BMP, raw dump, JPEG (three qualities), PNG and TIFF of a frame in any colour mode.
#pragma once

#include <cstdint>

#include "imaging/FrameBuffer.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// The format codes of Zelvik_SaveImage. The code alone chooses the form; the name only opens the file.
enum ImageFileFormat : int {
    kFormatBitmap = 0,
    kFormatRaw = 1,
    kFormatJpegHigh = 2,    // quality 100
    kFormatJpegNormal = 3,  // quality 70
    kFormatJpegLow = 4,     // quality 20
    kFormatPng = 5,
    kFormatTiff = 6,
};

// A plain pixel description, laid out as a FrameBuffer is: rows stride bytes apart (stride at least
// width x bytes per pixel), memory row 0 is the top line of the picture, pixels blue, green, red (then a
// fourth byte or word), 16-bit samples little-endian carrying 10-bit values.
struct ImageView {
    const uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t stride = 0;
    int32_t bitsPerPixel = 0;       // 8, 16, 24, 32, 48 or 64
    const RgbQuad* colorTable = nullptr;  // 256 entries for an 8-bit BMP; null: the gray ramp

    // Bytes of one row without padding.
    uint32_t RowBytes() const { return static_cast<uint32_t>(width) * static_cast<uint32_t>(bitsPerPixel / 8); }
};

ImageView ViewOf(const FrameBuffer& buffer);
// True for a view every writer can take: pixels present, a colour mode's depth, rows that fit the stride.
bool IsSavable(const ImageView& image);

// Writes image to fileName in the form format names. 1 when the whole file was written; 0 otherwise
// (null name or image, format outside 0..6, a file that cannot be created, a failed write, an encoder
// error, memory), and then no file is left under the name.
int SaveImageFile(const char* fileName, const FrameBuffer* image, int format);
int SaveImageFile(const char* fileName, const ImageView& image, int format);

// The writers behind SaveImageFile; each takes the image as it stands in memory (top row first) and
// returns 1 or 0 as above.
int WriteBitmapFile(const char* fileName, const ImageView& image);
int WriteRawFile(const char* fileName, const ImageView& image);
int WriteJpegFile(const char* fileName, const ImageView& image, int quality, bool progressive);
int WritePngFile(const char* fileName, const ImageView& image);
int WriteTiffFile(const char* fileName, const ImageView& image);

// Runs a one-to-one kernel over rows firstRow..firstRow+rows-1 of source (all columns), writing to
// dst rows dstStride apart with dstBytesPerPixel per pixel.
void ConvertRows(FrameKernelOf<> kernel, const ImageView& source, int32_t firstRow, int32_t rows, uint8_t* dst,
                 uint32_t dstStride, uint16_t dstBytesPerPixel);

}  // namespace zelvik
