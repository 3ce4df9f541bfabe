// AVI writer: the header after Open, chunks, index and patched sizes after Finish, packed rows of any
// width, the 4 GiB guard, full disks, and every finished file read back by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <cerrno>

#include "OutputTestUtil.h"
#include "output/AviWriter.h"

namespace zelvik::test {
namespace {

namespace fs = std::filesystem;

// A packed bottom-up frame whose bytes tell frame, row and column apart.
std::vector<uint8_t> Frame(int width, int height, int number) {
    std::vector<uint8_t> f(size_t(width) * height * 3);
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7 + number * 13);
    return f;
}

int WriteFrames(AviWriter& avi, int width, int height, int count) {
    int written = 0;
    for (int i = 0; i < count; ++i)
        if (avi.AppendFrame(Frame(width, height, i).data()) == AviAppend::kWritten) ++written;
    return written;
}

TEST(AviWriter, HeaderAfterOpen) {
    TempDir dir;
    AviWriter avi;
    ASSERT_EQ(avi.Open((dir.path() / "a.avi").c_str(), 640, 480, 30), 1);
    const auto h = ReadFile(dir.path() / "a.avi");
    ASSERT_EQ(h.size(), 232u);
    auto code = [&](size_t at) { return std::string(h.begin() + at, h.begin() + at + 4); };
    const struct { size_t at; const char* fourcc; } codes[] = {
        {0, "RIFF"}, {8, "AVI "}, {12, "LIST"}, {20, "hdrl"}, {24, "avih"}, {88, "LIST"}, {96, "strl"},
        {100, "strh"}, {108, "vids"}, {112, "DIB "}, {172, "strf"}, {220, "LIST"}, {228, "movi"}};
    for (const auto& c : codes) EXPECT_EQ(code(c.at), c.fourcc) << "at " << c.at;
    const uint32_t chunk = 640 * 480 * 3 + 8;
    const struct { size_t at; uint32_t value; const char* what; } words[] = {
        {4, 0, "RIFF size placeholder"}, {16, 200, "hdrl size"}, {28, 56, "avih size"},
        {32, 33333, "dwMicroSecPerFrame"}, {36, chunk * 30, "dwMaxBytesPerSec"}, {44, 0x10010, "dwFlags"},
        {48, 0, "dwTotalFrames"}, {56, 1, "dwStreams"}, {60, chunk, "dwSuggestedBufferSize"}, {64, 640, "dwWidth"},
        {68, 480, "dwHeight"}, {92, 124, "strl size"}, {104, 64, "strh size"}, {128, 333333, "dwScale"},
        {132, 10000000, "dwRate"}, {140, 0, "dwLength"}, {144, chunk, "strh dwSuggestedBufferSize"},
        {176, 40, "strf size"}, {180, 40, "biSize"}, {184, 640, "biWidth"}, {188, 480, "biHeight"},
        {196, 0, "biCompression"}, {224, 0, "movi size placeholder"}};
    for (const auto& w : words) EXPECT_EQ(Le32(h, w.at), w.value) << w.what;
    EXPECT_EQ(Le16(h, 192), 1);   // biPlanes
    EXPECT_EQ(Le16(h, 194), 24);  // biBitCount
}

TEST(AviWriter, ThreeHundredFramesFinishedWithIndexSizesAndCounts) {
    TempDir dir;
    const fs::path path = dir.path() / "v.avi";
    AviWriter avi;
    ASSERT_EQ(avi.Open(path.c_str(), 640, 480, 30), 1);
    ASSERT_EQ(WriteFrames(avi, 640, 480, 300), 300);
    ASSERT_EQ(avi.Finish(3000), 1);

    const auto f = ReadFile(path);
    const uint32_t n = 921600;
    const size_t moviEnd = 232 + size_t(300) * (8 + n);
    ASSERT_EQ(f.size(), moviEnd + 8 + 300 * 16);
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(Le32(f, 224), 4 + 300u * (8 + n));
    EXPECT_EQ(Le32(f, 48), 300u);
    EXPECT_EQ(Le32(f, 140), 300u);
    EXPECT_EQ(std::string(f.begin() + 232, f.begin() + 236), "00db");
    EXPECT_EQ(Le32(f, 236), n);
    EXPECT_EQ(std::string(f.begin() + moviEnd, f.begin() + moviEnd + 4), "idx1");
    EXPECT_EQ(Le32(f, moviEnd + 4), 300u * 16);
    const size_t entry = moviEnd + 8;
    EXPECT_EQ(std::string(f.begin() + entry, f.begin() + entry + 4), "00db");
    EXPECT_EQ(Le32(f, entry + 4), 0x10u);
    EXPECT_EQ(Le32(f, entry + 8), 4u);
    EXPECT_EQ(Le32(f, entry + 12), n);
    EXPECT_EQ(Le32(f, entry + 16 + 8), 921612u);
    EXPECT_EQ(Le32(f, entry + 299 * 16 + 8), 4 + 299u * (8 + n));
    const auto first = Frame(640, 480, 0);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), f.begin() + 240));
    EXPECT_EQ(ProbeVideo(path), "640,480,300");
}

TEST(AviWriter, TimingFromTheMeasuredRate) {
    TempDir dir;
    const struct { uint32_t rate; uint32_t microseconds, scale; } cases[] = {
        {1500, 66666, 666666},             // 150 frames in 10 s
        {3000, 33333, 333333},
        {1370, 72992, 729927},             // the camera's 13.7 frames per second
        {0, 100000000, 1000000000},        // under one frame per 100 s: stated as 0.01 per second
    };
    for (const auto& c : cases) {
        const fs::path path = dir.path() / "t.avi";
        AviWriter avi;
        ASSERT_EQ(avi.Open(path.c_str(), 8, 6, 30), 1);
        ASSERT_EQ(WriteFrames(avi, 8, 6, 3), 3);
        ASSERT_EQ(avi.Finish(c.rate), 1);
        const auto f = ReadFile(path);
        EXPECT_EQ(Le32(f, 32), c.microseconds) << c.rate;
        EXPECT_EQ(Le32(f, 128), c.scale) << c.rate;
        EXPECT_EQ(ProbeVideo(path), "8,6,3") << c.rate;
    }
}

TEST(AviWriter, PaddedWidthsArePackedAndDecodeUpright) {
    TempDir dir;
    const fs::path path = dir.path() / "w.avi";
    const int width = 7, height = 5;  // 21-byte rows: a buffer pads them to 24
    AviWriter avi;
    ASSERT_EQ(avi.Open(path.c_str(), width, height, 30), 1);
    // Build the frames from padded top-down 24-bit images, as the recorder does.
    std::vector<uint8_t> expected;  // what a player shows: top row first, packed
    for (int i = 0; i < 2; ++i) {
        PatternImage image = MakePattern(24, width, height);
        image.bytes[0] = static_cast<uint8_t>(i);
        std::vector<uint8_t> frame(size_t(width) * height * 3);
        ASSERT_TRUE(ConvertToAviFrame(image.view, frame.data()));
        ASSERT_EQ(avi.AppendFrame(frame.data()), AviAppend::kWritten);
        for (int r = 0; r < height; ++r)
            expected.insert(expected.end(), image.bytes.begin() + r * image.view.stride,
                            image.bytes.begin() + r * image.view.stride + width * 3);
    }
    ASSERT_EQ(avi.Finish(3000), 1);
    EXPECT_EQ(ReadFile(path).size(), 232 + 2 * (8 + 105) + 8 + 32u);
    EXPECT_EQ(ProbeVideo(path), "7,5,2");
    EXPECT_EQ(DecodeVideoBgr(path), expected);
}

TEST(AviWriter, FramesOfEveryDepthBecomeBottomUpBgr) {
    // 8 and 16 bits give three equal channels; the others narrow and drop the fourth byte or word.
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        const PatternImage image = MakePattern(bits, 5, 3);
        std::vector<uint8_t> frame(5 * 3 * 3);
        ASSERT_TRUE(ConvertToAviFrame(image.view, frame.data()));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 5; ++c)
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(frame[(size_t(2 - r) * 5 + c) * 3 + k], Sample8(r, c, bits <= 16 ? 0 : k))
                        << bits << " bits, row " << r << " column " << c << " channel " << k;
    }
    const PatternImage odd = MakePattern(24, 5, 3);
    ImageView refused = odd.view;
    refused.bitsPerPixel = 12;
    std::vector<uint8_t> frame(45);
    EXPECT_FALSE(ConvertToAviFrame(refused, frame.data()));
}

TEST(AviWriter, UnfinishedFileKeepsPlaceholdersAndReopeningTruncates) {
    TempDir dir;
    const fs::path path = dir.path() / "u.avi";
    AviWriter avi;
    ASSERT_EQ(avi.Open(path.c_str(), 16, 8, 30), 1);
    ASSERT_EQ(WriteFrames(avi, 16, 8, 4), 4);
    avi.Reset();  // what a recording stopped from outside leaves
    auto f = ReadFile(path);
    EXPECT_EQ(f.size(), 232 + 4 * (8 + 384u));
    EXPECT_EQ(Le32(f, 4), 0u);
    EXPECT_EQ(Le32(f, 224), 0u);
    EXPECT_EQ(Le32(f, 48), 0u);
    EXPECT_EQ(std::string(f.end() - 384 - 8, f.end() - 384 - 4), "00db");  // ends with a frame, no idx1

    ASSERT_EQ(avi.Open(path.c_str(), 16, 8, 30), 1);
    ASSERT_EQ(WriteFrames(avi, 16, 8, 1), 1);
    ASSERT_EQ(avi.Finish(100), 1);
    EXPECT_EQ(ReadFile(path).size(), 232 + 392 + 8 + 16u);
}

TEST(AviWriter, OpenRefusesBadNamesAndSizes) {
    TempDir dir;
    fs::create_directory(dir.path() / "folder");
    AviWriter avi;
    EXPECT_EQ(avi.Open(nullptr, 8, 8, 30), 0);
    EXPECT_EQ(avi.Open("", 8, 8, 30), 0);
    EXPECT_EQ(avi.Open((dir.path() / "folder").c_str(), 8, 8, 30), 0);
    EXPECT_EQ(avi.Open((dir.path() / "missing" / "a.avi").c_str(), 8, 8, 30), 0);
    EXPECT_EQ(avi.Open((dir.path() / "z.avi").c_str(), 0, 8, 30), 0);
    EXPECT_EQ(avi.Open((dir.path() / "z.avi").c_str(), 8, 8, 0), 0);
    EXPECT_EQ(avi.Open((dir.path() / "z.avi").c_str(), 40000, 40000, 30), 0);  // one frame alone passes 4 GiB
    EXPECT_FALSE(fs::exists(dir.path() / "z.avi"));
    EXPECT_EQ(avi.AppendFrame(Frame(8, 8, 0).data()), AviAppend::kNotOpen);
    EXPECT_EQ(avi.Finish(100), 0);
}

TEST(AviWriter, StopsBeforeTheRiffSizeWouldPassItsLimit) {
    // A full-resolution recording (2592 x 1944, 15116048-byte chunks) fits 284 frames under 4 GiB: about
    // 20 s at 13.7 frames per second.
    EXPECT_EQ((AviWriter::kRiffLimit - 232) / (15116048 + 16), 284u);
    // The guard itself, on a limit a test can reach: 10 frames of 8 x 4 end at exactly 224 + 10 x 104 + 8
    // + 160 = 1432 bytes of RIFF payload.
    TempDir dir;
    for (const auto& [limit, frames] : {std::pair{1432u, 10}, std::pair{1431u, 9}}) {
        const fs::path path = dir.path() / "cap.avi";
        AviWriter avi(limit);
        ASSERT_EQ(avi.Open(path.c_str(), 8, 4, 30), 1);
        EXPECT_EQ(WriteFrames(avi, 8, 4, frames), frames);
        EXPECT_EQ(avi.AppendFrame(Frame(8, 4, 99).data()), AviAppend::kSizeLimit) << limit;
        ASSERT_EQ(avi.Finish(1370), 1);
        const auto f = ReadFile(path);
        EXPECT_EQ(Le32(f, 4), f.size() - 8);
        EXPECT_LE(Le32(f, 4), limit);
        EXPECT_EQ(ProbeVideo(path), "8,4," + std::to_string(frames));
    }
}

TEST(AviWriter, AFullDiskEndsWithThePlayableFramesBeforeIt) {
    SmallDisk disk(1 << 20);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    const fs::path path = disk.Path() / "full.avi";
    AviWriter avi;
    ASSERT_EQ(avi.Open(path.c_str(), 160, 120, 30), 1);  // 57608-byte chunks: the 19th does not fit
    int written = 0;
    AviAppend last = AviAppend::kWritten;
    while ((last = avi.AppendFrame(Frame(160, 120, written).data())) == AviAppend::kWritten) ++written;
    EXPECT_EQ(last, AviAppend::kWriteFailed);
    EXPECT_EQ(avi.Error(), ENOSPC);
    EXPECT_GT(written, 10);
    ASSERT_EQ(avi.Finish(1370), 1);
    EXPECT_FALSE(avi.FinishedWithoutIndex());
    const auto f = ReadFile(path);
    EXPECT_EQ(f.size(), 232 + size_t(written) * 57608 + 8 + 16 * size_t(written));
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(ProbeVideo(path), "160,120," + std::to_string(written));
}

TEST(AviWriter, NoRoomForTheIndexFinishesWithoutOne) {
    TempDir dir;
    const fs::path path = dir.path() / "limit.avi";
    AviWriter avi;
    ASSERT_EQ(avi.Open(path.c_str(), 32, 24, 30), 1);
    {
        FileSizeLimit limit(232 + 5 * (8 + 2304));  // exactly five frames: the sixth fails whole
        EXPECT_EQ(WriteFrames(avi, 32, 24, 6), 5);
        EXPECT_EQ(avi.Error(), EFBIG);
        ASSERT_EQ(avi.Finish(3000), 1);
    }
    EXPECT_TRUE(avi.FinishedWithoutIndex());
    const auto f = ReadFile(path);
    ASSERT_EQ(f.size(), 232 + 5 * 2312u);
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(Le32(f, 44), 0x10000u);  // the has-index flag is cleared
    EXPECT_EQ(Le32(f, 48), 5u);
    EXPECT_EQ(ProbeVideo(path), "32,24,5");
}

}  // namespace
}  // namespace zelvik::test
