// Every frame's facts and the stream's stage counters on the in-process emulator's counter scene, whose
// every pixel names the frame (mod 224): against a slow consumer, a stalled camera, setters pausing the
// stream, a window changed under it, and a single-shot stream.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/capture/CaptureFixture.h"

namespace zelvik::test {
namespace {

using Clock = std::chrono::steady_clock;

// The frame the counter scene's pixels name (mod 224).
int CounterFrame(uint8_t level) { return emu::CounterSceneFrame(level); }

ZelvikStreamStats Stats(int h) {
    ZelvikStreamStats s{};
    s.size = sizeof s;
    EXPECT_EQ(ZelvikStream_GetStats(h, &s), 1);
    return s;
}

class FrameFactsTest : public CaptureFixture {
protected:
    void TearDown() override {
        if (disks_) Firmware().ObserveFrames(nullptr);
        CaptureFixture::TearDown();
    }

    // The counter scene, 8-bit mosaic as read, in a window 64 pixels wide and `height` high; fps 0 paces
    // the camera by its sensor timing, any other rate is a camera off its timing. Every frame a read takes
    // is logged with the grid point the camera finished it at and when the read took it.
    int OpenCounter(double fps, int height) {
        emu::FirmwareOptions options;
        options.scene = emu::CounterScene();
        options.fps = fps;
        MakeCamera(options);
        Firmware().ObserveFrames([this](uint64_t frame, Clock::time_point ready) {
            std::lock_guard lock(logMutex_);
            log_.push_back({frame, ready, Clock::now()});
        });
        const int h = Open();
        SetWindow(h, 64, height);
        EXPECT_EQ(Zelvik_SetColorMode(h, 8), 1);
        EXPECT_EQ(Zelvik_SetGrayMode(h, 0), 1);
        width_ = 64;
        height_ = height;
        return h;
    }
    size_t FrameBytes() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }

    // Waits (bounded: a guard against hanging, not a timing check).
    static bool Eventually(const std::function<bool()>& condition) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    struct Read {
        uint64_t frame;
        Clock::time_point ready, taken;
    };
    std::vector<Read> Log() {
        std::lock_guard lock(logMutex_);
        return log_;
    }

    // A frame the application took: its facts, the frame its pixels name, and how many frames the library
    // handed out since the application's previous one that it passed over itself (a binding that takes
    // the newest of several frame messages).
    struct Taken {
        ZelvikFrameFacts facts;
        int frame;
        uint64_t passedOver = 0;
    };
    // Holds what every test asks of a run of frames the application took, in order: the sequence counts
    // every frame the camera delivered (its distance to the frame number the pixels name never changes),
    // and the frames between two taken ones were each lost at one stage, as the totals tell, or passed
    // over by the application. Between frames handed out one after the other, the losses just before a
    // frame are those of its totals.
    static void ExpectContinuous(const std::vector<Taken>& taken) {
        ASSERT_FALSE(taken.empty());
        const int offset = static_cast<int>((taken[0].frame - static_cast<int64_t>(taken[0].facts.sequence) % 224 + 224) % 224);
        const ZelvikFrameFacts* previous = nullptr;
        for (const Taken& t : taken) {
            const ZelvikFrameFacts& f = t.facts;
            SCOPED_TRACE(testing::Message() << "frame " << f.sequence);
            EXPECT_EQ(t.frame, static_cast<int>((f.sequence + static_cast<uint64_t>(offset)) % 224))
                << "the sequence missed or repeated a frame of the camera";
            EXPECT_GT(f.arrivalNs, 0);
            if (previous == nullptr) {
                // Frames before the first one taken were lost at a stage or handed out and passed over.
                EXPECT_EQ(f.sequence - 1, f.totalOverwritten + f.totalDropped + f.totalNotTaken + t.passedOver);
                previous = &f;
                continue;
            }
            ASSERT_GT(f.sequence, previous->sequence);
            EXPECT_GT(f.arrivalNs, previous->arrivalNs);
            const uint64_t lost = (f.totalOverwritten - previous->totalOverwritten) +
                                  (f.totalDropped - previous->totalDropped) +
                                  (f.totalNotTaken - previous->totalNotTaken);
            EXPECT_EQ(f.sequence - previous->sequence - 1, lost + t.passedOver);
            if (t.passedOver == 0) {
                EXPECT_EQ(f.totalOverwritten, previous->totalOverwritten + f.lostOverwritten);
                EXPECT_EQ(f.totalDropped, previous->totalDropped + f.lostDropped);
                EXPECT_EQ(f.totalNotTaken, previous->totalNotTaken + f.lostNotTaken);
                EXPECT_EQ(f.totalUnread, previous->totalUnread + f.lostUnread);
            }
            previous = &f;
        }
    }

    int width_ = 0, height_ = 0;
    std::mutex logMutex_;
    std::vector<Read> log_;
};

// A slow capture thread (a long wait time) leaves frames in the ring to be replaced, a slow application
// (GetImage now and then, no frame messages) leaves processed frames untaken. Once the camera holds every
// further transfer, the frames it delivered are a known number, and every counter equals what happened:
// frames read by the camera's count, processed by the delivery counter of the capture thread, handed out
// by the application's own count.
TEST_F(FrameFactsTest, SlowConsumerStageCountersEqualWhatHappened) {
    const int h = OpenCounter(40, 48);  // a camera off its timing (the fault an fps option injects)
    ASSERT_EQ(Zelvik_SetWaitTime(h, 60), 1);
    const uint64_t deliveredBefore = Firmware().Counters().framesDelivered;
    ASSERT_EQ(Zelvik_CallBackPreview(h, 0, nullptr, 0, 1), 1);
    std::vector<uint8_t> image(FrameBytes());
    std::vector<Taken> taken;
    const auto take = [&] {
        if (Zelvik_GetImage(h, image.data(), static_cast<int>(image.size()), 1) != 1) return;
        Taken t{};
        t.facts.size = sizeof t.facts;
        ASSERT_EQ(ZelvikFrame_GetFacts(h, image.data(), &t.facts), 1);
        t.frame = CounterFrame(image[image.size() / 2]);
        taken.push_back(t);
    };
    while (taken.size() < 12) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        take();
    }
    // From here the camera holds every transfer: no frame arrives after the ones counted.
    Firmware().Stall(1 << 20, std::chrono::minutes(1));
    uint64_t frames = 0;
    ASSERT_TRUE(Eventually([&] {
        // A read already past the stall's start finishes first: then the loop waits in a held transfer.
        const emu::FirmwareCounters camera = Firmware().Counters();
        const ZelvikStreamStats s = Stats(h);
        frames = camera.framesDelivered - deliveredBefore;
        return camera.stalledNow > 0 && s.framesRead == frames &&
               s.framesOverwritten + s.framesDropped + s.framesProcessed == frames;
    })) << "the stream took the newest frame and the counts settled";
    take();
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    Firmware().Unstall();

    ExpectContinuous(taken);
    const ZelvikStreamStats s = Stats(h);
    const uint64_t processed = Engine(h).FrameCounters().delivered.load();
    EXPECT_EQ(s.streaming, 0);
    EXPECT_EQ(s.framesRead, frames);
    EXPECT_EQ(s.framesProcessed, processed);
    EXPECT_EQ(s.framesHandedOut, taken.size());
    EXPECT_EQ(s.framesNotTaken, processed - taken.size());
    EXPECT_EQ(s.framesOverwritten, frames - processed);
    EXPECT_EQ(s.framesDropped, 0u);
    EXPECT_GT(s.framesOverwritten, 0u) << "the capture thread was slower than the camera";
    EXPECT_GT(s.framesNotTaken, 0u) << "the application was slower than the capture thread";
    // The last frame handed out was the last one processed: its totals are the stream's.
    const ZelvikFrameFacts& last = taken.back().facts;
    EXPECT_EQ(last.sequence, frames);
    EXPECT_EQ(last.totalNotTaken, s.framesNotTaken);
    EXPECT_EQ(s.recordProcessed + s.recordWritten + s.recordSkipped + s.recordQueued, 0u);
}

// A transfer the camera holds half a second: the frames it finished meanwhile were never read. The
// estimate, judged from arrival times, matches the camera's own grid to within one frame per read that
// came late in its period (a late read is handed the newest frame at once).
TEST_F(FrameFactsTest, StalledCameraIsCountedAsUnreadWithinTheStatedError) {
    const int h = OpenCounter(40, 48);
    ASSERT_EQ(Zelvik_SetWaitTime(h, 0), 1);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    const auto frames = [&](int count) {
        for (int i = 0; i < count; ++i) ASSERT_TRUE(WaitForFrame(Queue()));
    };
    frames(10);
    Firmware().Stall(1, std::chrono::milliseconds(500));
    frames(10);
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    const ZelvikStreamStats s = Stats(h);

    const std::vector<Read> log = Log();
    // A read the stop cut short may have reached the camera without being stored.
    ASSERT_GE(log.size(), s.framesRead);
    ASSERT_LE(log.size(), s.framesRead + 1) << "every frame the camera delivered was read and counted";
    constexpr auto kPeriod = std::chrono::milliseconds(25);
    uint64_t unread = 0;
    int lateReads = 0;
    for (size_t i = 1; i < s.framesRead; ++i) {
        unread += static_cast<uint64_t>((log[i].ready - log[i - 1].ready) / kPeriod - 1);
        lateReads += log[i].taken - log[i].ready > kPeriod / 4;
    }
    EXPECT_GE(unread, 15u) << "the held transfer cost the stream frames";
    EXPECT_LE(s.framesUnread, unread + 1 + static_cast<uint64_t>(lateReads));
    EXPECT_GE(s.framesUnread + 1 + static_cast<uint64_t>(lateReads), unread);
}

// Exposure and gain setters pause the acquisition between two frames, over and over: the numbering runs
// on across every pause. The application takes frames as the bindings do: each time a frame message
// arrives it hands the library a fresh buffer and reads the previous one, whose frame the facts of that
// buffer name. A restarted stream numbers its frames from 1 again.
TEST_F(FrameFactsTest, SequenceRunsOnAcrossPausesAndSetters) {
    const int h = OpenCounter(0, 1944);  // paced by its sensor timing: about 49 frames per second
    std::array<ZELVIK_HWND, 2> queues{ZelvikMsg_CreateQueue(), ZelvikMsg_CreateQueue()};
    std::array<std::vector<uint8_t>, 2> buffers{std::vector<uint8_t>(FrameBytes()), std::vector<uint8_t>(FrameBytes())};
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first stream" : "restarted stream");
        int current = 0;
        ASSERT_EQ(Zelvik_CallBackPreview(h, queues[0], buffers[0].data(), static_cast<int>(FrameBytes()), 1), 1);
        std::atomic<bool> done{false};
        std::thread setters([&] {
            for (int i = 0; !done.load(); ++i) {
                Zelvik_SetExposureTime(h, 100 + i % 2 * 100);
                Zelvik_SetGlobalGain(h, 16 + i % 2);
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
            }
        });
        std::vector<Taken> taken;
        while (taken.size() < 25) {
            ASSERT_TRUE(WaitForFrame(queues[current]));
            const int previous = current;
            current = 1 - current;
            ASSERT_EQ(Zelvik_CallBackPreview(h, queues[current], buffers[current].data(),
                                             static_cast<int>(FrameBytes()), 1), 1);
            Taken t{};
            // With the message waited for, one frame message more than these came for the buffer: the
            // newest one's frame is in it.
            for (ZelvikMessage m; ZelvikMsg_Get(queues[previous], &m, 0) == 1;) t.passedOver += m.lParam == 0;
            t.facts.size = sizeof t.facts;
            ASSERT_EQ(ZelvikFrame_GetFacts(h, buffers[previous].data(), &t.facts), 1);
            t.frame = CounterFrame(buffers[previous][FrameBytes() / 2]);
            taken.push_back(t);
        }
        done = true;
        setters.join();
        ASSERT_EQ(Zelvik_StopPreview(h), 1);
        DrainMessages(queues[current]);
        ExpectContinuous(taken);
        EXPECT_LT(taken.front().facts.sequence, 20u) << "a stream counts from its own first frame";
        const ZelvikStreamStats s = Stats(h);
        EXPECT_GE(s.framesRead, taken.back().facts.sequence);
        EXPECT_EQ(s.framesHandedOut, s.framesProcessed - s.framesNotTaken);
    }
    for (const ZELVIK_HWND q : queues) ZelvikMsg_DestroyQueue(q);
}

// Frames of a window set while streaming are taken and dropped, each once, and counted at that stage.
TEST_F(FrameFactsTest, FramesOfAnotherWindowAreDroppedAndCounted) {
    const int h = OpenCounter(50, 48);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 32, 1944, 0, 24), 1);
    ASSERT_TRUE(Eventually([&] { return Stats(h).framesDropped >= 5; }));
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
    DrainMessages(Queue());
    ASSERT_TRUE(WaitForFrame(Queue()));
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    const ZelvikStreamStats s = Stats(h);
    EXPECT_EQ(s.framesDropped, Engine(h).FrameCounters().dropped.load()) << "each frame once";
    ZelvikFrameFacts last{};
    last.size = sizeof last;
    ASSERT_EQ(ZelvikFrame_GetFacts(h, nullptr, &last), 1);
    EXPECT_EQ(last.totalDropped, s.framesDropped);
    EXPECT_LE(s.framesOverwritten + s.framesDropped + s.framesProcessed, s.framesRead);
}

// Single frames: each SnapShot of a Capture stream is the next number, copied into its buffer; GetImage
// of that image names the same frame. Refused calls, and a buffer nothing was copied into, say 0.
TEST_F(FrameFactsTest, SingleFramesAreNumberedInTheirStream) {
    const int h = OpenCounter(50, 48);
    ZelvikFrameFacts f{};
    f.size = sizeof f;
    EXPECT_EQ(ZelvikFrame_GetFacts(h, nullptr, &f), 0) << "no frame yet";
    ASSERT_EQ(Zelvik_Capture(h), 1);
    std::vector<uint8_t> image(FrameBytes()), copy(FrameBytes());
    for (uint64_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(Zelvik_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
        ASSERT_EQ(ZelvikFrame_GetFacts(h, image.data(), &f), 1);
        EXPECT_EQ(f.sequence, n);
        EXPECT_EQ(f.lostOverwritten + f.lostDropped + f.lostNotTaken + f.lostUnread, 0u);
    }
    ASSERT_EQ(Zelvik_GetImage(h, copy.data(), static_cast<int>(copy.size()), 1), 1);
    ASSERT_EQ(ZelvikFrame_GetFacts(h, copy.data(), &f), 1);
    EXPECT_EQ(f.sequence, 3u) << "the image of the last snapshot, handed out once";
    EXPECT_EQ(Stats(h).framesHandedOut, 3u);
    EXPECT_EQ(Stats(h).framesRead, 3u);
    EXPECT_EQ(Stats(h).streaming, 1);
    ASSERT_EQ(Zelvik_StopPreview(h), 1);

    std::vector<uint8_t> other(8);
    EXPECT_EQ(ZelvikFrame_GetFacts(h, other.data(), &f), 0) << "nothing was copied into this buffer";
    f.size = sizeof f - 1;
    EXPECT_EQ(ZelvikFrame_GetFacts(h, nullptr, &f), 0);
    EXPECT_EQ(ZelvikFrame_GetFacts(h, nullptr, nullptr), 0);
    ZelvikStreamStats s{};
    s.size = sizeof s - 8;
    EXPECT_EQ(ZelvikStream_GetStats(h, &s), 0);
    EXPECT_EQ(ZelvikStream_GetStats(h, nullptr), 0);
    s.size = sizeof s;
    EXPECT_EQ(ZelvikStream_GetStats(h + 1, &s), 0) << "an unknown handle";
}

}  // namespace
}  // namespace zelvik::test
