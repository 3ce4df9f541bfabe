// The settings dialogs open on an instance, as the capture thread reaches them to show its own changes.
#pragma once

#include <array>
#include <mutex>

namespace zelvik {

// The analog page's edits that the automatic exposure/gain control writes into.
inline constexpr int kGlobalGainEdit = 1015;
inline constexpr int kExposureEdit = 1027;

// An open dialog as another thread sees it. Every call only hands the work to the dialog's thread and
// returns; none waits for the dialog.
class DialogLink {
public:
    // The image settings changed under the dialog (white balance, one-shot gray gain): the image and
    // gray pages show the current values again.
    virtual void ShowCurrentSettings() = 0;
    // The automatic exposure/gain control wrote a new value: it goes into the analog page's edit (1015
    // global gain, 1027 exposure) as if typed there.
    virtual void TypeValue(int editId, int value) = 0;
    // Closes the dialog as OK (1) or Cancel (2) would.
    virtual void Close(int result) = 0;

protected:
    ~DialogLink() = default;
};

// The instance's open dialogs, one per kind. The dialog's thread opens and closes its entry; the capture
// thread visits it. Closing waits for a visit in progress, so once Close returns no thread reaches the
// dialog any more.
class OpenDialogs {
public:
    enum Kind : int { kCamera = 0, kAnalog = 1, kImage = 2 };

    void Open(Kind kind, DialogLink* link) {
        std::lock_guard lock(mutex_);
        links_[kind] = link;
    }
    void Close(Kind kind) {
        std::lock_guard lock(mutex_);
        links_[kind] = nullptr;
    }
    // Runs f(link) when a dialog of `kind` is open; false when none is.
    template <typename F>
    bool Visit(Kind kind, F&& f) {
        std::lock_guard lock(mutex_);
        if (links_[kind] == nullptr) return false;
        f(*links_[kind]);
        return true;
    }

    // The frame path's reports (nothing when no dialog of that kind is open).
    void ImageSettingsChanged() {
        Visit(kImage, [](DialogLink& d) { d.ShowCurrentSettings(); });
    }
    void AutoIrisWrote(int editId, int value) {
        Visit(kAnalog, [&](DialogLink& d) { d.TypeValue(editId, value); });
    }

private:
    std::mutex mutex_;
    std::array<DialogLink*, 3> links_{};
};

}  // namespace zelvik
