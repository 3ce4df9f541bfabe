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
    if (options.json && printJson) {
        PrintJson({{"error", ErrorJson(ZELVIK_ERR_NO_CAMERA)}, {"camera", options.camera}});
    }
    std::fprintf(stderr, "zelvik: camera %d: %s (run `zelvik doctor` to see why)\n", options.camera, message);
    return kExitNoCamera;
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
    // Selecting the camera opens its disk: it fails with error 2 when no camera with that number answers.
    if (options.camera < 1 || !Zelvik_SetDeviceNumber(h, options.camera - 1)) {
        while (Zelvik_GetLastError(h) != 0) {
        }
        return NoCamera();
    }
    if (options.camera > 1) ApplySensorSettings(h);
    return kExitOk;
}

// A handle starts on the first camera and writes the stored capture window, gains, exposure and vertical
// mirror to its sensor; selecting another camera opens that camera's disk only. The same values are
// written to the chosen camera's sensor here, so that it works as the settings say.
void Tool::ApplySensorSettings(int h) {
    int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0, ok = 0;
    if (Zelvik_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev)) Zelvik_SetCaptureWindowEx(h, th, ehs, eh, tv, evs, ev);
    // The global gain sets the four colour gains as well, so they follow it.
    static constexpr struct {
        int (*get)(int, int*);
        int (*set)(int, int);
    } kAnalog[] = {
        {Zelvik_GetGlobalGain, Zelvik_SetGlobalGain},           {Zelvik_GetColorGainRed, Zelvik_SetColorGainRed},
        {Zelvik_GetColorGainGreen1, Zelvik_SetColorGainGreen1}, {Zelvik_GetColorGainGreen2, Zelvik_SetColorGainGreen2},
        {Zelvik_GetColorGainBlue, Zelvik_SetColorGainBlue},     {Zelvik_GetExposureTime, Zelvik_SetExposureTime},
    };
    int values[std::size(kAnalog)];
    for (size_t i = 0; i < std::size(kAnalog); ++i) values[i] = kAnalog[i].get(h, &ok);
    for (size_t i = 0; i < std::size(kAnalog); ++i) kAnalog[i].set(h, values[i]);
    Zelvik_SetMirrorV(h, Zelvik_GetMirrorV(h));
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
