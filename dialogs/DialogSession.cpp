// The dialog exports' common part, and the loading of the dialog module.
#include "dialogs/DialogSession.h"

#include <array>
#include <atomic>
#include <mutex>

#include <dlfcn.h>

#include "instance/CameraInstance.h"
#include "instance/Errors.h"

namespace zelvik {
namespace {

constexpr char kModuleFile[] = "libzelvik-dialogs.so";

std::once_flag gLoadOnce;
DialogModuleEntry gEntry = nullptr;
std::string gLoadError;

std::string DirectoryOf(const char* file) {
    std::string path = file;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void LoadModule() {
    // Beside the object this code was linked into (the library), then the installed library directory,
    // then, for programs run from the build tree, where the build puts the module.
    std::string candidates[3];
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&RunDialogModule), &self) != 0 && self.dli_fname != nullptr)
        candidates[0] = DirectoryOf(self.dli_fname) + "/" + kModuleFile;
    candidates[1] = std::string(ZELVIK_DIALOGS_INSTALL_DIR) + "/" + kModuleFile;
    candidates[2] = std::string(ZELVIK_DIALOGS_BUILD_DIR) + "/" + kModuleFile;
    for (const std::string& path : candidates) {
        if (path.empty()) continue;
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (module == nullptr) {
            if (const char* why = dlerror()) gLoadError = why;
            continue;
        }
        gEntry = reinterpret_cast<DialogModuleEntry>(dlsym(module, kDialogModuleEntry));
        if (gEntry != nullptr) {
            gLoadError.clear();
            return;
        }
        gLoadError = path + ": no " + kDialogModuleEntry;
    }
}

// At most one dialog of each kind is open in the process at a time.
std::array<std::atomic<bool>, 3> gOpen{};

class OpenGuard {
public:
    explicit OpenGuard(DialogKind kind) : flag_(gOpen[static_cast<std::size_t>(kind)]) {
        owned_ = !flag_.exchange(true);
    }
    ~OpenGuard() {
        if (owned_) flag_ = false;
    }
    OpenGuard(const OpenGuard&) = delete;
    OpenGuard& operator=(const OpenGuard&) = delete;
    bool Owned() const { return owned_; }

private:
    std::atomic<bool>& flag_;
    bool owned_ = false;
};

// The checks every dialog export makes before its dialog; false after reporting why it cannot run.
bool MayRun(DialogCamera& camera, const OpenGuard& guard) {
    if (!camera.HasDevice() || !guard.Owned()) {
        camera.ReportError(kErrNotAllowed);
        return false;
    }
    return true;
}

// The export's result once the runner returned: 1 when the dialog ran, else error 4 and 0.
int Outcome(DialogCamera& camera, int result) {
    if (result == kDialogOk || result == kDialogCancel) return 1;
    camera.ReportError(kErrWindow);
    return 0;
}

// The links of the dialogs open in the process, one per kind, for CancelOpenDialogs.
std::mutex gViewsMutex;
std::array<DialogLink*, 3> gViews{};

}  // namespace

void DialogViewOpened(DialogKind kind, DialogLink* view) {
    std::lock_guard lock(gViewsMutex);
    gViews[static_cast<std::size_t>(kind)] = view;
}

void DialogViewClosed(DialogKind kind) {
    std::lock_guard lock(gViewsMutex);
    gViews[static_cast<std::size_t>(kind)] = nullptr;
}

int CancelOpenDialogs() {
    std::lock_guard lock(gViewsMutex);
    int reached = 0;
    for (DialogLink* view : gViews) {
        if (view == nullptr) continue;
        view->Close(kDialogCancel);
        ++reached;
    }
    return reached;
}

int RunDialogModule(DialogKind kind, DialogHost& host, uintptr_t parent) {
    std::call_once(gLoadOnce, LoadModule);
    if (gEntry == nullptr) return kDialogNoDisplay;
    return gEntry(kDialogModuleVersion, kind, &host, parent);
}

std::string DialogModuleError() {
    return gLoadError;
}

int RunCameraDialog(DialogCamera& camera, uintptr_t parent, const DialogRunner& run) {
    OpenGuard guard(DialogKind::kCamera);
    if (!MayRun(camera, guard)) return 0;
    const int mode = camera.StopCapture();
    const int result = run(DialogKind::kCamera, camera, parent);
    if (result == kDialogOk) camera.ReloadVideoFormat();
    camera.RestartCapture(mode);
    return Outcome(camera, result);
}

int RunAnalogDialog(DialogCamera& camera, uintptr_t parent, const DialogRunner& run) {
    OpenGuard guard(DialogKind::kAnalog);
    if (!MayRun(camera, guard)) return 0;
    std::array<int, kAnalogSlotCount> analog{};
    for (int slot = 0; slot < kAnalogSlotCount; ++slot) analog[slot] = camera.AnalogSetting(slot);
    const int bayerMode = camera.ImageSetting(kBayerMode);

    const int result = run(DialogKind::kAnalog, camera, parent);
    if (result == kDialogCancel) {
        for (int slot = 0; slot < kAnalogSlotCount; ++slot) camera.SetAnalogSetting(slot, analog[slot]);
        camera.SetImageSetting(kBayerMode, bayerMode);
        camera.ApplyAnalogSettings();
    }
    return Outcome(camera, result);
}

int RunImageDialog(DialogCamera& camera, uintptr_t parent, const DialogRunner& run) {
    OpenGuard guard(DialogKind::kImage);
    if (!MayRun(camera, guard)) return 0;
    std::array<int, kImageSlotCount> image{};
    for (int slot = 0; slot < kImageSlotCount; ++slot) image[slot] = camera.ImageSetting(slot);

    const int result = run(DialogKind::kImage, camera, parent);
    if (result == kDialogCancel)
        for (int slot = 0; slot < kImageSlotCount; ++slot) camera.SetImageSetting(slot, image[slot]);
    return Outcome(camera, result);
}

}  // namespace zelvik
