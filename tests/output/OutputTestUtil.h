// Shared helpers of the output tests: a patterned image of every depth, file reading, independent
// decoders (libpng, libtiff, libjpeg) and a small disk that fills.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "output/StillImage.h"
#include "tests/support/TempDir.h"

namespace zelvik::test {

// A source image laid out like a FrameBuffer. Channel k of pixel (row r, column c) carries the 10-bit
// value Sample10(r, c, k) (1023 at the top-left corner; blue, green and red all differ); 8-bit
// depths hold Sample10 >> 2. The fourth byte of 32-bit pixels is Fourth8(c) (0 in column 0), the fourth
// word of 64-bit pixels 5. Row padding is filled with 0xEE so that it shows if it leaks.
struct PatternImage {
    std::vector<uint8_t> bytes;
    ImageView view;
};

inline uint32_t Sample10(int r, int c, int k) { return 1023 - static_cast<uint32_t>((r * 97 + c * 31 + k * 211) % 1024); }
inline uint8_t Sample8(int r, int c, int k) { return static_cast<uint8_t>(Sample10(r, c, k) >> 2); }
inline uint8_t Fourth8(int c) { return static_cast<uint8_t>(c * 57 % 256); }

inline PatternImage MakePattern(int bits, int width, int height) {
    PatternImage p;
    const uint32_t bpp = static_cast<uint32_t>(bits / 8);
    const uint32_t stride = (width * bpp + 3) & ~3u;
    p.bytes.assign(static_cast<size_t>(stride) * height, 0xEE);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            uint8_t* px = p.bytes.data() + static_cast<size_t>(r) * stride + c * bpp;
            auto word = [&](int k, uint32_t v) {
                px[2 * k] = static_cast<uint8_t>(v);
                px[2 * k + 1] = static_cast<uint8_t>(v >> 8);
            };
            switch (bits) {
            case 8: px[0] = Sample8(r, c, 0); break;
            case 16: word(0, Sample10(r, c, 0)); break;
            case 24:
            case 32:
                for (int k = 0; k < 3; ++k) px[k] = Sample8(r, c, k);
                if (bits == 32) px[3] = Fourth8(c);
                break;
            default:
                for (int k = 0; k < 3; ++k) word(k, Sample10(r, c, k));
                if (bits == 64) word(3, 5);
            }
        }
    p.view = ImageView{p.bytes.data(), width, height, stride, bits, nullptr};
    return p;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t(b.at(at + 3)) << 24;
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8); }

// A decoded image: samples (8 or 16 bits each) in file order, top row first.
struct Decoded {
    int width = 0, height = 0, channels = 0, bitDepth = 0;
    int colourType = -1;            // PNG colour type
    int photometric = -1;           // TIFF photometric interpretation
    bool progressive = false;       // JPEG
    int lumaQuant0 = 0;             // JPEG: first entry of the luminance quantisation table
    std::vector<uint32_t> samples;  // width x height x channels

    uint32_t At(int r, int c, int k) const { return samples.at((static_cast<size_t>(r) * width + c) * channels + k); }
};

Decoded DecodePng(const std::filesystem::path& path);
Decoded DecodeTiff(const std::filesystem::path& path);
Decoded DecodeJpeg(const std::filesystem::path& path);

// "width,height,frames" of the first video stream as ffprobe counts it, or the error it printed.
std::string ProbeVideo(const std::filesystem::path& path);
// The frames ffmpeg decodes from path, as packed BGR rows, top row first.
std::vector<uint8_t> DecodeVideoBgr(const std::filesystem::path& path);

// A small tmpfs of the given size, mounted for the test's life (root only; otherwise Mounted() is false
// and Why() says what the system answered); read-only when asked.
class SmallDisk {
public:
    explicit SmallDisk(size_t bytes, bool readOnly = false);
    ~SmallDisk();
    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }
    std::filesystem::path Path() const { return dir_.path(); }

private:
    TempDir dir_;
    bool mounted_ = false;
    std::string why_;
};

// While alive, no file of this process may grow past bytes (writes beyond fail with EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();

private:
    uint64_t previous_ = 0;
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace zelvik::test
