// Still image files: exact BMP and raw layouts, every depth in every encoded form read back by libpng,
// libtiff and libjpeg, refused input, truncation, concurrent saves and failed writes.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include <thread>

#include "OutputTestUtil.h"
#include "imaging/FrameBuffer.h"
#include "output/StillImage.h"

namespace zelvik::test {
namespace {

namespace fs = std::filesystem;
constexpr int kDepths[] = {8, 16, 24, 32, 48, 64};

TEST(StillImageBmp, EightBitFrameBufferHasGrayTableAndBottomLineFirst) {
    TempDir dir;
    FrameBuffer image;
    ASSERT_EQ(image.Create(640, 480, 8), 1);
    for (int r = 0; r < 480; ++r) std::memset(image.Bits() + r * image.Stride(), r % 251, image.Stride());
    ASSERT_EQ(SaveImageFile((dir.path() / "gray.bmp").c_str(), &image, kFormatBitmap), 1);

    const auto file = ReadFile(dir.path() / "gray.bmp");
    ASSERT_EQ(file.size(), 308278u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(file, 2), 308278u);  // bfSize
    EXPECT_EQ(Le32(file, 10), 1078u);   // bfOffBits
    EXPECT_EQ(Le32(file, 14), 40u);
    EXPECT_EQ(static_cast<int32_t>(Le32(file, 22)), 480);
    EXPECT_EQ(Le16(file, 28), 8);
    for (int i : {0, 1, 128, 255}) EXPECT_EQ(Le32(file, 54 + 4 * i), uint32_t(i) * 0x010101u) << "entry " << i;
    EXPECT_EQ(file[1078], 479 % 251);            // the bottom line of the picture comes first
    EXPECT_EQ(file[1078 + 479 * 640], 0);        // and the top line last
}

TEST(StillImageBmp, PaddedRowsKeepTheirStrideAndRawDumpIsTheMemory) {
    TempDir dir;
    const PatternImage image = MakePattern(24, 641, 480);
    ASSERT_EQ(image.view.stride, 1924u);
    ASSERT_EQ(SaveImageFile((dir.path() / "p.bmp").c_str(), image.view, kFormatBitmap), 1);
    ASSERT_EQ(SaveImageFile((dir.path() / "p.raw").c_str(), image.view, kFormatRaw), 1);

    const auto bmp = ReadFile(dir.path() / "p.bmp");
    ASSERT_EQ(bmp.size(), 923574u);
    EXPECT_EQ(Le32(bmp, 2), 923574u);
    EXPECT_EQ(Le32(bmp, 10), 54u);
    EXPECT_EQ(Le16(bmp, 28), 24);
    for (int row : {0, 1, 479})  // file row i is memory row 479 - i, padding included
        EXPECT_TRUE(std::equal(bmp.begin() + 54 + row * 1924, bmp.begin() + 54 + (row + 1) * 1924,
                               image.bytes.begin() + (479 - row) * 1924))
            << "file row " << row;
    EXPECT_EQ(ReadFile(dir.path() / "p.raw"), image.bytes);  // 923520 bytes, top line first
}

TEST(StillImageBmp, EveryDepthStoresItsSamplesAsTheyAre) {
    TempDir dir;
    for (int bits : kDepths) {
        const PatternImage image = MakePattern(bits, 5, 3);
        const fs::path path = dir.path() / ("d" + std::to_string(bits) + ".bmp");
        ASSERT_EQ(SaveImageFile(path.c_str(), image.view, kFormatBitmap), 1) << bits;
        const auto file = ReadFile(path);
        const size_t offset = bits == 8 ? 1078 : 54;
        EXPECT_EQ(Le16(file, 28), bits);
        ASSERT_EQ(file.size(), offset + image.bytes.size()) << bits;
        EXPECT_TRUE(std::equal(file.begin() + offset, file.begin() + offset + image.view.stride,
                               image.bytes.begin() + 2 * image.view.stride))
            << bits << ": the first row in the file is the last in memory";
    }
}

// The model of what each form holds, in file order (red first for colour), for pixel (r, c) channel k.
uint32_t PngSample(int bits, int r, int c, int k) {
    const int source = (bits <= 16) ? 0 : 2 - k;  // k = 0, 1, 2 is red, green, blue; blue is stored first
    switch (bits) {
    case 8: return Sample8(r, c, 0);
    case 16: return Sample10(r, c, 0) << 4;
    case 24: return Sample8(r, c, source);
    case 32: return k == 3 ? 255u - Fourth8(c) : Sample8(r, c, source);
    case 48: return Sample10(r, c, source) << 6;
    default: return k == 3 ? 65535u : Sample10(r, c, source) << 6;
    }
}
uint32_t TiffSample(int bits, int r, int c, int k) {
    if (bits == 32 && k == 3) return 0;  // the fourth sample is not written
    return PngSample(bits, r, c, k);
}

struct Layout {
    int bits, channels, bitDepth, pngColourType, tiffPhotometric;
};
constexpr Layout kLayouts[] = {
    {8, 1, 8, PNG_COLOR_TYPE_GRAY, 1}, {16, 1, 16, PNG_COLOR_TYPE_GRAY, 1}, {24, 3, 8, PNG_COLOR_TYPE_RGB, 2},
    {32, 4, 8, PNG_COLOR_TYPE_RGB_ALPHA, 2}, {48, 3, 16, PNG_COLOR_TYPE_RGB, 2}, {64, 4, 16, PNG_COLOR_TYPE_RGB_ALPHA, 2},
};

void ExpectSamples(const Decoded& d, const Layout& l, uint32_t (*model)(int, int, int, int), int width, int height) {
    ASSERT_EQ(d.width, width);
    ASSERT_EQ(d.height, height);
    ASSERT_EQ(d.channels, l.channels);
    ASSERT_EQ(d.bitDepth, l.bitDepth);
    ASSERT_EQ(d.samples.size(), size_t(width) * height * l.channels);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            for (int k = 0; k < l.channels; ++k)
                ASSERT_EQ(d.At(r, c, k), model(l.bits, r, c, k)) << "row " << r << " column " << c << " channel " << k;
}

TEST(StillImagePngTiff, EveryDepthReadsBackWithWidenedSamplesRgbOrderAndAlpha) {
    TempDir dir;
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(testing::Message() << l.bits << " bits");
        const PatternImage image = MakePattern(l.bits, 7, 5);  // 7 columns: padded rows at every depth but 32/64
        const fs::path png = dir.path() / "i.png", tif = dir.path() / "i.tif";
        ASSERT_EQ(SaveImageFile(png.c_str(), image.view, kFormatPng), 1);
        ASSERT_EQ(SaveImageFile(tif.c_str(), image.view, kFormatTiff), 1);

        const Decoded p = DecodePng(png);
        EXPECT_EQ(p.colourType, l.pngColourType);
        ExpectSamples(p, l, PngSample, 7, 5);
        const Decoded t = DecodeTiff(tif);
        EXPECT_EQ(t.photometric, l.tiffPhotometric);
        ExpectSamples(t, l, TiffSample, 7, 5);
    }
    // The corner sample 1023 widens to 16368 in a gray file and 65472 in a colour one.
    EXPECT_EQ(PngSample(16, 0, 0, 0), 16368u);
    EXPECT_EQ(PngSample(48, 0, 0, 2), 65472u);
}

TEST(StillImageJpeg, ThreeQualitiesAllProgressive) {
    TempDir dir;
    const PatternImage image = MakePattern(8, 33, 17);
    // Luminance table entry 0 of the standard table is 16; quality 70 scales it by 0.6, quality 20 by 2.5.
    const struct { int format, quant0; } cases[] = {{kFormatJpegHigh, 1}, {kFormatJpegNormal, 10}, {kFormatJpegLow, 40}};
    for (const auto& c : cases) {
        const fs::path path = dir.path() / "q.jpg";
        ASSERT_EQ(SaveImageFile(path.c_str(), image.view, c.format), 1);
        const Decoded d = DecodeJpeg(path);
        EXPECT_TRUE(d.progressive) << c.format;
        EXPECT_EQ(d.lumaQuant0, c.quant0) << c.format;
    }
}

TEST(StillImageJpeg, GrayDepthsDecodeToTheNarrowedSamplesTopRowFirst) {
    TempDir dir;
    for (int bits : {8, 16}) {
        const PatternImage image = MakePattern(bits, 33, 17);
        const fs::path path = dir.path() / "g.jpg";
        ASSERT_EQ(SaveImageFile(path.c_str(), image.view, kFormatJpegHigh), 1);
        const Decoded d = DecodeJpeg(path);
        ASSERT_EQ(d.channels, 1);
        ASSERT_EQ(d.width, 33);
        ASSERT_EQ(d.height, 17);
        for (int r = 0; r < 17; ++r)
            for (int c = 0; c < 33; ++c)
                ASSERT_NEAR(int(d.At(r, c, 0)), Sample8(r, c, 0), 2) << bits << " bits, row " << r << " column " << c;
    }
}

TEST(StillImageJpeg, ColourDepthsGiveTheSameFileAndRedFirstUpright) {
    TempDir dir;
    // Flat colours in 8-row blocks (no chroma detail to blur): top half (B, G, R) = (10, 100, 200), bottom
    // half (200, 30, 60); the 16-bit depths carry the same bytes shifted left by 2.
    std::vector<std::vector<uint8_t>> files;
    for (int bits : {24, 32, 48, 64}) {
        PatternImage image = MakePattern(bits, 16, 16);
        const int bpp = bits / 8;
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) {
                const uint8_t bgr[2][3] = {{10, 100, 200}, {200, 30, 60}};
                uint8_t* px = image.bytes.data() + r * image.view.stride + c * bpp;
                for (int k = 0; k < 3; ++k) {
                    const uint8_t v = bgr[r < 8 ? 0 : 1][k];
                    if (bits <= 32) px[k] = v;
                    else px[2 * k] = uint8_t(v << 2), px[2 * k + 1] = uint8_t(v >> 6);
                }
            }
        const fs::path path = dir.path() / ("c" + std::to_string(bits) + ".jpg");
        ASSERT_EQ(SaveImageFile(path.c_str(), image.view, kFormatJpegHigh), 1);
        files.push_back(ReadFile(path));
        if (bits == 24) {
            const Decoded d = DecodeJpeg(path);
            ASSERT_EQ(d.channels, 3);
            EXPECT_NEAR(int(d.At(2, 5, 0)), 200, 3);  // red first, top block on top
            EXPECT_NEAR(int(d.At(2, 5, 1)), 100, 3);
            EXPECT_NEAR(int(d.At(2, 5, 2)), 10, 3);
            EXPECT_NEAR(int(d.At(13, 5, 0)), 60, 3);
            EXPECT_NEAR(int(d.At(13, 5, 2)), 200, 3);
        }
    }
    for (size_t i = 1; i < files.size(); ++i) EXPECT_EQ(files[i], files[0]) << "depth " << i;
}

TEST(StillImageSave, RefusedInputCreatesNoFileAndLeavesExistingFilesAlone) {
    TempDir dir;
    const PatternImage image = MakePattern(24, 8, 4);
    std::ofstream(dir.path() / "keep.bmp") << "precious";
    std::ofstream(dir.path() / "plain-file") << "x";
    fs::create_directory(dir.path() / "folder");
    ImageView noPixels = image.view;
    noPixels.bits = nullptr;
    ImageView oddDepth = image.view;
    oddDepth.bitsPerPixel = 12;
    ImageView shortStride = image.view;
    shortStride.stride = 20;  // 8 x 3 bytes do not fit

    const struct {
        const char* what;
        std::string name;
        ImageView view;
        int format;
    } cases[] = {
        {"format 7", (dir.path() / "a.bmp").string(), image.view, 7},
        {"format -1", (dir.path() / "b.bmp").string(), image.view, -1},
        {"format 7 on an existing file", (dir.path() / "keep.bmp").string(), image.view, 7},
        {"no pixels", (dir.path() / "c.png").string(), noPixels, kFormatPng},
        {"no colour-mode depth", (dir.path() / "d.tif").string(), oddDepth, kFormatTiff},
        {"rows longer than the stride", (dir.path() / "e.raw").string(), shortStride, kFormatRaw},
        {"empty name", "", image.view, kFormatBitmap},
        {"a directory", (dir.path() / "folder").string(), image.view, kFormatJpegHigh},
        {"a folder that is a file", (dir.path() / "plain-file" / "x.png").string(), image.view, kFormatPng},
        {"a missing folder", (dir.path() / "missing" / "x.tif").string(), image.view, kFormatTiff},
    };
    for (const auto& c : cases) EXPECT_EQ(SaveImageFile(c.name.c_str(), c.view, c.format), 0) << c.what;
    for (int format = 0; format <= kFormatTiff; ++format) {
        EXPECT_EQ(SaveImageFile(nullptr, image.view, format), 0) << format;
        EXPECT_EQ(SaveImageFile((dir.path() / "n").c_str(), static_cast<const FrameBuffer*>(nullptr), format), 0) << format;
    }
    FrameBuffer empty;
    EXPECT_EQ(SaveImageFile((dir.path() / "n").c_str(), &empty, kFormatRaw), 0);

    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"folder", "keep.bmp", "plain-file"}));
    std::ifstream kept(dir.path() / "keep.bmp");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");
}

TEST(StillImageSave, NonAsciiNamesAndSavingTwiceTruncates) {
    TempDir dir;
    const fs::path path = dir.path() / "Bild-画像-ß.png";
    const PatternImage big = MakePattern(48, 300, 200), small = MakePattern(8, 4, 3);
    for (int format = 0; format <= kFormatTiff; ++format) {
        ASSERT_EQ(SaveImageFile(path.c_str(), big.view, format), 1) << format;
        const auto bigSize = fs::file_size(path);
        ASSERT_EQ(SaveImageFile(path.c_str(), small.view, format), 1) << format;
        EXPECT_LT(fs::file_size(path), bigSize / 10) << format;
    }
    EXPECT_EQ(DecodeTiff(path).width, 4);  // the last save, whole and alone in the file
}

TEST(StillImageSave, PngAndJpegSavesOnTwoThreadsAtOnce) {
    TempDir dir;
    const PatternImage image = MakePattern(64, 120, 90);
    std::atomic<int> failures{0};
    auto saver = [&](int format, const std::string& name) {
        for (int i = 0; i < 20; ++i)
            if (SaveImageFile((dir.path() / name).c_str(), image.view, format) != 1) ++failures;
    };
    std::thread a(saver, kFormatPng, "a.png"), b(saver, kFormatJpegNormal, "b.jpg"), c(saver, kFormatPng, "c.png");
    a.join(), b.join(), c.join();
    EXPECT_EQ(failures.load(), 0);
    ExpectSamples(DecodePng(dir.path() / "a.png"), kLayouts[5], PngSample, 120, 90);
    ExpectSamples(DecodePng(dir.path() / "c.png"), kLayouts[5], PngSample, 120, 90);
    EXPECT_EQ(DecodeJpeg(dir.path() / "b.jpg").width, 120);
}

// Noise, so that every form (JPEG of quality 20 included) is far larger than the room a test leaves.
PatternImage Noise(int bits, int width, int height) {
    PatternImage image = MakePattern(bits, width, height);
    uint32_t x = 12345;
    for (uint8_t& b : image.bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 23);
    return image;
}

TEST(StillImageSave, AFailedWriteReturnsZeroAndLeavesNoFile) {
    TempDir dir;
    const PatternImage image = Noise(24, 800, 600);
    for (int format = 0; format <= kFormatTiff; ++format) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        const fs::path path = dir.path() / "full";
        std::ofstream(path) << "an older picture";
        {
            FileSizeLimit limit(64 * 1024);  // the file may not grow past 64 KiB: the disk is "full"
            EXPECT_EQ(SaveImageFile(path.c_str(), image.view, format), 0);
        }
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST(StillImageSave, AFullDiskLeavesNoFile) {
    SmallDisk disk(64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    const PatternImage image = Noise(32, 800, 600);
    for (int format = 0; format <= kFormatTiff; ++format) {
        const fs::path path = disk.Path() / "x";
        EXPECT_EQ(SaveImageFile(path.c_str(), image.view, format), 0) << format;
        EXPECT_FALSE(fs::exists(path)) << format;
    }
    const PatternImage fits = MakePattern(32, 40, 30);
    EXPECT_EQ(SaveImageFile((disk.Path() / "y.png").c_str(), fits.view, kFormatPng), 1);
}

}  // namespace
}  // namespace zelvik::test
