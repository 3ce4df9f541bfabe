// The delivered picture: window, skip and mirror on a raw mosaic, levels, scenes, scene files, timing.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "emulator/Firmware.h"
#include "emulator/ImageFiles.h"
#include "emulator/RegisterMap.h"
#include "emulator/Scene.h"
#include "tests/emulator/Wire.h"

namespace zelvik::emu::test {
namespace {

std::shared_ptr<const Scene> CountingMosaic(int width, int height, int modulus) {
    Image gray{width, height, 1, std::vector<uint8_t>(static_cast<size_t>(width) * height)};
    for (size_t i = 0; i < gray.pixels.size(); ++i) gray.pixels[i] = static_cast<uint8_t>(i % modulus);
    return MosaicScene(std::move(gray), "counting");
}

FirmwareOptions UnpacedWith(std::shared_ptr<const Scene> scene, Protocol protocol = Protocol::Word) {
    FirmwareOptions options;
    options.protocol = protocol;
    options.paced = false;
    options.scene = std::move(scene);
    return options;
}

// --- Window, skip and mirror, exactly, on an 8 x 4 mosaic holding 0..31 ---

struct WindowCase {
    const char* name;
    int x, y, width, height;
    uint16_t rowSkip, columnSkip;
    bool mirror;
    std::vector<uint8_t> expected;
};

void PrintTo(const WindowCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowOnMosaic : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WindowOnMosaic, DeliversExactlyTheWindowsPixels) {
    const WindowCase& c = GetParam();
    for (Protocol protocol : {Protocol::Word, Protocol::Byte}) {
        SCOPED_TRACE(ProtocolName(protocol));
        Firmware firmware(UnpacedWith(CountingMosaic(8, 4, 256), protocol));
        Wire wire(firmware);
        wire.SetWindow(c.x, c.y, c.width, c.height, c.rowSkip, c.columnSkip);
        wire.WriteRegister(reg::kReadMode, c.mirror ? 0x8040 : 0x0040);
        const size_t bytes = firmware.Window().FrameBytes();
        ASSERT_EQ(bytes, c.expected.size());
        const std::vector<uint8_t> frame = wire.ReadFrame(RoundUp512(bytes));
        EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + bytes), c.expected);
        EXPECT_TRUE(std::all_of(frame.begin() + bytes, frame.end(), [](uint8_t b) { return b == 0; }))
            << "padding to 512 must be zero";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixture8x4, WindowOnMosaic,
    ::testing::Values(
        WindowCase{"Whole", 0, 0, 8, 4, 0, 0, false, [] {
                       std::vector<uint8_t> v(32);
                       std::iota(v.begin(), v.end(), 0);
                       return v;
                   }()},
        WindowCase{"Offset", 2, 1, 4, 2, 0, 0, false, {10, 11, 12, 13, 18, 19, 20, 21}},
        WindowCase{"HalfKeepsBayerPairs", 0, 0, 8, 4, 1, 1, false, {0, 1, 4, 5, 8, 9, 12, 13}},
        WindowCase{"HalfMirrored", 0, 0, 8, 4, 1, 1, true, {8, 9, 12, 13, 0, 1, 4, 5}},
        WindowCase{"OddHeightMirrored", 2, 1, 4, 3, 0, 0, true, {26, 27, 28, 29, 18, 19, 20, 21, 10, 11, 12, 13}},
        WindowCase{"QuarterColumnsOnly", 0, 0, 8, 4, 0, 3, false, {0, 1, 8, 9, 16, 17, 24, 25}},
        WindowCase{"BeyondTheMosaicReadsZero", 6, 2, 4, 2, 0, 0, false, {22, 23, 0, 0, 30, 31, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// A larger fixture against a direct model of the read-out: output (c, r) is mosaic pixel
// (x + (c/2)*2s + c%2, y + (r'/2)*2s + r'%2), r' = r or, mirrored, rows - 1 - r.
TEST(Picture, WindowSkipMirrorMatchTheReadoutModel) {
    constexpr int kW = 40, kH = 30;
    auto mosaic = CountingMosaic(kW, kH, 251);
    const MosaicView view = mosaic->Frame(0);
    struct Case {
        int x, y, w, h;
        uint16_t skip;
        bool mirror;
    };
    const Case cases[] = {{0, 0, 40, 30, 0, false}, {3, 5, 17, 11, 0, true}, {1, 2, 36, 26, 1, false},
                          {4, 0, 32, 28, 3, true},  {0, 0, 40, 30, 7, false}, {7, 3, 9, 9, 1, true}};
    Firmware firmware(UnpacedWith(mosaic));
    Wire wire(firmware);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h << " skip " << c.skip
                                          << (c.mirror ? " mirrored" : ""));
        wire.SetWindow(c.x, c.y, c.w, c.h, c.skip, c.skip);
        wire.WriteWord(reg::kReadMode, c.mirror ? 0x8000 : 0);
        const int s = c.skip + 1, outW = c.w / s, outH = c.h / s;
        const std::vector<uint8_t> frame = wire.ReadFrame(RoundUp512(static_cast<size_t>(outW) * outH));
        for (int r = 0; r < outH; ++r) {
            const int rr = c.mirror ? outH - 1 - r : r;
            for (int col = 0; col < outW; ++col) {
                const int mx = c.x + (col / 2) * 2 * s + col % 2, my = c.y + (rr / 2) * 2 * s + rr % 2;
                ASSERT_EQ(frame[static_cast<size_t>(r) * outW + col], view.data[my * kW + mx])
                    << "row " << r << " column " << col;
            }
        }
    }
}

TEST(Picture, MosaicIgnoresGainsAndExposureAndWindowIsClampedToTheSensor) {
    Firmware firmware(UnpacedWith(CountingMosaic(8, 4, 256)));
    Wire wire(firmware);
    wire.SetWindow(0, 0, 8, 4);
    const std::vector<uint8_t> before = wire.ReadFrame(512);
    for (uint16_t address : {reg::kGlobalGain, reg::kWordGainRed, reg::kWordGainGreen1, reg::kExposure}) {
        wire.WriteWord(address, 60);
    }
    EXPECT_EQ(wire.ReadFrame(512), before);

    wire.SetWindow(kSensorWidth - 2, 0, 100, 4);  // runs off the right edge of the array
    EXPECT_EQ(firmware.Window().width, 2);
    EXPECT_EQ(firmware.Window().FrameBytes(), 8u);
}

TEST(Picture, MosaicFileIsDeliveredAsItStands) {
    const std::string path = ::testing::TempDir() + "/zelvik_mosaic_fixture.pgm";
    Image gray{4, 2, 1, {9, 8, 7, 6, 5, 4, 3, 2}};
    ASSERT_TRUE(SaveGrayImage(path, gray));
    std::string error;
    auto scene = LoadMosaic(path, &error);
    ASSERT_TRUE(scene) << error;
    Firmware firmware(UnpacedWith(scene));
    Wire wire(firmware);
    wire.SetWindow(0, 0, 4, 2);
    const std::vector<uint8_t> frame = wire.ReadFrame(512);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 8), gray.pixels);
    std::remove(path.c_str());
}

// --- Levels: colour gains, global gain and exposure on a uniform gray picture of 64 ---

struct LevelCase {
    const char* name;
    Protocol protocol;
    uint16_t address, value;
    std::array<uint8_t, 4> expected;  // G1, R, B, G2
};

void PrintTo(const LevelCase& c, std::ostream* os) {
    *os << c.name;
}

class Levels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(Levels, RegistersScaleTheirSites) {
    const LevelCase& c = GetParam();
    Image gray{4, 3, 3, std::vector<uint8_t>(36, 64)};
    Firmware firmware(UnpacedWith(PictureScene(gray, "gray"), c.protocol));
    Wire wire(firmware);
    wire.SetWindow(0, 0, 4, 2);
    if (c.address != 0) wire.WriteRegister(c.address, c.value);
    const std::vector<uint8_t> f = wire.ReadFrame(512);
    // Even rows G1 R G1 R, odd rows B G2 B G2.
    EXPECT_EQ((std::array<uint8_t, 4>{f[0], f[1], f[4], f[5]}), c.expected);
    EXPECT_EQ((std::array<uint8_t, 4>{f[2], f[3], f[6], f[7]}), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    BothProtocols, Levels,
    ::testing::Values(LevelCase{"PowerUpIsUnity", Protocol::Word, 0, 0, {64, 64, 64, 64}},
                      LevelCase{"WordRed", Protocol::Word, 0x2D, 48, {64, 128, 64, 64}},
                      LevelCase{"WordGreen1", Protocol::Word, 0x2B, 0, {32, 64, 64, 64}},
                      LevelCase{"WordBlueClips", Protocol::Word, 0x2C, 127, {64, 64, 255, 64}},
                      LevelCase{"WordGreen2", Protocol::Word, 0x2E, 32, {64, 64, 64, 96}},
                      LevelCase{"GlobalGain", Protocol::Word, 0x35, 48, {128, 128, 128, 128}},
                      LevelCase{"ExposureHalf", Protocol::Word, 9, 550, {32, 32, 32, 32}},
                      LevelCase{"ByteRed", Protocol::Byte, 0x2A, 48, {64, 128, 64, 64}},
                      LevelCase{"ByteGreen2At2C", Protocol::Byte, 0x2C, 48, {64, 64, 64, 128}},
                      LevelCase{"ByteBlue", Protocol::Byte, 0x28, 0, {64, 64, 32, 64}},
                      LevelCase{"ByteExposureDouble", Protocol::Byte, 9, 2200, {128, 128, 128, 128}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Scenes ---

TEST(Scenes, DefaultBarsAreLitColouredAndOnTheDocumentedSites) {
    Firmware firmware(UnpacedWith(nullptr));
    Wire wire(firmware);
    const size_t bytes = firmware.Window().FrameBytes();
    ASSERT_EQ(bytes, 2592u * 1944u);
    const std::vector<uint8_t> f = wire.ReadFrame(RoundUp512(bytes));
    const double mean = std::accumulate(f.begin(), f.begin() + bytes, 0.0) / bytes;
    EXPECT_GT(mean, 60.0);
    // Bar 0 is white, bar 2 cyan (no red), bar 5 red (no green); bars are 324 columns wide.
    auto at = [&](int row, int column) { return f[static_cast<size_t>(row) * 2592 + column]; };
    EXPECT_EQ(at(0, 0), 191);        // G1 under white
    EXPECT_EQ(at(0, 1), 191);        // R under white
    EXPECT_EQ(at(1, 0), 191);        // B under white
    EXPECT_EQ(at(0, 648 + 1), 0);    // R under cyan
    EXPECT_EQ(at(0, 648), 191);      // G1 under cyan
    EXPECT_EQ(at(0, 1620 + 1), 191); // R under red
    EXPECT_EQ(at(0, 1620), 0);       // G1 under red
}

TEST(Scenes, MovingPatternMovesAndRepeats) {
    Firmware firmware(UnpacedWith(MovingScene()));
    Wire wire(firmware);
    wire.SetWindow(0, 0, 64, 4);
    const std::vector<uint8_t> first = wire.ReadFrame(512);
    const std::vector<uint8_t> second = wire.ReadFrame(512);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 8, first.begin() + 64),
              std::vector<uint8_t>(second.begin(), second.begin() + 56))
        << "the pattern moves 8 columns to the left per frame";
    std::vector<uint8_t> later;
    for (int i = 2; i < 65; ++i) later = wire.ReadFrame(512);  // 512-column period, 8 per frame
    EXPECT_EQ(later, first);
}

// Scene files of one colour (200, 100, 50) in every accepted format.
void WritePng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 3;
    image.height = 2;
    image.format = PNG_FORMAT_RGB;
    const uint8_t pixels[18] = {200, 100, 50, 200, 100, 50, 200, 100, 50, 200, 100, 50, 200, 100, 50, 200, 100, 50};
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr)) << image.message;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Ppm16() {
    std::string ppm = "P6\n# sixteen bits\n3 2\n65535\n";
    for (int i = 0; i < 6; ++i) {
        for (int value : {200 * 257, 100 * 257, 50 * 257}) ppm += {static_cast<char>(value >> 8), static_cast<char>(value)};
    }
    return ppm;
}

TEST(Scenes, PictureFilesAreMosaickedOnTheSites) {
    const std::string dir = ::testing::TempDir();
    std::string ppm8 = "P6 3 2 255\n";
    for (int i = 0; i < 6; ++i) ppm8 += {static_cast<char>(200), 100, 50};
    WritePng(dir + "/zelvik_scene.png");
    WriteFile(dir + "/zelvik_scene8.ppm", ppm8);
    WriteFile(dir + "/zelvik_scene16.ppm", Ppm16());
    for (const char* name : {"zelvik_scene.png", "zelvik_scene8.ppm", "zelvik_scene16.ppm"}) {
        SCOPED_TRACE(name);
        std::string error;
        auto scene = LoadScene(dir + "/" + name, &error);
        ASSERT_TRUE(scene) << error;
        Firmware firmware(UnpacedWith(scene));
        Wire wire(firmware);
        wire.SetWindow(100, 100, 4, 2);
        const std::vector<uint8_t> f = wire.ReadFrame(512);
        EXPECT_EQ((std::vector<uint8_t>(f.begin(), f.begin() + 8)),
                  (std::vector<uint8_t>{100, 200, 100, 200, 50, 100, 50, 100}));
        std::remove((dir + "/" + name).c_str());
    }
}

TEST(Scenes, BadFilesAreRefusedWithAMessage) {
    const std::string dir = ::testing::TempDir();
    const std::vector<std::pair<std::string, std::string>> files = {
        {"zelvik_truncated.ppm", "P6 3 2 255\n\x01\x02"},
        {"zelvik_garbage.png", "\x89PNG\r\n\x1a\ngarbage"},
        {"zelvik_not_an_image.ppm", "hello"},
        {"zelvik_huge.ppm", "P6 100000 100000 255\n"},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        WriteFile(dir + "/" + name, bytes);
        std::string error;
        EXPECT_EQ(LoadScene(dir + "/" + name, &error), nullptr);
        EXPECT_FALSE(error.empty());
        std::remove((dir + "/" + name).c_str());
    }
    std::string error;
    EXPECT_EQ(LoadScene(dir + "/zelvik_missing.png", &error), nullptr);
    EXPECT_FALSE(error.empty());
    WriteFile(dir + "/zelvik_wide.pgm", "P5 2 1 65535\n\x01\x02\x03\x04");
    error.clear();
    EXPECT_EQ(LoadMosaic(dir + "/zelvik_wide.pgm", &error), nullptr) << "a mosaic must be 8-bit";
    EXPECT_FALSE(error.empty());
    std::remove((dir + "/zelvik_wide.pgm").c_str());
}

// --- Timing: line = columns + 874 + reg 5 clocks, frame = max(rows + reg 6, exposure) lines, 96 MHz ---

TEST(Timing, FramePeriodFollowsTheRegisters) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint16_t, uint16_t>> writes;
        double fps;
        double expectedSeconds;
    };
    const Case cases[] = {
        {"PowerUp", {}, 0, 3508.0 * 1992 / 96e6},
        {"EighthIsStretchedByExposure", {{reg::kRowMode, 7}, {reg::kColumnMode, 7}}, 0, 1240.0 * 1100 / 96e6},
        {"LongExposure", {{reg::kExposure, 3000}}, 0, 3508.0 * 3000 / 96e6},
        {"Blanking", {{reg::kHorizontalBlank, 100}, {reg::kVerticalBlank, 10}}, 0, 3566.0 * 1954 / 96e6},
        {"SmallWindow", {{reg::kColumnSize, 639}, {reg::kRowSize, 479}, {reg::kExposure, 100}}, 0,
         1556.0 * 528 / 96e6},
        {"FixedRate", {{reg::kExposure, 3000}}, 25, 0.04},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareOptions options;
        options.fps = c.fps;
        Firmware firmware(options);
        Wire wire(firmware);
        for (const auto& [address, value] : c.writes) wire.WriteWord(address, value);
        EXPECT_NEAR(firmware.FramePeriodSeconds(), c.expectedSeconds, 1e-9);
    }
}

}  // namespace
}  // namespace zelvik::emu::test
