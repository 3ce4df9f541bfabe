// TIFF files through libtiff: uncompressed, one strip, contiguous samples, rows top first and packed.
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/Convert.h"
#include "output/OutputFile.h"
#include "output/StillImage.h"
#include "platform/NoPipeSignal.h"

namespace zelvik {

namespace {

struct FreeBytes {
    void operator()(uint8_t* p) const { std::free(p); }
};

struct TiffLayout {
    uint16_t bitsPerSample;
    uint16_t photometric;
    uint16_t samplesPerPixel;
    FrameKernelOf<> kernel;  // null: the rows are copied as they are
};

TiffLayout LayoutFor(int32_t bitsPerPixel) {
    switch (bitsPerPixel) {
    case 8: return {8, PHOTOMETRIC_MINISBLACK, 1, nullptr};
    case 16: return {16, PHOTOMETRIC_MINISBLACK, 1, Gray16Scale4};
    case 24: return {8, PHOTOMETRIC_RGB, 3, BgrToRgb24};
    case 32: return {8, PHOTOMETRIC_RGB, 4, BgrToRgb24};  // fourth sample left 0
    case 48: return {16, PHOTOMETRIC_RGB, 3, BgrToRgb48Scale6};
    default: return {16, PHOTOMETRIC_RGB, 4, BgrToRgb64Scale6Opaque};
    }
}

bool Encode(TIFF* tiff, const ImageView& image, const TiffLayout& layout, const uint8_t* strip, size_t bytes) {
    return TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width)) == 1 &&
           TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height)) == 1 &&
           TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1 &&
           TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
           TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample) == 1 &&
           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric) == 1 &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel) == 1 &&
           // -1 is libtiff's failure; a short strip would be one too
           TIFFWriteEncodedStrip(tiff, 0, const_cast<uint8_t*>(strip), static_cast<tmsize_t>(bytes)) ==
               static_cast<tmsize_t>(bytes) &&
           TIFFFlush(tiff) == 1;  // the directory reaches the file here; TIFFClose reports nothing
}

}  // namespace

int WriteTiffFile(const char* fileName, const ImageView& image) {
    if (fileName == nullptr || !IsSavable(image)) return 0;
    const TiffLayout layout = LayoutFor(image.bitsPerPixel);
    // The strip holds packed rows (width x bytes per pixel), whatever padding the buffer's rows carry.
    const uint32_t packed = image.RowBytes();
    const size_t bytes = static_cast<size_t>(packed) * static_cast<size_t>(image.height);
    std::unique_ptr<uint8_t, FreeBytes> scratch;
    const uint8_t* strip = image.bits;
    if (layout.kernel != nullptr || packed != image.stride) {
        scratch.reset(static_cast<uint8_t*>(std::calloc(bytes, 1)));
        if (!scratch) return 0;
        if (layout.kernel != nullptr) {
            ConvertRows(layout.kernel, image, 0, image.height, scratch.get(), packed,
                        static_cast<uint16_t>(image.bitsPerPixel / 8));
        } else {
            for (int32_t r = 0; r < image.height; ++r)
                std::memcpy(scratch.get() + static_cast<size_t>(r) * packed,
                            image.bits + static_cast<size_t>(r) * image.stride, packed);
        }
        strip = scratch.get();
    }

    OutputFile file;
    if (!file.Create(fileName)) return 0;
    // libtiff closes the descriptor it is given; it gets its own, while file keeps the name for removal.
    const int fd = ::dup(file.Descriptor());
    TIFF* tiff = fd >= 0 ? TIFFFdOpen(fd, fileName, "w") : nullptr;
    if (tiff == nullptr) {
        if (fd >= 0) ::close(fd);
        file.Discard();
        return 0;
    }
    bool written;
    {
        // libtiff writes through its own descriptor: a pipe's lost reader must not raise SIGPIPE there
        // either.
        const NoPipeSignal quiet(!file.IsRegular());
        written = Encode(tiff, image, layout, strip, bytes);
        TIFFClose(tiff);
    }
    return file.Commit(written) ? 1 : 0;
}

}  // namespace zelvik
