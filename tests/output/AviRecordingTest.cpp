// A timed recording: the clock starts at the first frame, the frame after the requested time ends it,
// the measured rate goes into the header, and early ends (size limit, full disk, stop) leave the file
// as documented.
#include <gtest/gtest.h>

#include <cerrno>

#include "OutputTestUtil.h"
#include "output/AviRecording.h"

namespace zelvik::test {
namespace {

namespace fs = std::filesystem;

TEST(AviRecording, EndsWithTheFirstFrameAfterTheRequestedTime) {
    TempDir dir;
    const PatternImage image = MakePattern(24, 16, 12);
    const struct {
        const char* what;
        uint32_t duration;
        std::vector<uint32_t> times;  // clock at each frame; the last one ends the recording
        uint32_t rate, microseconds, scale;
    } cases[] = {
        // a duration of 0 ends at the second frame later than the first
        {"duration 0", 0, {1000, 1000, 1010}, 30000, 3333, 33333},
        // 150 frames, the last 10000 ms after the first
        {"150 frames in 10 s", 9999, [] {
             std::vector<uint32_t> t;
             for (int i = 0; i < 150; ++i) t.push_back(5000 + uint32_t(i * 10000 / 149));
             return t;
         }(), 1500, 66666, 666666},
        // the millisecond clock wraps during the recording
        {"across the clock's wrap", 1000, {0xFFFFFF00u, 0xFFFFFF00u + 500, 0xFFFFFF00u + 1001}, 299, 334448, 3344481},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir.path() / "r.avi";
        AviRecording rec;
        ASSERT_EQ(rec.Start(path.c_str(), 16, 12, c.duration), 1);
        for (size_t i = 0; i < c.times.size(); ++i) {
            ASSERT_TRUE(rec.Take(image.view));
            const RecordingEnd end = rec.Append(c.times[i]);
            ASSERT_EQ(end, i + 1 < c.times.size() ? RecordingEnd::kRunning : RecordingEnd::kTimeUp) << "frame " << i;
        }
        EXPECT_EQ(rec.FramesWritten(), c.times.size());
        EXPECT_EQ(rec.ElapsedMs(), c.times.back() - c.times.front());
        EXPECT_EQ(rec.RateHundredths(), c.rate);
        const auto f = ReadFile(path);
        EXPECT_EQ(Le32(f, 32), c.microseconds);
        EXPECT_EQ(Le32(f, 128), c.scale);
        EXPECT_EQ(Le32(f, 48), c.times.size());
        EXPECT_EQ(ProbeVideo(path), "16,12," + std::to_string(c.times.size()));
    }
}

TEST(AviRecording, AFrameOfAnotherSizeIsNotTaken) {
    TempDir dir;
    AviRecording rec;
    ASSERT_EQ(rec.Start((dir.path() / "s.avi").c_str(), 16, 12, 100), 1);
    EXPECT_FALSE(rec.Take(MakePattern(24, 16, 13).view));
    EXPECT_EQ(rec.Append(10), RecordingEnd::kRunning);  // nothing taken, nothing written
    EXPECT_EQ(rec.FramesWritten(), 0u);
    EXPECT_TRUE(rec.Take(MakePattern(8, 16, 12).view));  // any colour mode of the right size
    EXPECT_EQ(rec.Append(20), RecordingEnd::kRunning);
    EXPECT_EQ(rec.FramesWritten(), 1u);
}

TEST(AviRecording, EarlyEndsFinishThePlayableFileAndSayWhy) {
    TempDir dir;
    const PatternImage image = MakePattern(32, 8, 4);
    {
        AviRecording rec(1432);  // room for 10 frames of 8 x 4
        ASSERT_EQ(rec.Start((dir.path() / "cap.avi").c_str(), 8, 4, 60000), 1);
        RecordingEnd end = RecordingEnd::kRunning;
        for (uint32_t t = 0; end == RecordingEnd::kRunning; t += 100) {
            ASSERT_TRUE(rec.Take(image.view));
            end = rec.Append(t);
        }
        EXPECT_EQ(end, RecordingEnd::kSizeLimit);
        EXPECT_EQ(rec.FramesWritten(), 10u);
        EXPECT_EQ(rec.RateHundredths(), 10u * 100000 / 1000);  // 10 frames in the 1000 ms up to the refused one
        EXPECT_EQ(ProbeVideo(dir.path() / "cap.avi"), "8,4,10");
    }
    {
        AviRecording rec;
        ASSERT_EQ(rec.Start((dir.path() / "full.avi").c_str(), 8, 4, 60000), 1);
        RecordingEnd end = RecordingEnd::kRunning;
        {
            FileSizeLimit limit(232 + 7 * 104 + 50);  // the eighth frame is cut off half way
            for (uint32_t t = 0; end == RecordingEnd::kRunning; t += 100) {
                ASSERT_TRUE(rec.Take(image.view));
                end = rec.Append(t);
            }
        }
        EXPECT_EQ(end, RecordingEnd::kWriteFailed);
        EXPECT_EQ(rec.Error(), EFBIG);
        EXPECT_EQ(rec.FramesWritten(), 7u);
        EXPECT_EQ(ProbeVideo(dir.path() / "full.avi"), "8,4,7");
    }
}

TEST(AviRecording, StopLeavesTheUnfinishedFile) {
    TempDir dir;
    const fs::path path = dir.path() / "stopped.avi";
    AviRecording rec;
    ASSERT_EQ(rec.Start(path.c_str(), 8, 4, 60000), 1);
    for (uint32_t t : {0u, 70u, 140u}) {
        ASSERT_TRUE(rec.Take(MakePattern(48, 8, 4).view));
        ASSERT_EQ(rec.Append(t), RecordingEnd::kRunning);
    }
    rec.Stop();
    EXPECT_EQ(rec.End(), RecordingEnd::kStopped);
    EXPECT_EQ(rec.FramesWritten(), 3u);
    const auto f = ReadFile(path);
    EXPECT_EQ(f.size(), 232 + 3 * 104u);
    EXPECT_EQ(Le32(f, 4), 0u);
    EXPECT_EQ(Le32(f, 224), 0u);
    EXPECT_FALSE(rec.Take(MakePattern(48, 8, 4).view));
}

TEST(AviRecording, StartRefusesWhatItCannotOpen) {
    TempDir dir;
    AviRecording rec;
    EXPECT_EQ(rec.Start("", 8, 4, 100), 0);
    EXPECT_EQ(rec.Start(dir.path().c_str(), 8, 4, 100), 0);
    EXPECT_EQ(rec.Start((dir.path() / "a.avi").c_str(), 0, 4, 100), 0);
    EXPECT_FALSE(fs::exists(dir.path() / "a.avi"));
    EXPECT_FALSE(rec.Running());
}

}  // namespace
}  // namespace zelvik::test
