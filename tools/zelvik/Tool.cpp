#include "Tool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <utility>
#include <vector>

#include "EmulatedCamera.h"

namespace zelvik_tool {

const char kExitCodeHelp[] =
    "Exit codes:\n"
    "  0  success\n"
    "  1  a library call failed (the error is printed)\n"
    "  2  wrong command line (unknown command, option or setting name; a value out of range)\n"
    "  3  no camera found (\"camera not present\"; `zelvik doctor` says why)\n"
    "  4  doctor found a problem\n"
    "  130  Ctrl-C ended record or dialog early: the file is finished, the dialog cancelled (143: SIGTERM)";

std::string LibraryVersionText(int version) {
    const auto v = static_cast<unsigned>(version);
    return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." +
           std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

std::string ErrorText(int code) {
    const char* name = ZelvikLib_ErrorName(code);
    return std::to_string(code) + (name ? std::string(" ") + name + " (" + ZelvikLib_ErrorText(code) + ")" : "");
}

nlohmann::json ErrorJson(int code) {
    const char* name = ZelvikLib_ErrorName(code);
    return {{"code", code}, {"name", name ? name : ""}, {"message", name ? ZelvikLib_ErrorText(code) : "unknown error"}};
}

Camera::Camera(bool emulated) : queue_(ZelvikMsg_CreateQueue()) {
    handle_ = emulated ? ZelvikEmulated_Initialize(queue_, 1) : Zelvik_Initialize(queue_);
}

Camera::~Camera() {
    Zelvik_Release(handle_);
    ZelvikMsg_DestroyQueue(queue_);
}

int Camera::ReportErrors(const char* what) {
    int n = 0;
    for (int code; (code = Zelvik_GetLastError(handle_)) != 0; ++n)
        std::fprintf(stderr, "%s: error %s\n", what, ErrorText(code).c_str());
    return n;
}

namespace {

std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
extern "C" void NoteSignal(int signal) { caughtSignal = signal; }

}  // namespace

InterruptGuard::InterruptGuard() {
    caughtSignal = 0;
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    // The library's threads read the camera meanwhile: their reads go on rather than fail with EINTR.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
}

int InterruptGuard::Signal() { return caughtSignal; }

void Tool::SetRunner(CLI::App* command, Needs needs, Runner runner) {
    runners_.emplace_back(command, needs, std::move(runner));
}

Camera& Tool::camera() {
    if (!camera_) camera_ = std::make_unique<Camera>(options.emulated);
    return *camera_;
}

int Tool::NoCamera(bool printJson) {
    const char* message = ZelvikLib_ErrorText(ZELVIK_ERR_NO_CAMERA);
    const std::string which = options.serial.empty() ? std::to_string(options.camera) : options.serial;
    if (options.json && printJson) {
        nlohmann::json out = {{"error", ErrorJson(ZELVIK_ERR_NO_CAMERA)}, {"camera", options.camera}};
        if (!options.serial.empty()) out["serial"] = options.serial;
        PrintJson(out);
    }
    std::fprintf(stderr, "zelvik: camera %s: %s (run `zelvik doctor` to see why)\n", which.c_str(), message);
    return kExitNoCamera;
}

std::vector<ZelvikCameraEntry> Tool::Cameras() {
    const int h = options.emulated ? camera().handle() : 0;
    std::vector<ZelvikCameraEntry> entries;
    for (int room = 4;;) {
        entries.assign(static_cast<size_t>(room), ZelvikCameraEntry{});
        for (ZelvikCameraEntry& e : entries) e.size = sizeof e;
        const int n = ZelvikCam_List(h, entries.data(), room);
        if (n <= room) {
            entries.resize(static_cast<size_t>(std::max(n, 0)));
            return entries;
        }
        room = n;
    }
}

void Tool::PrintJson(const nlohmann::json& value) { std::cout << value.dump(2) << std::endl; }

void Tool::RefuseJson(CLI::App* command) { noJson_.push_back(command); }

int Tool::Open(Needs needs) {
    if (needs == Needs::Nothing) return kExitOk;
    const int h = camera().handle();
    if (h == 0) {
        std::fprintf(stderr, "zelvik: out of memory\n");
        return kExitFailed;
    }
    // A first run finds no stored settings: the library stores the defaults and reports code 12.
    for (int code; (code = Zelvik_GetLastError(h)) != 0;) {
        if (code == ZELVIK_ERR_RECORDING)
            std::fprintf(stderr, "zelvik: no stored settings yet: the defaults were stored\n");
        else
            std::fprintf(stderr, "zelvik: start: error %s\n", ErrorText(code).c_str());
    }
    // The same reports were posted to the queue as well: a command that shows the queue's errors shows
    // only its own.
    for (ZelvikMessage m; ZelvikMsg_Get(camera().queue(), &m, 0) == 1;) {
    }
    if (needs == Needs::Handle) return kExitOk;
    // Selecting the camera opens its disk: it fails with error 2 when no camera with that number (or
    // serial) answers, or when another program has it open. The library gives a selected camera its own
    // stored settings.
    const bool selected = options.serial.empty() ? options.camera >= 1 && Zelvik_SetDeviceNumber(h, options.camera - 1)
                                                 : ZelvikCam_SelectSerial(h, options.serial.c_str()) != 0;
    if (!selected) {
        while (Zelvik_GetLastError(h) != 0) {
        }
        return NoCamera();
    }
    ZelvikCameraEntry open{};
    open.size = sizeof open;
    if (ZelvikCam_GetOpen(h, &open) && open.number >= 0) options.camera = open.number + 1;
    return kExitOk;
}

int Tool::Run() {
    for (auto& [command, needs, runner] : runners_) {
        if (!command->parsed()) continue;
        if (options.json && std::find(noJson_.begin(), noJson_.end(), command) != noJson_.end()) {
            std::fprintf(stderr, "zelvik: --json: `%s` shows no result to print as JSON\n", command->get_name().c_str());
            return kExitUsage;
        }
        if (const int rc = Open(needs); rc != kExitOk) return rc;
        int rc = runner(*this);
        if (camera_ && camera_->ReportErrors("zelvik") && rc == kExitOk) rc = kExitFailed;
        return rc;
    }
    return kExitUsage;
}

namespace {

std::vector<std::pair<int, AddCommand>>& Registry() {
    static std::vector<std::pair<int, AddCommand>> registry;
    return registry;
}

}  // namespace

CommandRegistration::CommandRegistration(int order, AddCommand add) { Registry().emplace_back(order, add); }

void AddCommands(CLI::App& app, Tool& tool) {
    auto commands = Registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, add] : commands) add(app, tool);
}

}  // namespace zelvik_tool
