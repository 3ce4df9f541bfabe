// A timed recording: the clock starts at the first frame, the frame after the requested time ends it,
// the measured rate goes into the header, and early ends (size limit, full disk, stop, no more frames)
// finish a playable file.
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
        // a duration of 0 ends at the first frame later than the first: two intervals in 10 ms
        {"duration 0", 0, {1000, 1000, 1010}, 20000, 5000, 50000},
        // the camera's rate, not twice it: one interval of 18 ms is 55.55 frames per second
        {"two frames 18 ms apart", 1, {5000, 5018}, 5555, 18001, 180018},
        // 150 frames, the last 10000 ms after the first: 149 intervals
        {"150 frames in 10 s", 9999,
         [] {
             std::vector<uint32_t> t;
             for (int i = 0; i < 150; ++i) t.push_back(5000 + uint32_t(i * 10000 / 149));
             return t;
         }(),
         1490, 67114, 671140},
        // the millisecond clock wraps during the recording
        {"across the clock's wrap",
         1000,
         {0xFFFFFF00u, 0xFFFFFF00u + 500, 0xFFFFFF00u + 1001},
         199,
         502512,
         5025125},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir.path() / "r.avi";
        AviRecording rec;
        ASSERT_EQ(rec.Start(path.c_str(), 16, 12, c.duration), 1);
        for (size_t i = 0; i < c.times.size(); ++i) {
            ASSERT_EQ(rec.Offer(image.view, c.times[i]), FrameOffer::kQueued);
            const RecordingEnd end = rec.AppendQueued();
            ASSERT_EQ(end, i + 1 < c.times.size() ? RecordingEnd::kRunning : RecordingEnd::kTimeUp) << "frame " << i;
        }
        EXPECT_EQ(rec.FramesWritten(), c.times.size());
        EXPECT_EQ(rec.Offer(image.view, c.times.back() + 1), FrameOffer::kNotRecording);
        EXPECT_EQ(rec.FramesOffered(), c.times.size());
        EXPECT_EQ(rec.ElapsedMs(), c.times.back() - c.times.front());
        EXPECT_EQ(rec.RateHundredths(), c.rate);
        const auto f = ReadFile(path);
        EXPECT_EQ(Le32(f, 32), c.microseconds);
        EXPECT_EQ(Le32(f, 128), c.scale);
        EXPECT_EQ(Le32(f, 48), c.times.size());
        EXPECT_EQ(ProbeVideo(path), "16,12," + std::to_string(c.times.size()));
    }
}

TEST(AviRecording, AFrameOfAnotherSizeIsSkipped) {
    TempDir dir;
    AviRecording rec;
    ASSERT_EQ(rec.Start((dir.path() / "s.avi").c_str(), 16, 12, 100), 1);
    EXPECT_EQ(rec.Offer(MakePattern(24, 16, 13).view, 0), FrameOffer::kSkipped);
    EXPECT_FALSE(rec.HasQueued());
    EXPECT_EQ(rec.AppendQueued(), RecordingEnd::kRunning);  // nothing queued, nothing written
    EXPECT_EQ(rec.FramesWritten(), 0u);
    EXPECT_EQ(rec.Offer(MakePattern(8, 16, 12).view, 10), FrameOffer::kQueued);  // any colour mode of the right size
    EXPECT_EQ(rec.AppendQueued(), RecordingEnd::kRunning);
    EXPECT_EQ(rec.FramesWritten(), 1u);
    EXPECT_EQ(rec.FramesSkipped(), 1u);
    EXPECT_EQ(rec.FramesOffered(), 2u);
}

// The frames that arrive while the writer is busy wait in the queue, in order, each with its own arrival
// time: the recording ends with the first frame that arrived past the requested time, however late the
// writer gets to it. Only a frame that finds every slot taken is skipped.
TEST(AviRecording, AQueueRidesOutASlowWriterAndFramesKeepTheirArrivalTimes) {
    TempDir dir;
    const fs::path path = dir.path() / "q.avi";
    AviRecording rec;
    ASSERT_EQ(rec.Start(path.c_str(), 8, 4, 450), 1);
    // Frame i, arriving at 100 i ms, is a picture of its own: the pattern from row i on.
    const PatternImage tall = MakePattern(24, 8, 4 + 6);
    auto frame = [&](uint32_t i) {
        ImageView v = tall.view;
        v.bits += i * v.stride;
        v.height = 4;
        return v;
    };
    auto offer = [&](uint32_t i) { return rec.Offer(frame(i), 7000 + 100 * i); };
    for (uint32_t i = 0; i < AviRecording::kQueueSlots; ++i)  // the writer is stuck in its first write
        ASSERT_EQ(offer(i), FrameOffer::kQueued) << i;
    EXPECT_EQ(offer(4), FrameOffer::kSkipped);  // every slot taken
    EXPECT_EQ(rec.FramesQueued(), AviRecording::kQueueSlots);
    EXPECT_EQ(rec.AppendQueued(), RecordingEnd::kRunning);  // frame 0 at last
    EXPECT_EQ(offer(5), FrameOffer::kQueued);                // 500 ms, past 450: the last frame
    EXPECT_EQ(offer(6), FrameOffer::kNotRecording);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(rec.AppendQueued(), RecordingEnd::kRunning) << i;
    EXPECT_EQ(rec.AppendQueued(), RecordingEnd::kTimeUp);
    EXPECT_EQ(rec.FramesWritten(), 5u);
    EXPECT_EQ(rec.FramesSkipped(), 1u);
    EXPECT_EQ(rec.FramesQueued(), 0u);
    EXPECT_EQ(rec.FramesOffered(), 6u);
    EXPECT_EQ(rec.ElapsedMs(), 500u);
    EXPECT_EQ(rec.RateHundredths(), 4u * 100000 / 500);

    const auto f = ReadFile(path);
    EXPECT_EQ(Le32(f, 48), 5u);
    const size_t frameBytes = 8 * 4 * 3;
    std::vector<uint8_t> expected(frameBytes);
    const uint32_t inFile[] = {0, 1, 2, 3, 5};
    for (size_t k = 0; k < std::size(inFile); ++k) {
        ASSERT_TRUE(ConvertToAviFrame(frame(inFile[k]), expected.data()));
        const size_t at = 232 + k * (8 + frameBytes) + 8;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.begin() + at)) << "chunk " << k;
    }
    EXPECT_EQ(ProbeVideo(path), "8,4,5");
}

TEST(AviRecording, EarlyEndsFinishThePlayableFileAndSayWhy) {
    TempDir dir;
    const PatternImage image = MakePattern(32, 8, 4);
    {
        AviRecording rec(1432);  // room for 10 frames of 8 x 4
        ASSERT_EQ(rec.Start((dir.path() / "cap.avi").c_str(), 8, 4, 60000), 1);
        RecordingEnd end = RecordingEnd::kRunning;
        for (uint32_t t = 0; end == RecordingEnd::kRunning; t += 100) {
            ASSERT_EQ(rec.Offer(image.view, t), FrameOffer::kQueued);
            end = rec.AppendQueued();
        }
        EXPECT_EQ(end, RecordingEnd::kSizeLimit);
        EXPECT_EQ(rec.FramesWritten(), 10u);
        EXPECT_EQ(rec.FramesQueued(), 1u);  // the refused frame
        EXPECT_EQ(rec.Offer(image.view, 2000), FrameOffer::kNotRecording);
        EXPECT_EQ(rec.RateHundredths(), 9u * 100000 / 900);  // the 9 intervals of the 10 frames written
        EXPECT_EQ(ProbeVideo(dir.path() / "cap.avi"), "8,4,10");
    }
    {
        AviRecording rec;
        ASSERT_EQ(rec.Start((dir.path() / "full.avi").c_str(), 8, 4, 60000), 1);
        RecordingEnd end = RecordingEnd::kRunning;
        {
            FileSizeLimit limit(232 + 7 * 104 + 50);  // the eighth frame is cut off half way
            for (uint32_t t = 0; end == RecordingEnd::kRunning; t += 100) {
                ASSERT_EQ(rec.Offer(image.view, t), FrameOffer::kQueued);
                end = rec.AppendQueued();
            }
        }
        EXPECT_EQ(end, RecordingEnd::kWriteFailed);
        EXPECT_EQ(rec.Error(), EFBIG);
        EXPECT_EQ(rec.FramesWritten(), 7u);
        EXPECT_EQ(ProbeVideo(dir.path() / "full.avi"), "8,4,7");
    }
}

// A stop from outside and the end of the frames (a lost camera) finish the file with the frames
// written; frames still queued at a stop stay unwritten, those queued before the end of the frames are
// written first. One frame alone gives no interval: the header keeps the nominal rate.
TEST(AviRecording, StopAndTheEndOfTheFramesFinishAPlayableFile) {
    TempDir dir;
    const PatternImage image = MakePattern(48, 8, 4);
    const size_t chunk = 8 + 8 * 4 * 3;
    const struct {
        const char* what;
        std::vector<uint32_t> written;  // arrival times of the frames appended before the end
        bool stop;                      // Stop(), else EndOfFrames()
        uint32_t queuedAtEnd;           // frames queued and not appended when the end comes
        RecordingEnd end;
        uint32_t rate;
    } cases[] = {
        {"stop", {0, 70, 140}, true, 1, RecordingEnd::kStopped, 2 * 100000 / 140},
        {"stop after one frame", {0}, true, 0, RecordingEnd::kStopped, AviRecording::kNominalRate * 100},
        {"stop before any frame", {}, true, 0, RecordingEnd::kStopped, AviRecording::kNominalRate * 100},
        {"end of frames", {0, 70}, false, 2, RecordingEnd::kSourceLost, 3 * 100000 / 210},
        {"end of frames before any frame",
         {},
         false,
         0,
         RecordingEnd::kSourceLost,
         AviRecording::kNominalRate * 100},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir.path() / ("end" + std::to_string(n++) + ".avi");
        AviRecording rec;
        ASSERT_EQ(rec.Start(path.c_str(), 8, 4, 60000), 1);
        uint32_t t = 0;
        for (size_t i = 0; i < c.written.size(); ++i, t += 70) {
            ASSERT_EQ(rec.Offer(image.view, c.written[i]), FrameOffer::kQueued);
            ASSERT_EQ(rec.AppendQueued(), RecordingEnd::kRunning);
        }
        for (uint32_t i = 0; i < c.queuedAtEnd; ++i, t += 70)
            ASSERT_EQ(rec.Offer(image.view, t), FrameOffer::kQueued);
        uint32_t inFile = static_cast<uint32_t>(c.written.size());
        if (c.stop) {
            rec.Stop();
            EXPECT_EQ(rec.FramesQueued(), c.queuedAtEnd);
        } else {
            rec.EndOfFrames();
            EXPECT_EQ(rec.Offer(image.view, t), FrameOffer::kNotRecording);
            RecordingEnd end = RecordingEnd::kRunning;
            for (int i = 0; i < 10 && end == RecordingEnd::kRunning; ++i) end = rec.AppendQueued();
            EXPECT_EQ(end, c.end);
            EXPECT_EQ(rec.FramesQueued(), 0u);
            inFile += c.queuedAtEnd;
        }
        EXPECT_EQ(rec.End(), c.end);
        EXPECT_EQ(rec.FramesWritten(), inFile);
        EXPECT_EQ(rec.RateHundredths(), c.rate);
        EXPECT_EQ(rec.Offer(image.view, t + 70), FrameOffer::kNotRecording);
        const auto f = ReadFile(path);
        ASSERT_EQ(f.size(), 232 + inFile * chunk + 8 + 16 * inFile);
        EXPECT_EQ(Le32(f, 4), f.size() - 8);
        EXPECT_EQ(Le32(f, 48), inFile);
        EXPECT_EQ(Le32(f, 32), 100000000 / c.rate);
        if (inFile > 0) {
            EXPECT_EQ(ProbeVideo(path), "8,4," + std::to_string(inFile));
        }
    }
}

// Ended early from outside (a program's Ctrl-C), the recording takes one more frame and finishes the file
// as when its time is up, with the frames it holds.
TEST(AviRecording, EndAtNextFrameFinishesAPlayableFileAtTheNextFrame) {
    TempDir dir;
    const fs::path path = dir.path() / "ended.avi";
    AviRecording rec;
    ASSERT_EQ(rec.Start(path.c_str(), 8, 4, 60000), 1);
    for (uint32_t t : {0u, 70u}) {
        ASSERT_EQ(rec.Offer(MakePattern(48, 8, 4).view, t), FrameOffer::kQueued);
        ASSERT_EQ(rec.AppendQueued(), RecordingEnd::kRunning);
    }
    rec.EndAtNextFrame();
    ASSERT_EQ(rec.Offer(MakePattern(48, 8, 4).view, 140), FrameOffer::kQueued);
    EXPECT_EQ(rec.AppendQueued(), RecordingEnd::kTimeUp);
    EXPECT_EQ(rec.Offer(MakePattern(48, 8, 4).view, 210), FrameOffer::kNotRecording);
    EXPECT_EQ(rec.FramesWritten(), 3u);
    EXPECT_EQ(rec.ElapsedMs(), 140u);
    EXPECT_EQ(Le32(ReadFile(path), 48), 3u);
    EXPECT_EQ(ProbeVideo(path), "8,4,3");
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
