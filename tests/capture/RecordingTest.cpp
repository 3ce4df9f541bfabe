// Zelvik_Record(W), Zelvik_SaveImage(W) and ZelvikRec_GetStatus on the in-process emulated camera: refused
// starts, a recording that ends by itself while streaming goes on, a stop from outside, an unplugged
// camera, gray modes, a full disk, a pipe whose reader goes away, still images of every colour mode read
// back by libpng, and the error codes of failed saves.
#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "CaptureFixture.h"
#include "OutputTestUtil.h"

namespace zelvik::test {
namespace {

namespace fs = std::filesystem;

// The read end of a named pipe that a recording writes into, read only once Release() is called: until
// then the recorder's first frame cannot go through (a frame is larger than a pipe holds) and its write
// stalls, as one on a slow disk would. Bytes() is everything the pipe carried, once the writer closed it.
class StalledPipe {
public:
    explicit StalledPipe(const fs::path& path) {
        if (::mkfifo(path.c_str(), 0600) == 0) fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        reader_ = std::thread([this] { Read(); });
    }
    ~StalledPipe() {
        Release();
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ready() const { return fd_ >= 0; }
    void Release() { released_ = true; }
    const std::vector<uint8_t>& Bytes() {
        Release();
        if (reader_.joinable()) reader_.join();
        return bytes_;
    }

private:
    void Read() {
        while (!released_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::vector<uint8_t> chunk(1 << 16);
        while (fd_ >= 0) {
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
            if (n > 0) bytes_.insert(bytes_.end(), chunk.begin(), chunk.begin() + n);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;  // the writer closed its end
        }
    }

    int fd_ = -1;
    std::atomic<bool> released_{false};
    std::vector<uint8_t> bytes_;
    std::thread reader_;
};

class RecordingTest : public CaptureFixture {
protected:
    // The pipe is released before the handles go, so that no recording thread stays stuck in a write.
    void TearDown() override {
        if (pipe_) pipe_->Release();
        CaptureFixture::TearDown();
    }

    static ZelvikRecordStatus Status(int h) {
        ZelvikRecordStatus s{};
        s.size = sizeof s;
        EXPECT_EQ(ZelvikRec_GetStatus(h, &s), 1);
        return s;
    }
    // Waits (guard time only, not a measurement) until the recording of h has ended by itself or until
    // done holds.
    static ZelvikRecordStatus WaitUntil(int h, const std::function<bool(const ZelvikRecordStatus&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        ZelvikRecordStatus s = Status(h);
        while (!done(s) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            s = Status(h);
        }
        return s;
    }
    // The reported codes other than the frame path's 0 (automatic exposure off), which streaming may add.
    static std::vector<int> Reported(int h) {
        std::vector<int> codes = Errors(h);
        std::erase(codes, 0);
        return codes;
    }
    static ZelvikRecordStatus WaitForEnd(int h) {
        return WaitUntil(h, [](const ZelvikRecordStatus& s) { return s.recording == 0; });
    }

    TempDir dir_{"zelvik-record"};
    std::unique_ptr<StalledPipe> pipe_;
};

TEST_F(RecordingTest, RefusedStartsReportTheirCodeAndLeaveNoFile) {
    const int h = Open();
    SetWindow(h, 64, 48);
    fs::create_directory(dir_.path() / "folder");
    const std::string ok = (dir_.path() / "a.avi").string();
    const struct {
        const char* what;
        std::function<int()> call;
        int error;
    } cases[] = {
        {"null path", [&] { return Zelvik_Record(h, nullptr, 1000, 0); }, ZELVIK_ERR_ARGUMENT},
        {"empty path", [&] { return Zelvik_Record(h, "", 1000, 0); }, ZELVIK_ERR_ARGUMENT},
        {"negative duration", [&] { return Zelvik_Record(h, ok.c_str(), -1, 0); }, ZELVIK_ERR_ARGUMENT},
        {"a directory", [&] { return Zelvik_Record(h, (dir_.path() / "folder").c_str(), 1000, 0); }, ZELVIK_ERR_RECORDING},
        {"a missing folder", [&] { return Zelvik_Record(h, (dir_.path() / "no" / "a.avi").c_str(), 1000, 0); },
         ZELVIK_ERR_RECORDING},
        {"a wide path that is not text", [&] { return Zelvik_RecordW(h, L"a\xD800.avi", 1000, 0); }, ZELVIK_ERR_RECORDING},
        {"a null wide path", [&] { return Zelvik_RecordW(h, nullptr, 1000, 0); }, ZELVIK_ERR_RECORDING},
        {"a window asked for with no display",
         [&] {
             const char* saved = std::getenv("DISPLAY");
             const std::string keep = saved ? saved : "";
             setenv("DISPLAY", ":987", 1);  // no server listens there
             const int result = Zelvik_Record(h, ok.c_str(), 1000, 1);
             if (saved) setenv("DISPLAY", keep.c_str(), 1); else unsetenv("DISPLAY");
             return result;
         },
         ZELVIK_ERR_WINDOW},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), 0) << c.what;
        EXPECT_EQ(Errors(h), std::vector<int>{c.error}) << c.what;
        EXPECT_EQ(Engine(h).Mode(), 0) << c.what << ": the capture is closed again";
        EXPECT_EQ(Status(h).recording, 0) << c.what;
    }
    EXPECT_FALSE(fs::exists(ok));
    ZelvikRecordStatus s{};
    s.size = offsetof(ZelvikRecordStatus, framesQueued) - 1;  // below the 40 bytes of the first layout
    EXPECT_EQ(ZelvikRec_GetStatus(h, &s), 0);
    EXPECT_EQ(ZelvikRec_GetStatus(h, nullptr), 0);
    EXPECT_EQ(Errors(h), (std::vector<int>{ZELVIK_ERR_ARGUMENT, ZELVIK_ERR_ARGUMENT}));
    s.size = offsetof(ZelvikRecordStatus, framesQueued);  // a caller built before framesQueued existed
    s.framesQueued = 77;
    EXPECT_EQ(ZelvikRec_GetStatus(h, &s), 1);
    EXPECT_EQ(s.framesQueued, 77u);  // nothing written past its 40 bytes
}

TEST_F(RecordingTest, EndsByItselfWithTheMeasuredRateWhileStreamingGoesOn) {
    const int h = Open();
    SetWindow(h, 64, 48);
    ASSERT_EQ(Zelvik_SetColorMode(h, 24), 1);
    const fs::path path = dir_.path() / "timed.avi";
    ASSERT_EQ(Zelvik_Record(h, path.c_str(), 300, 0), 1);
    const ZelvikRecordStatus s = WaitForEnd(h);
    ASSERT_EQ(s.recording, 0);
    EXPECT_EQ(s.end, ZELVIK_REC_TIME_UP);
    EXPECT_EQ(s.durationMs, 300u);
    EXPECT_GT(s.elapsedMs, 300u);  // the frame after the requested time ends it
    ASSERT_GE(s.framesWritten, 2u);
    EXPECT_EQ(s.rateHundredths, uint64_t{s.framesWritten - 1} * 100000 / s.elapsedMs);
    EXPECT_EQ(s.framesQueued, 0u);  // nothing is taken after the frame that ends it
    EXPECT_EQ(s.framesWritten + s.framesSkipped, s.framesProcessed);
    EXPECT_EQ(Engine(h).Mode(), 1);  // streaming goes on
    EXPECT_TRUE(Reported(h).empty());

    const auto f = ReadFile(path);
    ASSERT_GT(f.size(), 232u);
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(Le32(f, 48), s.framesWritten);
    EXPECT_EQ(Le32(f, 32), 100000000 / s.rateHundredths);
    EXPECT_EQ(ProbeVideo(path), "64,48," + std::to_string(s.framesWritten));
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
    EXPECT_EQ(Status(h).end, ZELVIK_REC_TIME_UP);  // a finished recording stays finished
}

TEST_F(RecordingTest, StopPreviewFinishesTheFileAndASecondRecordIsRefused) {
    const int h = Open();
    SetWindow(h, 64, 48);
    const fs::path path = dir_.path() / "stopped.avi";
    ASSERT_EQ(Zelvik_Record(h, path.c_str(), 60000, 0), 1);
    ASSERT_GE(WaitUntil(h, [](const ZelvikRecordStatus& s) { return s.framesWritten >= 2; }).framesWritten, 2u);
    EXPECT_EQ(Zelvik_Record(h, (dir_.path() / "second.avi").c_str(), 1000, 0), 0);
    EXPECT_EQ(Reported(h), std::vector<int>{ZELVIK_ERR_RECORDING});
    EXPECT_EQ(Status(h).recording, 1);  // the first goes on
    EXPECT_FALSE(fs::exists(dir_.path() / "second.avi"));

    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    const ZelvikRecordStatus s = Status(h);
    EXPECT_EQ(s.recording, 0);
    EXPECT_EQ(s.end, ZELVIK_REC_STOPPED);
    EXPECT_EQ(s.framesWritten + s.framesSkipped + s.framesQueued, s.framesProcessed);
    EXPECT_TRUE(Reported(h).empty());
    const auto f = ReadFile(path);
    EXPECT_EQ(f.size(), 232 + size_t(s.framesWritten) * (8 + 64 * 48 * 3 + 16) + 8);
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(Le32(f, 48), s.framesWritten);
    EXPECT_EQ(Le32(f, 32), 100000000 / s.rateHundredths);
    EXPECT_EQ(ProbeVideo(path), "64,48," + std::to_string(s.framesWritten));
}

// A camera pulled during a recording ends it as a failed write does: the frames before are a finished
// file, the recording reports error 12 after the loss (13), and it no longer says it is recording.
TEST_F(RecordingTest, AnUnpluggedCameraEndsTheRecordingWithAPlayableFile) {
    const int h = Open();
    SetWindow(h, 64, 48);
    const fs::path path = dir_.path() / "unplugged.avi";
    ASSERT_EQ(Zelvik_Record(h, path.c_str(), 60000, 0), 1);
    ASSERT_GE(WaitUntil(h, [](const ZelvikRecordStatus& s) { return s.framesWritten >= 3; }).framesWritten,
              3u);
    Firmware().Unplug();
    const ZelvikRecordStatus s = WaitForEnd(h);
    ASSERT_EQ(s.recording, 0);
    EXPECT_EQ(s.end, ZELVIK_REC_CAMERA_LOST);
    EXPECT_EQ(Reported(h), (std::vector<int>{ZELVIK_ERR_RECORDING, ZELVIK_ERR_CAMERA_LOST}));
    EXPECT_EQ(s.framesQueued, 0u);
    EXPECT_EQ(s.framesWritten + s.framesSkipped, s.framesProcessed);
    EXPECT_EQ(ProbeVideo(path), "64,48," + std::to_string(s.framesWritten));
    const auto f = ReadFile(path);
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
    EXPECT_EQ(Status(h).end, ZELVIK_REC_CAMERA_LOST);
}

// A named pipe is a real target (a player or an encoder reading it): without a reader the start is
// refused at once instead of waiting for one; a reader that goes away makes the write fail with EPIPE
// (SIGPIPE keeps its default action, which would end this process) and ends the recording like any
// failed write.
TEST_F(RecordingTest, APipeIsRecordedOnlyWithAReaderAndItsLossEndsTheRecording) {
    ASSERT_EQ(::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    const int h = Open();
    SetWindow(h, 64, 48);
    const fs::path fifo = dir_.path() / "pipe.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Zelvik_Record(h, fifo.c_str(), 60000, 0), 0);
    EXPECT_EQ(Reported(h), std::vector<int>{ZELVIK_ERR_RECORDING});

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(Zelvik_Record(h, fifo.c_str(), 60000, 0), 1);
    std::vector<uint8_t> chunk(1 << 16);
    size_t received = 0;
    for (int i = 0; i < 3000 && received < 232 + 2 * (8 + 64 * 48 * 3); ++i) {
        const ssize_t n = ::read(reader, chunk.data(), chunk.size());
        if (n > 0)
            received += size_t(n);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(received, 232 + 2 * (8 + 64 * 48 * 3u));
    ::close(reader);
    const ZelvikRecordStatus s = WaitForEnd(h);
    ASSERT_EQ(s.recording, 0);
    EXPECT_EQ(s.end, ZELVIK_REC_WRITE_FAILED);
    EXPECT_EQ(s.error, EPIPE);
    EXPECT_EQ(Reported(h), std::vector<int>{ZELVIK_ERR_RECORDING});
    EXPECT_EQ(s.framesWritten + s.framesSkipped + s.framesQueued, s.framesProcessed);
}

// ZelvikRec_Finish ends a long recording early as its time would: a finished file of the frames written,
// streaming going on; without a recording it answers 0 and reports nothing.
TEST_F(RecordingTest, FinishEndsARecordingEarlyWithAFinishedFile) {
    const int h = Open();
    SetWindow(h, 64, 48);
    EXPECT_EQ(ZelvikRec_Finish(h), 0);
    const fs::path path = dir_.path() / "finished.avi";
    ASSERT_EQ(Zelvik_Record(h, path.c_str(), 60000, 0), 1);
    ASSERT_GE(WaitUntil(h, [](const ZelvikRecordStatus& s) { return s.framesWritten >= 2; }).framesWritten, 2u);
    EXPECT_EQ(ZelvikRec_Finish(h), 1);
    const ZelvikRecordStatus s = WaitForEnd(h);
    ASSERT_EQ(s.recording, 0);
    EXPECT_EQ(s.end, ZELVIK_REC_TIME_UP);
    EXPECT_LT(s.elapsedMs, 60000u);
    EXPECT_EQ(s.framesQueued, 0u);
    EXPECT_EQ(s.framesWritten + s.framesSkipped, s.framesProcessed);
    EXPECT_EQ(Engine(h).Mode(), 1);  // streaming goes on
    EXPECT_TRUE(Reported(h).empty());
    EXPECT_EQ(ZelvikRec_Finish(h), 0);
    const auto f = ReadFile(path);
    EXPECT_EQ(Le32(f, 4), f.size() - 8);
    EXPECT_EQ(Le32(f, 48), s.framesWritten);
    EXPECT_EQ(ProbeVideo(path), "64,48," + std::to_string(s.framesWritten));
}

TEST_F(RecordingTest, GrayModesRecordThreeEqualChannels) {
    MakeMosaicCamera(TexturedMosaic(64, 48));
    for (int bits : {8, 16}) {
        const int h = Open();
        SetWindow(h, 64, 48);
        ASSERT_EQ(Zelvik_SetColorMode(h, bits), 1);
        const fs::path path = dir_.path() / ("gray" + std::to_string(bits) + ".avi");
        ASSERT_EQ(Zelvik_Record(h, path.c_str(), 50, 0), 1);
        ASSERT_EQ(WaitForEnd(h).end, ZELVIK_REC_TIME_UP) << bits;
        const auto f = ReadFile(path);
        bool varied = false;
        for (size_t i = 240; i < 240 + 64 * 48 * 3; i += 3) {
            ASSERT_TRUE(f[i] == f[i + 1] && f[i] == f[i + 2]) << bits << " bits, byte " << i;
            varied |= f[i] != f[240];
        }
        EXPECT_TRUE(varied) << bits << ": the picture is not flat";
        Release(h);
    }
}

TEST_F(RecordingTest, AFullDiskEndsTheRecordingWithAPlayableFileAndError12) {
    SmallDisk disk(512 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    const int h = Open();
    SetWindow(h, 64, 48);
    const fs::path path = disk.Path() / "full.avi";
    ASSERT_EQ(Zelvik_Record(h, path.c_str(), 60000, 0), 1);
    const ZelvikRecordStatus s = WaitForEnd(h);
    ASSERT_EQ(s.recording, 0);
    EXPECT_EQ(s.end, ZELVIK_REC_WRITE_FAILED);
    EXPECT_EQ(s.error, ENOSPC);
    EXPECT_EQ(Reported(h), std::vector<int>{ZELVIK_ERR_RECORDING});
    EXPECT_GT(s.framesWritten, 10u);
    EXPECT_EQ(s.framesWritten + s.framesSkipped + s.framesQueued, s.framesProcessed);
    EXPECT_EQ(ProbeVideo(path), "64,48," + std::to_string(s.framesWritten));
}

// While the first frame's write stalls, the frames behind it wait in the recorder's queue instead of
// replacing one another; once the write goes through, all of them follow in order. The counter scene
// numbers the frames: frame n is level 16 + 29 n (mod 224) everywhere.
TEST_F(RecordingTest, AStalledWriteLosesNoFrameWhileTheQueueHasRoom) {
    emu::FirmwareOptions options;
    options.scene = emu::CounterScene();
    options.fps = 10;
    MakeCamera(options);
    const int h = Open();
    constexpr int kWidth = 256, kHeight = 192;  // a frame of 147 456 bytes: more than a pipe holds
    SetWindow(h, kWidth, kHeight);
    ASSERT_EQ(Zelvik_SetColorMode(h, 8), 1);
    const fs::path path = dir_.path() / "stalled.avi";
    pipe_ = std::make_unique<StalledPipe>(path);
    ASSERT_TRUE(pipe_->Ready());
    ASSERT_EQ(Zelvik_Record(h, path.c_str(), 60000, 0), 1);

    // Read between two frames: while the capture thread converts a frame, it counts as processed and not
    // yet as queued.
    const ZelvikRecordStatus stalled = WaitUntil(h, [](const ZelvikRecordStatus& s) {
        return s.framesProcessed >= 3 && s.framesQueued + s.framesSkipped == s.framesProcessed;
    });
    ASSERT_GE(stalled.framesProcessed, 3u);
    EXPECT_EQ(stalled.framesWritten, 0u);
    // The stalled frame holds one of the slots; a frame is skipped only once all are taken.
    const uint32_t slots = AviRecording::kQueueSlots;
    EXPECT_EQ(stalled.framesSkipped, stalled.framesProcessed > slots ? stalled.framesProcessed - slots : 0);
    EXPECT_EQ(stalled.framesQueued, stalled.framesProcessed - stalled.framesSkipped);
    EXPECT_GE(stalled.framesQueued, 3u);  // the stalled frame and the two that arrived behind it

    pipe_->Release();
    ASSERT_GE(WaitUntil(h, [](const ZelvikRecordStatus& s) { return s.framesWritten >= 6; }).framesWritten, 6u);
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    const ZelvikRecordStatus s = Status(h);
    EXPECT_EQ(s.end, ZELVIK_REC_STOPPED);
    EXPECT_EQ(s.framesWritten + s.framesSkipped + s.framesQueued, s.framesProcessed);

    const std::vector<uint8_t>& f = pipe_->Bytes();
    const size_t chunk = 8 + size_t{kWidth} * kHeight * 3;
    ASSERT_EQ(f.size(), 232 + s.framesWritten * chunk);
    // Each frame's number from its middle pixel; consecutive frames of the file follow one another.
    const size_t middle = 8 + (size_t{kHeight / 2} * kWidth + kWidth / 2) * 3;
    std::vector<int> numbers;
    for (size_t k = 0; k < s.framesWritten; ++k) numbers.push_back((f[232 + k * chunk + middle] - 16 + 224) * 85 % 224);
    for (size_t k = 1; k < numbers.size(); ++k) {
        const int step = (numbers[k] - numbers[k - 1] + 224) % 224;
        EXPECT_TRUE(step >= 1 && step <= 3) << "frame " << k << ": " << testing::PrintToString(numbers);
    }
}

TEST_F(RecordingTest, SaveImageWritesTheLastCaptureInEveryColourMode) {
    const int h = Open();
    SetWindow(h, 64, 48);
    EXPECT_EQ(Zelvik_SaveImage(h, (dir_.path() / "none.png").c_str(), ZELVIK_FORMAT_PNG), 0);
    EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_NOT_ALLOWED});  // no image yet

    const struct { int bits, colourType, depth; } modes[] = {
        {8, PNG_COLOR_TYPE_GRAY, 8}, {16, PNG_COLOR_TYPE_GRAY, 16}, {24, PNG_COLOR_TYPE_RGB, 8},
        {32, PNG_COLOR_TYPE_RGB_ALPHA, 8}, {48, PNG_COLOR_TYPE_RGB, 16}, {64, PNG_COLOR_TYPE_RGB_ALPHA, 16}};
    for (const auto& m : modes) {
        ASSERT_EQ(Zelvik_SetColorMode(h, m.bits), 1);
        std::vector<uint8_t> buffer(size_t((64 * m.bits / 8 + 3) & ~3) * 48);
        ASSERT_EQ(Zelvik_SnapShot(h, buffer.data(), int(buffer.size()), 1), 1) << m.bits;
        const fs::path png = dir_.path() / ("m" + std::to_string(m.bits) + ".png");
        ASSERT_EQ(Zelvik_SaveImage(h, png.c_str(), ZELVIK_FORMAT_PNG), 1) << m.bits;
        const Decoded d = DecodePng(png);
        EXPECT_EQ(d.width, 64);
        EXPECT_EQ(d.height, 48);
        EXPECT_EQ(d.colourType, m.colourType) << m.bits;
        EXPECT_EQ(d.bitDepth, m.depth) << m.bits;
    }
    // The last capture (64 bits) in every form; format 7 writes nothing and reports nothing.
    for (int format = 0; format <= ZELVIK_FORMAT_TIFF; ++format)
        EXPECT_EQ(Zelvik_SaveImage(h, (dir_.path() / ("f" + std::to_string(format))).c_str(), format), 1) << format;
    EXPECT_EQ(fs::file_size(dir_.path() / "f0"), 54 + 64 * 48 * 8u);
    EXPECT_TRUE(Errors(h).empty());

    const std::wstring wide = (dir_.path() / "").wstring() + L"\u753B\u50CF.tif";
    EXPECT_EQ(Zelvik_SaveImageW(h, wide.c_str(), ZELVIK_FORMAT_TIFF), 1);
    EXPECT_TRUE(fs::exists(dir_.path() / "\xE7\x94\xBB\xE5\x83\x8F.tif"));
    EXPECT_EQ(Zelvik_SaveImageW(h, L"bad\xDC00.png", ZELVIK_FORMAT_PNG), 0);
    EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_NOT_ALLOWED});
}

// Every failed save says why, with the codes Record gives the same faults, keeps its return value 0 and
// creates no file.
TEST_F(RecordingTest, AFailedSaveImageReportsWhy) {
    const int h = Open();
    SetWindow(h, 64, 48);
    std::vector<uint8_t> buffer(64 * 3 * 48);
    ASSERT_EQ(Zelvik_SnapShot(h, buffer.data(), int(buffer.size()), 1), 1);
    fs::create_directory(dir_.path() / "folder");
    ASSERT_EQ(::mkfifo((dir_.path() / "pipe").c_str(), 0600), 0);
    const std::string ok = (dir_.path() / "ok.png").string();
    struct Case {
        const char* what;
        const char* name;  // null: a null name
        int format;
        int error;
    };
    const std::string directory = (dir_.path() / "folder").string(), fifo = (dir_.path() / "pipe").string(),
                      missing = (dir_.path() / "no" / "a.png").string(),
                      tooLong = (dir_.path() / std::string(300, 'n')).string();
    std::vector<Case> cases = {
        {"a null name", nullptr, ZELVIK_FORMAT_PNG, ZELVIK_ERR_ARGUMENT},
        {"an empty name", "", ZELVIK_FORMAT_BMP, ZELVIK_ERR_ARGUMENT},
        {"format 7", ok.c_str(), 7, ZELVIK_ERR_ARGUMENT},
        {"format -1", ok.c_str(), -1, ZELVIK_ERR_ARGUMENT},
        {"a directory", directory.c_str(), ZELVIK_FORMAT_PNG, ZELVIK_ERR_RECORDING},
        {"a missing folder", missing.c_str(), ZELVIK_FORMAT_PNG, ZELVIK_ERR_RECORDING},
        {"a name too long", tooLong.c_str(), ZELVIK_FORMAT_RAW, ZELVIK_ERR_RECORDING},
        {"a FIFO without a reader", fifo.c_str(), ZELVIK_FORMAT_BMP, ZELVIK_ERR_RECORDING},
    };
    SmallDisk full(4096), readOnly(64 * 1024, true);  // one page: a 64 x 48 picture does not fit
    const std::string onFull = (full.Path() / "x.bmp").string(),
                      onReadOnly = (readOnly.Path() / "x.tif").string();
    if (full.Mounted() && readOnly.Mounted()) {
        cases.push_back({"a full disk", onFull.c_str(), ZELVIK_FORMAT_BMP, ZELVIK_ERR_RECORDING});
        cases.push_back({"a read-only mount", onReadOnly.c_str(), ZELVIK_FORMAT_TIFF, ZELVIK_ERR_RECORDING});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Zelvik_SaveImage(h, c.name, c.format), 0);
        EXPECT_EQ(Errors(h), std::vector<int>{c.error});
    }
    for (const std::string& name : {ok, missing, tooLong, onFull, onReadOnly}) {
        std::error_code unused;
        EXPECT_FALSE(fs::exists(name, unused)) << name;
    }
    EXPECT_EQ(Zelvik_SaveImageW(h, L"", ZELVIK_FORMAT_PNG), 0);
    EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_ARGUMENT});
    EXPECT_EQ(Zelvik_SaveImage(h, ok.c_str(), ZELVIK_FORMAT_PNG), 1);
    EXPECT_TRUE(Errors(h).empty());
    if (!full.Mounted() || !readOnly.Mounted())
        GTEST_SKIP() << "the full and read-only disk cases: " << full.Why();
}

}  // namespace
}  // namespace zelvik::test
