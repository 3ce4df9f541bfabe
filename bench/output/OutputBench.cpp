// Saving a full-resolution 24-bit frame (2592 x 1944) in every form, each next to the same file written
// by libjpeg-turbo, libpng or libtiff called directly on the same pixels (or, for BMP and raw, one plain
// write of the same bytes). Prints ours / direct from the median CPU time after the run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include "bench/RatioReporter.h"
#include "output/StillImage.h"

namespace zelvik {
namespace {

constexpr int kWidth = 2592, kHeight = 1944;

// A demosaiced-looking frame: smooth coloured shapes, fine texture and sensor noise.
struct Frame {
    std::vector<uint8_t> bytes;
    ImageView view;
    std::string dir;

    Frame() {
        const uint32_t stride = FrameStride(kWidth, 24);
        bytes.resize(size_t(stride) * kHeight);
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0.0, 2.5);
        for (int r = 0; r < kHeight; ++r)
            for (int c = 0; c < kWidth; ++c)
                for (int k = 0; k < 3; ++k) {
                    const double v = 110 + 60 * std::sin(c / (80.0 + 20 * k)) * std::cos(r / 57.0) +
                                     25 * std::sin((c + 2 * r) / (9.0 + k)) + noise(rng);
                    bytes[size_t(r) * stride + 3 * c + k] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
                }
        view = ImageView{bytes.data(), kWidth, kHeight, stride, 24, nullptr};
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp ? tmp : "/tmp") + "/zelvik-output-bench";
        std::filesystem::create_directories(dir);
    }
    ~Frame() { std::filesystem::remove_all(dir); }
    std::string Path(const char* name) const { return dir + "/" + name; }
};

Frame& TheFrame() {
    static Frame frame;
    return frame;
}

// ---- ours ----
void Ours(benchmark::State& state, int format, const char* name) {
    Frame& f = TheFrame();
    for (auto _ : state)
        if (SaveImageFile(f.Path(name).c_str(), f.view, format) != 1) state.SkipWithError("save failed");
}
void BM_Bmp(benchmark::State& s) { Ours(s, kFormatBitmap, "ours.bmp"); }
void BM_Raw(benchmark::State& s) { Ours(s, kFormatRaw, "ours.raw"); }
void BM_JpegHigh(benchmark::State& s) { Ours(s, kFormatJpegHigh, "ours-100.jpg"); }
void BM_JpegNormal(benchmark::State& s) { Ours(s, kFormatJpegNormal, "ours-70.jpg"); }
void BM_JpegLow(benchmark::State& s) { Ours(s, kFormatJpegLow, "ours-20.jpg"); }
void BM_Png(benchmark::State& s) { Ours(s, kFormatPng, "ours.png"); }
void BM_Tiff(benchmark::State& s) { Ours(s, kFormatTiff, "ours.tif"); }

// ---- the libraries called directly, as an application would ----

// The whole buffer in one write (the least any BMP or raw writer must do).
void BM_Direct_Write(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        const int fd = ::open(f.Path("direct.raw").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::write(fd, f.bytes.data(), f.bytes.size()) != static_cast<ssize_t>(f.bytes.size()))
            state.SkipWithError("write failed");
        ::close(fd);
    }
}

// libjpeg-turbo reads the blue-first rows itself (JCS_EXT_BGR), top row first; no copy at all.
void DirectJpeg(benchmark::State& state, int quality, const char* name) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        FILE* out = std::fopen(f.Path(name).c_str(), "wb");
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, out);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_simple_progression(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW rows[16];
            const int n = std::min<int>(16, kHeight - int(cinfo.next_scanline));
            for (int i = 0; i < n; ++i)
                rows[i] = const_cast<JSAMPROW>(f.view.bits + size_t(cinfo.next_scanline + i) * f.view.stride);
            jpeg_write_scanlines(&cinfo, rows, n);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::fclose(out);
    }
}
void BM_Direct_JpegHigh(benchmark::State& s) { DirectJpeg(s, 100, "direct-100.jpg"); }
void BM_Direct_JpegNormal(benchmark::State& s) { DirectJpeg(s, 70, "direct-70.jpg"); }
void BM_Direct_JpegLow(benchmark::State& s) { DirectJpeg(s, 20, "direct-20.jpg"); }

// libpng with png_set_bgr and the image's own rows.
void BM_Direct_Png(benchmark::State& state) {
    Frame& f = TheFrame();
    std::vector<png_bytep> rows(kHeight);
    for (int r = 0; r < kHeight; ++r) rows[r] = const_cast<png_bytep>(f.view.bits + size_t(r) * f.view.stride);
    for (auto _ : state) {
        FILE* out = std::fopen(f.Path("direct.png").c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, out);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                     PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        png_set_bgr(png);
        png_write_image(png, rows.data());
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
    }
}

// libtiff takes red first: the application swaps into a buffer of its own, then writes one strip.
void BM_Direct_Tiff(benchmark::State& state) {
    Frame& f = TheFrame();
    const size_t row = size_t(kWidth) * 3;
    for (auto _ : state) {
        auto* rgb = static_cast<uint8_t*>(std::malloc(row * kHeight));
        for (int r = 0; r < kHeight; ++r) {
            const uint8_t* in = f.view.bits + size_t(r) * f.view.stride;
            uint8_t* out = rgb + size_t(r) * row;
            for (int c = 0; c < kWidth; ++c, in += 3, out += 3) out[0] = in[2], out[1] = in[1], out[2] = in[0];
        }
        TIFF* tiff = TIFFOpen(f.Path("direct.tif").c_str(), "w");
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFWriteEncodedStrip(tiff, 0, rgb, static_cast<tmsize_t>(row * kHeight));
        TIFFClose(tiff);
        std::free(rgb);
    }
}

#define ZELVIK_SAVE_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)
ZELVIK_SAVE_BENCH(BM_Raw);
ZELVIK_SAVE_BENCH(BM_Bmp);
ZELVIK_SAVE_BENCH(BM_Direct_Write);
ZELVIK_SAVE_BENCH(BM_JpegHigh);
ZELVIK_SAVE_BENCH(BM_Direct_JpegHigh);
ZELVIK_SAVE_BENCH(BM_JpegNormal);
ZELVIK_SAVE_BENCH(BM_Direct_JpegNormal);
ZELVIK_SAVE_BENCH(BM_JpegLow);
ZELVIK_SAVE_BENCH(BM_Direct_JpegLow);
ZELVIK_SAVE_BENCH(BM_Png);
ZELVIK_SAVE_BENCH(BM_Direct_Png);
ZELVIK_SAVE_BENCH(BM_Tiff);
ZELVIK_SAVE_BENCH(BM_Direct_Tiff);

const std::vector<RatioReporter::Pair> kDirectPairs = {
    {"BM_Raw", "BM_Direct_Write", "raw vs one write()"},
    {"BM_Bmp", "BM_Direct_Write", "BMP vs one write() of the pixels"},
    {"BM_JpegHigh", "BM_Direct_JpegHigh", "JPEG quality 100 vs libjpeg-turbo"},
    {"BM_JpegNormal", "BM_Direct_JpegNormal", "JPEG quality 70 vs libjpeg-turbo"},
    {"BM_JpegLow", "BM_Direct_JpegLow", "JPEG quality 20 vs libjpeg-turbo"},
    {"BM_Png", "BM_Direct_Png", "PNG vs libpng"},
    {"BM_Tiff", "BM_Direct_Tiff", "TIFF vs libtiff"},
};

// The direct calls must write what ours writes, or the comparison means nothing.
void CheckSameFiles() {
    const Frame& f = TheFrame();
    const struct { const char *ours, *direct; } pairs[] = {
        {"ours-100.jpg", "direct-100.jpg"}, {"ours-70.jpg", "direct-70.jpg"}, {"ours-20.jpg", "direct-20.jpg"},
        {"ours.png", "direct.png"}, {"ours.raw", "direct.raw"}};
    for (const auto& p : pairs) {
        std::FILE* a = std::fopen(f.Path(p.ours).c_str(), "rb");
        std::FILE* b = std::fopen(f.Path(p.direct).c_str(), "rb");
        if (a == nullptr || b == nullptr) {
            if (a) std::fclose(a);
            if (b) std::fclose(b);
            continue;
        }
        int x, y;
        bool same = true;
        do {
            x = std::fgetc(a), y = std::fgetc(b);
            same = x == y;
        } while (same && x != EOF);
        std::printf("  %-14s and %-14s %s\n", p.ours, p.direct, same ? "hold the same bytes" : "DIFFER");
        std::fclose(a);
        std::fclose(b);
    }
}

}  // namespace
}  // namespace zelvik

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    zelvik::TheFrame();
    zelvik::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios("ours / direct (2592 x 1944, 24 bits, CPU time, medians when repeated):", zelvik::kDirectPairs);
    zelvik::CheckSameFiles();
    benchmark::Shutdown();
    return 0;
}
