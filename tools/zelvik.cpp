// zelvik: the command-line tool. Lists cameras, reads and sets their values and registers, streams and
// snaps frames, on the attached cameras or on the built-in emulated camera (--emulated, or `demo`).
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "api/Exports.h"
#include "device/CameraDevice.h"
#include "emulator/EmulatedDisks.h"
#include "include/ZelvikSdk.h"
#include "instance/CameraInstance.h"
#include "instance/Errors.h"

namespace {

// The names the tool gives the filter values, in index order 1..27.
constexpr const char* kFilterNames[] = {
    "brightness", "contrast", "hue", "saturation", "sharpness", "bayer-gain-rgb", "bayer-gain-red",
    "bayer-gain-green", "bayer-gain-blue", "bayer-gain-auto", "gamma", "bayer-mode", "global-gain",
    "color-gain-red", "color-gain-green1", "color-gain-green2", "color-gain-blue", "exposure",
    "gray-mode", "gray-gain-r", "gray-gain-g1", "gray-gain-g2", "gray-gain-b", "gray-offset-r",
    "gray-offset-g1", "gray-offset-g2", "gray-offset-b",
};

int FilterIndex(const std::string& name) {
    for (int i = 0; i < 27; ++i)
        if (name == kFilterNames[i]) return i + 1;
    return 0;
}

std::string ErrorText(int code) {
    const zelvik::ErrorInfo* e = zelvik::FindError(code);
    return std::to_string(code) + (e ? std::string(" ") + e->name + " (" + e->message + ")" : "");
}

// One camera handle for the command, on the attached cameras or on the built-in emulator; released at
// the end with the errors it reported printed.
class Session {
public:
    explicit Session(bool emulated) : queue_(ZelvikMsg_CreateQueue()) {
        if (emulated) {
            disks_ = std::make_unique<zelvik::emu::EmulatedDisks>(1);
            handle_ = zelvik::InitializeHandle([this](zelvik::CameraInstance& c) {
                return c.InitializeWith(queue_, zelvik::CreateCameraDevice(*disks_));
            });
        } else {
            handle_ = Zelvik_Initialize(queue_);
        }
    }
    ~Session() {
        Zelvik_Release(handle_);
        ZelvikMsg_DestroyQueue(queue_);
    }
    int handle() const { return handle_; }
    ZELVIK_HWND queue() const { return queue_; }
    // Prints and clears the error stack; the number of errors.
    int ReportErrors(const char* what) {
        int n = 0;
        for (int code; (code = Zelvik_GetLastError(handle_)) != 0; ++n)
            std::fprintf(stderr, "%s: error %s\n", what, ErrorText(code).c_str());
        return n;
    }

private:
    std::unique_ptr<zelvik::emu::EmulatedDisks> disks_;
    ZELVIK_HWND queue_;
    int handle_ = 0;
};

int ListCameras(Session& s) {
    char names[10][256];
    const int n = Zelvik_EnumDevice(s.handle(), &names[0][0]);
    std::printf("%d camera(s)\n", n);
    for (int i = 0; i < n; ++i) std::printf("  %s\n", names[i]);
    return 0;
}

int ShowInfo(Session& s) {
    const int h = s.handle();
    ZelvikCameraInfo info{};
    info.size = sizeof info;
    if (!Zelvik_GetCameraInfo(h, &info)) return s.ReportErrors("info"), 1;
    int ok = 0;
    int th, ehs, eh, tv, evs, ev;
    Zelvik_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev);
    std::printf("library version    %d\n", Zelvik_GetDllVersion());
    std::printf("kernel forms       %s\n", ZelvikLib_KernelForms());
    std::printf("sensor             %d x %d\n", info.maxWidth, info.maxHeight);
    std::printf("capture window     %d x %d at (%d, %d), subsample %d\n", eh, ev, ehs, evs,
                Zelvik_GetSubSample(h));
    std::printf("colour mode        %d bits\n", Zelvik_GetColorMode(h));
    std::printf("exposure           %d lines = %d us\n", Zelvik_GetExposureTime(h, &ok),
                Zelvik_GetRealExposureTime(h, &ok));
    for (int i = 1; i <= 27; ++i) std::printf("%-18s %d\n", kFilterNames[i - 1], Zelvik_GetFilterValue(h, i, &ok));
    return 0;
}

// Writes a 24-bit picture (blue, green, red rows, top row first) as a binary PPM.
bool WritePpm(const std::string& path, const std::vector<unsigned char>& bgr, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> row(width * 3);
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = bgr.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 3] = static_cast<char>(src[x * 3 + 2]);
            row[x * 3 + 1] = static_cast<char>(src[x * 3 + 1]);
            row[x * 3 + 2] = static_cast<char>(src[x * 3]);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return static_cast<bool>(out);
}

int Stream(Session& s, int frames, int subsample) {
    const int h = s.handle();
    Zelvik_SetSubSample(h, subsample);
    Zelvik_SetColorMode(h, 24);
    const int width = Zelvik_Width(h) >> subsample, height = Zelvik_Height(h) >> subsample;
    std::vector<unsigned char> buffer(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    const ZELVIK_HWND callbacks = ZelvikMsg_CreateQueue();
    if (!Zelvik_CallBackPreview(h, callbacks, buffer.data(), static_cast<int>(buffer.size()), 1) ||
        !Zelvik_StartPreview(h)) {
        ZelvikMsg_DestroyQueue(callbacks);
        return s.ReportErrors("stream"), 1;
    }
    const auto start = std::chrono::steady_clock::now();
    int delivered = 0, failed = 0, rate = 0;
    ZelvikMessage m;
    while (delivered + failed < frames && ZelvikMsg_Get(callbacks, &m, 5000) == 1) {
        if (m.message != MSG_CAMERA_FRAME) continue;
        if (m.lParam != 0) {
            ++failed;
            std::fprintf(stderr, "frame failed: error %s\n", ErrorText(static_cast<int>(m.lParam)).c_str());
            if (m.lParam == ZELVIK_ERR_CAMERA_LOST) break;
            continue;
        }
        rate = reinterpret_cast<const ZelvikFrameInfo*>(m.wParam)->frameRate;
        ++delivered;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Zelvik_StopPreview(h);
    ZelvikMsg_DestroyQueue(callbacks);
    std::printf("%d frame(s) of %d x %d delivered in %.2f s (%.1f frames/s; camera reports %.1f)\n", delivered,
                width, height, seconds, delivered / seconds, rate / 10.0);
    return delivered == frames ? 0 : 1;
}

int Snap(Session& s, const std::string& path, int subsample) {
    const int h = s.handle();
    Zelvik_SetSubSample(h, subsample);
    Zelvik_SetColorMode(h, 24);
    const int width = Zelvik_Width(h) >> subsample, height = Zelvik_Height(h) >> subsample;
    std::vector<unsigned char> buffer(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    if (!Zelvik_SnapShot(h, buffer.data(), static_cast<int>(buffer.size()), 1)) return s.ReportErrors("snap"), 1;
    if (!WritePpm(path, buffer, width, height)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("%d x %d picture written to %s\n", width, height, path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Zelvik Q77RX camera tool. Cameras are looked for under $ZELVIK_ROOT (default /)."};
    app.require_subcommand(1);
    bool emulated = false;
    app.add_flag("--emulated", emulated, "use the built-in emulated camera instead of attached cameras");

    auto* list = app.add_subcommand("list", "list the attached cameras");
    auto* info = app.add_subcommand("info", "show the first camera's identity and settings");

    std::string name;
    int value = 0;
    auto* get = app.add_subcommand("get", "read one setting");
    get->add_option("name", name, "setting name (see info)")->required();
    auto* set = app.add_subcommand("set", "change one setting (kept in the user's settings like every change)");
    set->add_option("name", name, "setting name (see info)")->required();
    set->add_option("value", value, "new value")->required();

    int address = 0;
    auto* reg = app.add_subcommand("reg", "read or write a 16-bit sensor register");
    reg->add_option("address", address, "register address")->required();
    std::optional<int> regValue;
    reg->add_option("value", regValue, "value to write; read when absent");

    int frames = 30, subsample = 0;
    auto* stream = app.add_subcommand("stream", "stream frames and report the rate");
    stream->add_option("--frames", frames, "frames to take")->check(CLI::PositiveNumber);
    stream->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));

    std::string path = "zelvik.ppm";
    auto* snap = app.add_subcommand("snap", "take one 24-bit picture and write it as PPM");
    snap->add_option("file", path, "output file");
    snap->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));

    auto* demo = app.add_subcommand("demo", "list, show, stream and snap on the built-in emulated camera");
    demo->add_option("--frames", frames, "frames to stream")->check(CLI::PositiveNumber);
    demo->add_option("--save", path, "where the snapshot goes");

    CLI11_PARSE(app, argc, argv);

    Session session(emulated || demo->parsed());
    const int h = session.handle();
    if (h == 0) {
        std::fprintf(stderr, "out of memory\n");
        return 1;
    }
    int rc = 0;
    if (list->parsed()) {
        rc = ListCameras(session);
    } else if (info->parsed()) {
        rc = ShowInfo(session);
    } else if (get->parsed() || set->parsed()) {
        const int index = FilterIndex(name);
        if (index == 0) {
            std::fprintf(stderr, "unknown setting '%s' (see 'zelvik info')\n", name.c_str());
            return 2;
        }
        session.ReportErrors("start");
        int ok = 0;
        if (set->parsed() && !Zelvik_SetFilterValue(h, index, value)) rc = 1;
        const int current = Zelvik_GetFilterValue(h, index, &ok);
        if (ok) std::printf("%s = %d\n", name.c_str(), current);
        rc = rc || !ok;
    } else if (reg->parsed()) {
        session.ReportErrors("start");
        int ok = 0;
        if (regValue) {
            ok = Zelvik_WriteRegisterEx(h, address, *regValue);
        } else {
            const int v = Zelvik_ReadRegisterEx(h, address, &ok);
            if (ok) std::printf("register 0x%04X = 0x%04X (%d)\n", address, v, v);
        }
        rc = !ok;
    } else if (stream->parsed()) {
        rc = Stream(session, frames, subsample);
    } else if (snap->parsed()) {
        rc = Snap(session, path, subsample);
    } else if (demo->parsed()) {
        std::printf("== the built-in emulated camera ==\n");
        // A first run finds no stored settings: the library stores the defaults and reports code 12.
        for (int code; (code = Zelvik_GetLastError(h)) != 0;) {
            if (code == ZELVIK_ERR_RECORDING)
                std::printf("no stored settings yet: the defaults were stored\n");
            else
                std::fprintf(stderr, "start: error %s\n", ErrorText(code).c_str());
        }
        rc = ListCameras(session) | ShowInfo(session) | Stream(session, frames, 1) | Snap(session, path, 1);
    }
    if (session.ReportErrors("zelvik")) rc = rc ? rc : 1;
    return rc;
}
