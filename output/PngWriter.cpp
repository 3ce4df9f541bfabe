// PNG files through libpng: gray, RGB or RGB with alpha, 8 or 16 bits, rows top first, default
// compression and filters. All writer state lives in the call, so saves on several threads are safe.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <png.h>

#include "imaging/Convert.h"
#include "output/OutputFile.h"
#include "output/StillImage.h"

namespace zelvik {

namespace {

void PngError(png_structp png, png_const_charp message) {
    if (png != nullptr) std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

// libpng hands over each chunk in three small pieces (length and type, data, checksum); they are
// gathered here so that the file sees a few large writes.
struct PngSink {
    static constexpr size_t kCapacity = 65536;
    OutputFile* file;
    uint8_t* buffer;
    size_t used;

    bool Flush() {
        const bool ok = used == 0 || file->Write(buffer, used);
        used = 0;
        return ok;
    }
};

void PngWrite(png_structp png, png_bytep data, size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (sink->used + length > PngSink::kCapacity && !sink->Flush()) png_error(png, "Write Error");
    if (length >= PngSink::kCapacity) {
        if (!sink->file->Write(data, length)) png_error(png, "Write Error");
        return;
    }
    std::memcpy(sink->buffer + sink->used, data, length);
    sink->used += length;
}

void PngFlush(png_structp png) {
    if (!static_cast<PngSink*>(png_get_io_ptr(png))->Flush()) png_error(png, "Write Error");
}

// The kernel that turns a source row into what the PNG row holds; null: the row is written as it is.
FrameKernelOf<> RowKernel(int32_t bitsPerPixel) {
    switch (bitsPerPixel) {
    case 16: return Gray16Scale4;       // 10-bit gray to 16 bits
    case 32: return BgrxToBgra32;       // alpha = 255 - fourth byte
    case 48: return Bgr48Scale6;        // 10-bit colour to 16 bits
    case 64: return Bgr64Scale6Opaque;  // ... and alpha 65535
    default: return nullptr;            // 8 gray and 24 BGR
    }
}

// The encoding proper. Holds no object with a destructor, so leaving it through the jump buffer is safe.
bool Encode(PngSink& sink, const ImageView& image, uint8_t* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const int bits = image.bitsPerPixel;
    const int depth = (bits == 16 || bits == 48 || bits == 64) ? 16 : 8;
    const int colourType = (bits == 8 || bits == 16)   ? PNG_COLOR_TYPE_GRAY
                           : (bits == 24 || bits == 48) ? PNG_COLOR_TYPE_RGB
                                                        : PNG_COLOR_TYPE_RGB_ALPHA;
    png_set_write_fn(png, &sink, PngWrite, PngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), depth,
                 colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_set_bgr(png);                   // rows hold blue first
    if (depth == 16) png_set_swap(png);  // rows hold samples little-endian; PNG stores them high byte first

    const FrameKernelOf<> kernel = RowKernel(bits);
    for (int32_t r = 0; r < image.height; ++r) {
        const uint8_t* source = image.bits + static_cast<size_t>(r) * image.stride;
        if (kernel != nullptr) {
            ConvertRows(kernel, image, r, 1, row, image.stride, static_cast<uint16_t>(bits / 8));
            source = row;
        }
        png_write_row(png, const_cast<png_bytep>(source));
    }
    png_write_end(png, info);
    PngFlush(png);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

int WritePngFile(const char* fileName, const ImageView& image) {
    if (fileName == nullptr || !IsSavable(image)) return 0;
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[image.stride]);
    std::unique_ptr<uint8_t[]> gathered(new (std::nothrow) uint8_t[PngSink::kCapacity]);
    if (!row || !gathered) return 0;
    OutputFile file;
    if (!file.Create(fileName)) return 0;
    PngSink sink{&file, gathered.get(), 0};
    return file.Commit(Encode(sink, image, row.get())) ? 1 : 0;
}

}  // namespace zelvik
