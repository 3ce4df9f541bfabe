// JPEG files through libjpeg: progressive, default parameters, the caller's quality, rows top first.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "imaging/Convert.h"
#include "output/OutputFile.h"
#include "output/StillImage.h"

namespace zelvik {

namespace {

constexpr int kBandRows = 16;          // rows converted and handed to the encoder per call
constexpr size_t kOutputBytes = 65536;  // encoder output gathered per write

// The standard error manager would end the process on an encoder error (a full disk, for one); this
// one shows the same message and leaves the encoding through the jump buffer instead.
struct JpegErrorManager {
    jpeg_error_mgr standard;
    jmp_buf jump;
};

[[noreturn]] void LeaveEncoder(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Destination manager writing through OutputFile; a failed write is an encoder error.
struct JpegDestination {
    jpeg_destination_mgr manager;
    OutputFile* file;
    JOCTET* buffer;
};

void StartDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    d->manager.next_output_byte = d->buffer;
    d->manager.free_in_buffer = kOutputBytes;
}

boolean EmptyDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (!d->file->Write(d->buffer, kOutputBytes)) ERREXIT(cinfo, JERR_FILE_WRITE);
    StartDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (!d->file->Write(d->buffer, kOutputBytes - d->manager.free_in_buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// The encoder reads blue-first rows itself where the library can (libjpeg-turbo's extended colour
// spaces); the file is the same as for red-first rows, without a copy of the frame.
#ifdef JCS_EXTENSIONS
constexpr bool kReadsBgr = true;
#else
constexpr bool kReadsBgr = false;
#endif

J_COLOR_SPACE InputSpace(int32_t bitsPerPixel) {
    if (bitsPerPixel <= 16) return JCS_GRAYSCALE;
#ifdef JCS_EXTENSIONS
    return bitsPerPixel == 32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
#else
    return JCS_RGB;
#endif
}

// Points the encoder at band rows starting at firstRow, converting them first where the encoder cannot
// read the image's own rows: 16-bit gray narrowed to bytes, 48/64 bits narrowed (the fourth word
// dropped), and red-first order for an encoder without the extended colour spaces.
void PrepareBand(const ImageView& image, int32_t firstRow, int32_t rows, uint8_t* band, uint32_t bandStride,
                 JSAMPROW* pointers) {
    const bool direct = image.bitsPerPixel == 8 || (kReadsBgr && (image.bitsPerPixel == 24 || image.bitsPerPixel == 32));
    if (direct) {
        for (int32_t i = 0; i < rows; ++i)
            pointers[i] = const_cast<JSAMPROW>(image.bits + static_cast<size_t>(firstRow + i) * image.stride);
        return;
    }
    if (image.bitsPerPixel == 16) {
        ConvertRows(Gray16To8, image, firstRow, rows, band, bandStride, 1);
    } else if (image.bitsPerPixel >= 48) {
        ConvertRows(Bgr48To24, image, firstRow, rows, band, bandStride, 3);
        const ImageView narrowed{band, image.width, rows, bandStride, 24, nullptr};
        if (!kReadsBgr) ConvertRows(BgrToRgb24, narrowed, 0, rows, band, bandStride, 3);
    } else {
        ConvertRows(BgrToRgb24, image, firstRow, rows, band, bandStride, 3);  // 24 and 32: fourth byte dropped
    }
    for (int32_t i = 0; i < rows; ++i) pointers[i] = band + static_cast<size_t>(i) * bandStride;
}

// The encoding proper. Holds no object with a destructor, so leaving it through the jump buffer is safe.
bool Encode(OutputFile& file, const ImageView& image, int quality, bool progressive, uint8_t* band,
            JOCTET* output) {
    jpeg_compress_struct cinfo;
    JpegErrorManager errors;
    JpegDestination destination;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = LeaveEncoder;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    destination.manager.init_destination = StartDestination;
    destination.manager.empty_output_buffer = EmptyDestination;
    destination.manager.term_destination = TermDestination;
    destination.file = &file;
    destination.buffer = output;
    cinfo.dest = &destination.manager;

    const bool gray = image.bitsPerPixel <= 16;
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.in_color_space = InputSpace(image.bitsPerPixel);
    cinfo.input_components = gray ? 1 : (image.bitsPerPixel == 32 && kReadsBgr) ? 4 : 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);

    const uint32_t bandStride = static_cast<uint32_t>(image.width) * (gray ? 1u : 3u);
    JSAMPROW pointers[kBandRows];
    while (cinfo.next_scanline < cinfo.image_height) {
        const auto first = static_cast<int32_t>(cinfo.next_scanline);
        const int32_t rows = std::min(kBandRows, image.height - first);
        PrepareBand(image, first, rows, band, bandStride, pointers);
        jpeg_write_scanlines(&cinfo, pointers, static_cast<JDIMENSION>(rows));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

int WriteJpegFile(const char* fileName, const ImageView& image, int quality, bool progressive) {
    if (fileName == nullptr || !IsSavable(image)) return 0;
    const size_t bandBytes = static_cast<size_t>(image.width) * 3 * kBandRows;
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[bandBytes]);
    std::unique_ptr<JOCTET[]> output(new (std::nothrow) JOCTET[kOutputBytes]);
    if (!band || !output) return 0;
    OutputFile file;
    if (!file.Create(fileName)) return 0;
    return file.Commit(Encode(file, image, quality, progressive, band.get(), output.get())) ? 1 : 0;
}

}  // namespace zelvik
