// Fuzzes where still images and recordings go and what they are given: hostile places (directories, a
// FIFO without a reader, a pipe whose reader went away, links to a directory, to the null device and
// dangling, a name too long, names of the input's own bytes, and, as root, a link another user planted in
// a sticky world-writable directory) with images of any description and any format code, and recordings
// driven through every way they end.
//
// Beyond the sanitizers: results are 1 or 0; a failed save leaves no file where there was none; every
// recording that ended in a regular file states the file's own size (it is finished); the planted link's
// target never changes; no SIGPIPE reaches the process (its default action would end it).
#include <fuzzer/FuzzedDataProvider.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

constexpr char kVictimText[] = "not yours";

struct Places {
    std::string dir, victim, closedPipe;
    std::vector<std::string> paths;
};

// Made once: the scratch directory and its hostile places. SIGPIPE keeps its default action.
const Places& Scratch() {
    static const Places places = [] {
        Places p;
        char pattern[] = "/tmp/zelvik-fuzz-output-XXXXXX";
        Check(::mkdtemp(pattern) != nullptr, "no temporary directory");
        p.dir = pattern;
        const std::string folder = p.dir + "/folder", fifo = p.dir + "/fifo", keep = p.dir + "/keep",
                          shared = p.dir + "/shared";
        ::mkdir(folder.c_str(), 0755);
        ::mkdir(keep.c_str(), 0755);
        ::mkfifo(fifo.c_str(), 0600);
        ::symlink("/dev/null", (p.dir + "/to-null").c_str());
        ::symlink(folder.c_str(), (p.dir + "/to-folder").c_str());
        ::symlink((p.dir + "/nowhere/x").c_str(), (p.dir + "/dangling").c_str());
        ::mknod((p.dir + "/null-node").c_str(), S_IFCHR | 0600, makedev(1, 3));
        p.paths = {p.dir + "/out.bmp", p.dir + "/out.avi", folder, folder + "/", p.dir + "/missing/x.png", fifo,
                   p.dir + "/to-null", p.dir + "/to-folder", p.dir + "/dangling", p.dir + "/null-node", "/dev/null",
                   p.dir + "/" + std::string(300, 'n'), p.dir + "/" + std::string(5000, 'd'), ""};
        ::mkdir(shared.c_str(), 0700);
        ::chmod(shared.c_str(), 01777);
        p.victim = keep + "/victim";
        if (FILE* f = std::fopen(p.victim.c_str(), "w")) {
            std::fputs(kVictimText, f);
            std::fclose(f);
        }
        const std::string planted = shared + "/planted.avi";
        if (::symlink(p.victim.c_str(), planted.c_str()) == 0 && ::lchown(planted.c_str(), 4343, 4343) == 0)
            p.paths.push_back(planted);
        else
            p.victim.clear();
        ::signal(SIGPIPE, SIG_DFL);
        return p;
    }();
    return places;
}

std::atomic<uint64_t> gCalls{0};
void PrintCalls() { std::fprintf(stderr, "output fuzzer: %llu calls\n", static_cast<unsigned long long>(gCalls.load())); }

std::string AnyPath(FuzzedDataProvider& in, const Places& places) {
    if (in.ConsumeBool()) return places.paths[in.ConsumeIntegralInRange<size_t>(0, places.paths.size() - 1)];
    std::string name = in.ConsumeRandomLengthString(300);
    for (char& c : name)
        if (c == '/') c = '_';  // never leaves the scratch directory
    return places.dir + "/" + name;
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
    image.bytes.resize(static_cast<size_t>(image.view.stride) * static_cast<size_t>(std::max(image.view.height, 0)));
    for (size_t i = 0; i < image.bytes.size(); ++i) image.bytes[i] = static_cast<uint8_t>(i * 37);
    image.view.bits = image.bytes.empty() || in.ConsumeBool() == false ? image.bytes.data() : nullptr;
    if (image.bytes.empty()) image.view.bits = nullptr;
    return image;
}

void RemoveWrittenFiles(const std::string& dir) {
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            struct stat st {};
            const std::string path = dir + "/" + e->d_name;
            if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
        }
        ::closedir(d);
    }
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// A recording that ended into a regular file must state that file's size.
void CheckFinished(const std::string& path, zelvik::RecordingEnd end) {
    struct stat st {};
    if (end == zelvik::RecordingEnd::kFinishFailed || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
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
    const Places& places = Scratch();
    static const bool counting = std::atexit(PrintCalls) == 0;
    (void)counting;
    FuzzedDataProvider in(data, size);
    for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
        ++gCalls;
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0: {
                const std::string path = AnyPath(in, places);
                const Image image = AnyImage(in);
                const int format = in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 7) : in.ConsumeIntegral<int>();
                const bool existed = Exists(path);
                const int saved = zelvik::SaveImageFile(in.ConsumeBool() ? path.c_str() : nullptr, image.view, format);
                Check(saved == 0 || saved == 1, "SaveImageFile result");
                Check(saved == 1 || existed || !Exists(path), "a failed save left a file");
                break;
            }
            case 1: {
                // A recording of small frames, ended by its time, the size limit, a stop or the end of
                // the frames, whichever the input reaches first.
                const std::string path = AnyPath(in, places);
                const int width = in.ConsumeIntegralInRange(-1, 24), height = in.ConsumeIntegralInRange(-1, 16);
                zelvik::AviRecording recording(in.ConsumeBool() ? zelvik::AviWriter::kRiffLimit
                                                                : in.ConsumeIntegralInRange<uint64_t>(0, 20000));
                if (!recording.Start(path.c_str(), width, height, in.ConsumeIntegralInRange<uint32_t>(0, 500))) break;
                Image frame = AnyImage(in);
                uint32_t clock = in.ConsumeIntegral<uint32_t>();
                zelvik::RecordingEnd end = zelvik::RecordingEnd::kRunning;
                for (int i = 0; i < 12 && end == zelvik::RecordingEnd::kRunning && in.remaining_bytes() > 0; ++i) {
                    ++gCalls;
                    switch (in.ConsumeIntegralInRange(0, 4)) {
                        case 0: frame = AnyImage(in); break;
                        case 1: recording.EndOfFrames(); break;
                        default:
                            recording.Offer(frame.view, clock += in.ConsumeIntegralInRange<uint32_t>(0, 200));
                            break;
                    }
                    end = recording.AppendQueued();
                }
                for (int i = 0; i < 8 && end == zelvik::RecordingEnd::kRunning && recording.FramesEnded(); ++i)
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
                const std::string pipe = places.dir + "/pipe";
                ::mkfifo(pipe.c_str(), 0600);
                const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                zelvik::OutputFile file;
                const bool opened = file.Create(pipe.c_str());
                ::close(reader);
                std::vector<uint8_t> bytes(in.ConsumeIntegralInRange<size_t>(0, 200000), 1);
                if (opened) Check(!file.Write(bytes.data(), bytes.size()) || bytes.empty(), "a write to a closed pipe");
                ::unlink(pipe.c_str());
                break;
            }
        }
        Check(!SigpipePending(), "a SIGPIPE was left pending");
    }
    RemoveWrittenFiles(places.dir);
    if (!places.victim.empty()) {
        char text[32] = {};
        FILE* f = std::fopen(places.victim.c_str(), "r");
        Check(f != nullptr, "the planted link's target is gone");
        const size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        Check(std::string(text, n) == kVictimText, "a planted link was followed");
    }
    return 0;
}
