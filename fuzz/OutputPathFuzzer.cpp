// Fuzzes where still images and recordings go and what they are given: hostile places (directories, a
// FIFO without a reader, a pipe whose reader went away, links to a directory, to the null device and
// dangling, a name too long, names of the input's own bytes, and, as root, a link another user planted in
// a sticky world-writable directory) with images of any description and any format code, and recordings
// driven through every way they end.
//
// Beyond the sanitizers: results are 1 or 0; a failed save leaves no file where there was none; every
// recording that ended in a regular file states the file's own size (it is finished); the planted link's
// target never changes; no SIGPIPE reaches the process (its default action would end it).
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/HostilePlaces.h"
#include "output/AviRecording.h"
#include "output/OutputFile.h"
#include "output/StillImage.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "output fuzzer: %s\n", what);
        std::abort();
    }
}

// Made once: the scratch directory and its hostile places. SIGPIPE keeps its default action.
const zelvik::fuzz::HostilePlaces& Scratch() {
    static const zelvik::fuzz::HostilePlaces places = [] {
        char pattern[] = "/tmp/zelvik-fuzz-output-XXXXXX";
        Check(::mkdtemp(pattern) != nullptr, "no temporary directory");
        ::signal(SIGPIPE, SIG_DFL);
        return zelvik::fuzz::HostilePlaces(pattern);
    }();
    return places;
}

std::atomic<uint64_t> gCalls{0};
void PrintCalls() {
    std::fprintf(stderr, "output fuzzer: %llu calls\n", static_cast<unsigned long long>(gCalls.load()));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// An image of the input's description over a buffer that always holds what the description claims
// (stride x height bytes), or a refused description (no pixels, odd depth, rows past the stride).
struct Image {
    std::vector<uint8_t> bytes;
    zelvik::ImageView view;
};
Image AnyImage(FuzzedDataProvider& in) {
    Image image;
    static const int kDepths[] = {8, 16, 24, 32, 48, 64, 0, 12, -8};
    image.view.bitsPerPixel = in.PickValueInArray(kDepths);
    image.view.width = in.ConsumeIntegralInRange(-2, 40);
    image.view.height = in.ConsumeIntegralInRange(-2, 30);
    const int bytesPerPixel = image.view.bitsPerPixel > 0 ? image.view.bitsPerPixel / 8 : 0;
    const int rowBytes = std::max(image.view.width, 0) * bytesPerPixel;
    image.view.stride = static_cast<uint32_t>(std::max(0, rowBytes + in.ConsumeIntegralInRange(-4, 8)));
    image.bytes.resize(static_cast<size_t>(image.view.stride) *
                       static_cast<size_t>(std::max(image.view.height, 0)));
    for (size_t i = 0; i < image.bytes.size(); ++i) image.bytes[i] = static_cast<uint8_t>(i * 37);
    image.view.bits = image.bytes.empty() || in.ConsumeBool() == false ? image.bytes.data() : nullptr;
    if (image.bytes.empty()) image.view.bits = nullptr;
    return image;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// A recording that ended into a regular file must state that file's size.
void CheckFinished(const std::string& path, zelvik::RecordingEnd end) {
    struct stat st {};
    if (end == zelvik::RecordingEnd::kFinishFailed || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return;
    std::vector<uint8_t> head(8);
    const size_t n = std::fread(head.data(), 1, head.size(), f);
    std::fclose(f);
    Check(n == 8 && Le32(head, 4) + 8 == static_cast<uint64_t>(st.st_size), "a recording ended unfinished");
}

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zelvik::fuzz::HostilePlaces& places = Scratch();
    static const bool counting = std::atexit(PrintCalls) == 0;
    (void)counting;
    FuzzedDataProvider in(data, size);
    for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
        ++gCalls;
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0: {
                const std::string path = places.AnyPath(in);
                const Image image = AnyImage(in);
                const int format =
                    in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 7) : in.ConsumeIntegral<int>();
                const bool existed = Exists(path);
                const int saved =
                    zelvik::SaveImageFile(in.ConsumeBool() ? path.c_str() : nullptr, image.view, format);
                Check(saved == 0 || saved == 1, "SaveImageFile result");
                Check(saved == 1 || existed || !Exists(path), "a failed save left a file");
                break;
            }
            case 1: {
                // A recording of small frames, ended by its time, the size limit, a stop or the end of
                // the frames, whichever the input reaches first.
                const std::string path = places.AnyPath(in);
                const int width = in.ConsumeIntegralInRange(-1, 24),
                          height = in.ConsumeIntegralInRange(-1, 16);
                zelvik::AviRecording recording(in.ConsumeBool()
                                                   ? zelvik::AviWriter::kRiffLimit
                                                   : in.ConsumeIntegralInRange<uint64_t>(0, 20000));
                if (!recording.Start(path.c_str(), width, height,
                                     in.ConsumeIntegralInRange<uint32_t>(0, 500)))
                    break;
                Image frame = AnyImage(in);
                uint32_t clock = in.ConsumeIntegral<uint32_t>();
                zelvik::RecordingEnd end = zelvik::RecordingEnd::kRunning;
                for (int i = 0; i < 12 && end == zelvik::RecordingEnd::kRunning && in.remaining_bytes() > 0;
                     ++i) {
                    ++gCalls;
                    switch (in.ConsumeIntegralInRange(0, 4)) {
                        case 0:
                            frame = AnyImage(in);
                            break;
                        case 1:
                            recording.EndOfFrames();
                            break;
                        default:
                            recording.Offer(frame.view, clock += in.ConsumeIntegralInRange<uint32_t>(0, 200));
                            break;
                    }
                    end = recording.AppendQueued();
                }
                for (int i = 0; i < 8 && end == zelvik::RecordingEnd::kRunning && recording.FramesEnded();
                     ++i)
                    end = recording.AppendQueued();
                recording.Stop();
                Check(recording.FramesWritten() + recording.FramesSkipped() + recording.FramesQueued() ==
                          recording.FramesOffered(),
                      "recording counters");
                CheckFinished(path, recording.End());
                break;
            }
            default: {
                // A pipe whose reader goes away before, or during, the write.
                const std::string pipe = places.dir + "/keep/pipe";  // out of reach of the input's names
                ::mkfifo(pipe.c_str(), 0600);
                const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                zelvik::OutputFile file;
                const bool opened = file.Create(pipe.c_str());
                ::close(reader);
                std::vector<uint8_t> bytes(in.ConsumeIntegralInRange<size_t>(0, 200000), 1);
                if (opened)
                    Check(!file.Write(bytes.data(), bytes.size()) || bytes.empty(),
                          "a write to a closed pipe");
                ::unlink(pipe.c_str());
                break;
            }
        }
        Check(!SigpipePending(), "a SIGPIPE was left pending");
    }
    places.RemoveWrittenFiles();
    Check(places.VictimIntact(), "a planted link was followed");
    return 0;
}
