// Fuzzes random sequences of C API calls, with random handles, sizes and values, against the in-process
// emulated camera (and its faults: unplug, replug, stalls, a damaged identification sector), with still
// images and recordings sent to hostile places (directories, pipes without a reader, links planted by
// another user, names of the input's own bytes) in any format.
//
// Every buffer handed to the library is as large as the size passed with it (the contract of the C API);
// everything else is the input's choice. Beyond the sanitizers: results stay within what the interface
// documents (1 or 0, or the documented value ranges), and every handle is released at the end without a
// thread or descriptor left behind.
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/Exports.h"
#include "device/CameraDevice.h"
#include "emulator/EmulatedDisks.h"
#include "fuzz/HostilePlaces.h"
#include "include/ZelvikSdk.h"
#include "instance/CameraInstance.h"
#include "tests/support/ProcessStats.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "api fuzzer: %s\n", what);
        std::abort();
    }
}

// Process-wide set-up: a private settings home and output directory, no display.
const std::string& ScratchDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/zelvik-fuzz-api-XXXXXX";
        Check(::mkdtemp(pattern) != nullptr, "no temporary directory");
        ::setenv("XDG_CONFIG_HOME", pattern, 1);
        ::unsetenv("DISPLAY");
        return std::string(pattern);
    }();
    return dir;
}

const zelvik::fuzz::HostilePlaces& Places(const std::string& dir) {
    static const zelvik::fuzz::HostilePlaces places(dir);
    return places;
}

// Calls made over the whole run, printed at exit ("api fuzzer: N calls"): run.sh reports inputs, and
// each input makes up to 48 calls.
std::atomic<uint64_t> gCalls{0};
void PrintCalls() {
    std::fprintf(stderr, "api fuzzer: %llu calls\n", static_cast<unsigned long long>(gCalls.load()));
}

int AnyInt(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return in.ConsumeIntegralInRange(-3, 300);
        case 1: return in.PickValueInArray({INT_MIN, INT_MAX, -1, 0, 1, 2, 8, 16, 24, 32, 48, 64, 1944, 2592, 0xFFFF});
        default: return in.ConsumeIntegral<int>();
    }
}

// A buffer and the size passed with it: none, a few bytes, or a whole frame of the widest colour mode.
struct SizedBuffer {
    std::vector<uint8_t> bytes;
    void* data() { return bytes.empty() ? nullptr : bytes.data(); }
    int size() const { return static_cast<int>(bytes.size()); }
};
void Resize(SizedBuffer& buffer, FuzzedDataProvider& in) {
    static const size_t kSizes[] = {0, 1, 4096, 640 * 480 * 4, 2592 * 1944 * 3, 2592 * 1944 * 8};
    buffer.bytes.assign(kSizes[in.ConsumeIntegralInRange<size_t>(0, 5)], 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = ScratchDir();
    static const bool counting = std::atexit(PrintCalls) == 0;
    (void)counting;
    static const int baseThreads = zelvik::test::ThreadsNow();
    static const int baseFds = zelvik::test::DescriptorsNow();
    FuzzedDataProvider in(data, size);
    {
        zelvik::emu::EmulatedDisks disks(in.ConsumeIntegralInRange(0, 2));
        const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
        std::vector<int> handles;
        // The callback buffer lives until every handle is released: streaming writes into it.
        SizedBuffer callbackBuffer, buffer;
        auto anyHandle = [&]() -> int {
            if (handles.empty() || in.ConsumeIntegralInRange(0, 15) == 0) return AnyInt(in);
            return handles[in.ConsumeIntegralInRange<size_t>(0, handles.size() - 1)];
        };
        for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
            const int h = anyHandle();
            ++gCalls;
            int ok = 0;
            switch (in.ConsumeIntegralInRange(0, 34)) {
                case 0:
                    if (handles.size() < 3) {
                        const int made = zelvik::InitializeHandle([&](zelvik::CameraInstance& c) {
                            return c.InitializeWith(queue, zelvik::CreateCameraDevice(disks));
                        });
                        if (made != 0) handles.push_back(made);
                    }
                    break;
                case 1: Check(Zelvik_Release(h) <= 1, "Release"); break;
                case 2: Zelvik_GetLastError(h); break;
                case 3: Resize(callbackBuffer, in); Zelvik_CallBackPreview(h, queue, callbackBuffer.data(), callbackBuffer.size(), in.ConsumeBool()); break;
                case 4: Zelvik_StartPreview(h); break;
                case 5: Zelvik_StopPreview(h); break;
                case 6: Zelvik_Close(h); break;
                case 7: Resize(buffer, in); Zelvik_SnapShot(h, buffer.data(), buffer.size(), in.ConsumeBool()); break;
                case 8: Resize(buffer, in); Zelvik_GetImage(h, buffer.data(), buffer.size(), in.ConsumeBool()); break;
                case 9: Zelvik_Capture(h); break;
                case 10: Zelvik_SetCaptureWindowEx(h, AnyInt(in), AnyInt(in), AnyInt(in), AnyInt(in), AnyInt(in), AnyInt(in)); break;
                case 11: Zelvik_SetCaptureWindow(h, AnyInt(in), AnyInt(in)); break;
                case 12: Zelvik_SetColorMode(h, AnyInt(in)); break;
                case 13: Zelvik_SetSubSample(h, AnyInt(in)); break;
                case 14: Zelvik_SetWaitTime(h, in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 50) : AnyInt(in)); break;
                case 15: Zelvik_GetRealExposureTime(h, in.ConsumeBool() ? &ok : nullptr); break;
                case 16: Zelvik_SetDeviceNumber(h, AnyInt(in)); break;
                case 17: {
                    std::vector<char> names(10 * 256);
                    const int n = Zelvik_EnumDevice(h, names.data());
                    Check(n >= 0 && n <= 10, "EnumDevice count");
                    break;
                }
                case 18: {
                    std::vector<char> name(static_cast<size_t>(in.ConsumeIntegralInRange(0, 300)));
                    Zelvik_GetDeviceName(h, AnyInt(in), name.empty() ? nullptr : name.data(), static_cast<int>(name.size()));
                    break;
                }
                case 19: Zelvik_SetFilterValue(h, in.ConsumeIntegralInRange(-1, 29), AnyInt(in)); break;
                case 20: Zelvik_GetFilterValue(h, in.ConsumeIntegralInRange(-1, 29), in.ConsumeBool() ? &ok : nullptr); break;
                case 21: Zelvik_SetMirrorV(h, AnyInt(in)); Zelvik_SetMirrorH(h, AnyInt(in)); break;
                case 22: Zelvik_SetAutoIris(h, AnyInt(in)); break;
                case 23: Zelvik_WriteRegisterEx(h, AnyInt(in), AnyInt(in)); break;
                case 24: Zelvik_ReadRegisterEx(h, AnyInt(in), in.ConsumeBool() ? &ok : nullptr); break;
                case 25: Zelvik_WriteRegister(h, AnyInt(in), AnyInt(in)); Zelvik_ReadRegister(h, AnyInt(in), &ok); break;
                case 26: Zelvik_WriteSromID(h, AnyInt(in), AnyInt(in)); Zelvik_ReadSromID(h, AnyInt(in), &ok); break;
                case 27: {
                    ZelvikCameraInfo info{};
                    info.size = in.ConsumeBool() ? static_cast<int>(sizeof info) : AnyInt(in) & 0xFF;
                    Zelvik_GetCameraInfo(h, &info);
                    break;
                }
                case 28: {
                    const std::string path = Places(dir).AnyPath(in);
                    const int format = in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 7) : AnyInt(in);
                    const int saved = Zelvik_SaveImage(h, in.ConsumeBool() ? path.c_str() : nullptr, format);
                    Check(saved == 0 || saved == 1, "SaveImage result");
                    break;
                }
                case 29: {
                    // Faults of the emulated camera (cameras numbered from 1).
                    static const char* const kFaults[] = {"unplug 1", "replug 1", "stall 1 2 20", "unstall 1",
                                                          "ident 1 blank", "ident 1 intact", "noready 1 on",
                                                          "noready 1 off", "unplug 2", "replug 2"};
                    std::string error;
                    disks.Control(kFaults[in.ConsumeIntegralInRange<size_t>(0, 9)], &error);
                    break;
                }
                case 30: Zelvik_SetGlobalGain(h, AnyInt(in)); Zelvik_SetExposureTime(h, AnyInt(in)); break;
                case 31: {
                    const std::string path = Places(dir).AnyPath(in);
                    const int duration = in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 300) : AnyInt(in);
                    const int started =
                        Zelvik_Record(h, in.ConsumeBool() ? path.c_str() : nullptr, duration, 0);
                    Check(started == 0 || started == 1, "Record result");
                    break;
                }
                case 32: {
                    // Wide names: the input's own code units, unpaired surrogates and all.
                    std::wstring name;
                    for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 40); n > 0; --n)
                        name.push_back(
                            static_cast<wchar_t>(in.ConsumeIntegralInRange<uint32_t>(1, 0x10FFFF)));
                    const std::wstring wide = std::wstring(dir.begin(), dir.end()) + L"/" + name;
                    if (in.ConsumeBool())
                        Zelvik_SaveImageW(h, wide.c_str(), in.ConsumeIntegralInRange(-1, 7));
                    else
                        Zelvik_RecordW(h, wide.c_str(), in.ConsumeIntegralInRange(0, 200), 0);
                    break;
                }
                case 33: {
                    ZelvikRecordStatus status{};
                    status.size = in.ConsumeBool() ? static_cast<uint32_t>(sizeof status)
                                                   : in.ConsumeIntegral<uint32_t>();
                    const int got = ZelvikRec_GetStatus(h, in.ConsumeBool() ? &status : nullptr);
                    Check(got == 0 || got == 1, "GetStatus result");
                    Check(got == 0 || (status.end >= ZELVIK_REC_NONE && status.end <= ZELVIK_REC_CAMERA_LOST),
                          "recording end");
                    break;
                }
                default: {
                    ZelvikMessage m;
                    while (ZelvikMsg_Get(queue, &m, 0) == 1) {
                    }
                    break;
                }
            }
        }
        for (int h : handles) Zelvik_Release(h);  // 0 for one the sequence released already
        ZelvikMsg_DestroyQueue(queue);
    }
    // A stop leaves a transfer stalled in the emulated camera (20 ms at most here) to its drive's worker,
    // which closes the drive and ends once the transfer returns: give such a thread that long, and more.
    const auto settled = [&] { return zelvik::test::ThreadsNow() == baseThreads && zelvik::test::DescriptorsNow() == baseFds; };
    for (int wait = 0; wait < 200 && !settled(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Check(zelvik::test::ThreadsNow() == baseThreads, "a thread outlived its handle");
    Check(zelvik::test::DescriptorsNow() == baseFds, "a descriptor outlived its handle");
    Places(dir).RemoveWrittenFiles();
    // Still the one file planted behind another user's link: never followed, never written.
    Check(Places(dir).VictimIntact(), "a planted link was followed");
    return 0;
}
