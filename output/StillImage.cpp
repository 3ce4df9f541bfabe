// SaveImageFile and the two writers that need no encoder library: BMP and the raw dump.
#include "output/StillImage.h"

#include <cstring>
#include <vector>

#include "output/OutputFile.h"

namespace zelvik {

namespace {

bool IsColourModeDepth(int32_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

ImageView ViewOf(const FrameBuffer& buffer) {
    ImageView view;
    view.bits = buffer.Bits();
    view.width = buffer.Width();
    view.height = buffer.Height();
    view.stride = buffer.Stride();
    view.bitsPerPixel = buffer.BitsPerPixel();
    view.colorTable = buffer.BitsPerPixel() <= 8 ? buffer.ColorTable() : nullptr;
    return view;
}

bool IsSavable(const ImageView& image) {
    return image.bits != nullptr && image.width > 0 && image.height > 0 && IsColourModeDepth(image.bitsPerPixel) &&
           static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.bitsPerPixel / 8) <= image.stride;
}

void ConvertRows(FrameKernelOf<> kernel, const ImageView& source, int32_t firstRow, int32_t rows, uint8_t* dst,
                 uint32_t dstStride, uint16_t dstBytesPerPixel) {
    const Rect rect{0, firstRow, source.width, firstRow + rows};
    kernel(KernelFrame(dst, source.bits, rect, 0, 0, dstBytesPerPixel, static_cast<uint16_t>(source.bitsPerPixel / 8),
                       dstStride, source.stride));
}

int SaveImageFile(const char* fileName, const FrameBuffer* image, int format) {
    if (image == nullptr) return 0;
    return SaveImageFile(fileName, ViewOf(*image), format);
}

int SaveImageFile(const char* fileName, const ImageView& image, int format) {
    // Checked before anything is opened, so a refused save never creates or truncates a file.
    if (fileName == nullptr || static_cast<unsigned>(format) > kFormatTiff || !IsSavable(image)) return 0;
    switch (format) {
    case kFormatBitmap:
        return WriteBitmapFile(fileName, image);
    case kFormatRaw:
        return WriteRawFile(fileName, image);
    case kFormatJpegHigh:
        return WriteJpegFile(fileName, image, 100, true);
    case kFormatJpegNormal:
        return WriteJpegFile(fileName, image, 70, true);
    case kFormatJpegLow:
        return WriteJpegFile(fileName, image, 20, true);
    case kFormatPng:
        return WritePngFile(fileName, image);
    default:
        return WriteTiffFile(fileName, image);
    }
}

int WriteBitmapFile(const char* fileName, const ImageView& image) {
    if (fileName == nullptr || !IsSavable(image)) return 0;
    const bool paletted = image.bitsPerPixel <= 8;
    const uint32_t dataOffset = paletted ? 14 + 40 + 1024 : 14 + 40;
    const uint64_t fileSize = dataOffset + static_cast<uint64_t>(image.stride) * static_cast<uint64_t>(image.height);
    if (fileSize > UINT32_MAX) return 0;  // bfSize could not state it

    uint8_t header[14 + 40 + 1024] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLe32(header + 2, static_cast<uint32_t>(fileSize));
    PutLe32(header + 10, dataOffset);
    uint8_t* info = header + 14;
    PutLe32(info + 0, 40);
    PutLe32(info + 4, static_cast<uint32_t>(image.width));
    PutLe32(info + 8, static_cast<uint32_t>(image.height));  // positive: the file holds the bottom row first
    PutLe16(info + 12, 1);
    PutLe16(info + 14, static_cast<uint16_t>(image.bitsPerPixel));
    if (paletted) {
        uint8_t* table = header + 54;
        for (int i = 0; i < 256; ++i) {
            const RgbQuad entry = image.colorTable ? image.colorTable[i]
                                                   : RgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
            table[4 * i + 0] = entry.blue;
            table[4 * i + 1] = entry.green;
            table[4 * i + 2] = entry.red;
            table[4 * i + 3] = entry.reserved;
        }
    }

    // Header, then the rows from the last memory row up, gathered straight from the image (padding and
    // all, as a BMP row is padded to 4 bytes just as the buffer's are).
    std::vector<iovec> parts;
    try {
        parts.resize(static_cast<size_t>(image.height) + 1);
    } catch (...) {
        return 0;
    }
    parts[0] = iovec{header, dataOffset};
    for (int32_t r = 0; r < image.height; ++r) {
        const uint8_t* row = image.bits + static_cast<size_t>(image.height - 1 - r) * image.stride;
        parts[static_cast<size_t>(r) + 1] = iovec{const_cast<uint8_t*>(row), image.stride};
    }
    OutputFile file;
    if (!file.Create(fileName)) return 0;
    return file.Commit(file.WriteParts(parts.data(), parts.size())) ? 1 : 0;
}

int WriteRawFile(const char* fileName, const ImageView& image) {
    if (fileName == nullptr || !IsSavable(image)) return 0;
    OutputFile file;
    if (!file.Create(fileName)) return 0;
    const size_t bytes = static_cast<size_t>(image.stride) * static_cast<size_t>(image.height);
    return file.Commit(file.Write(image.bits, bytes)) ? 1 : 0;
}

}  // namespace zelvik
