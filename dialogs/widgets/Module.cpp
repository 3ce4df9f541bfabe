// The dialog module: its exported entry, the QApplication it runs in, and the open dialog's view.
#include "dialogs/widgets/Module.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include <xcb/xcb.h>

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include "dialogs/widgets/CameraDialog.h"
#include "dialogs/widgets/PropertySheets.h"

namespace zelvik::dialogs {
namespace {

// The open dialog as the library's threads see it: every call posts to the dialog's thread and returns.
// Refreshes coalesce: while one is waiting to be shown, later ones only update what it will show, so a
// capture thread that reports every frame never fills the dialog's event queue.
class OpenDialog final : public QObject, public DialogView {
public:
    explicit OpenDialog(QDialog* dialog) : dialog_(dialog) {}

    void ShowCurrentSettings() override {
        if (refreshPending_.exchange(true)) return;
        Post([this] {
            refreshPending_ = false;
            if (auto* sheet = qobject_cast<ImageSheet*>(dialog_)) sheet->ShowCurrentSettings();
        });
    }
    void TypeValue(int editId, int value) override {
        const std::size_t which = editId == kGlobalGainEdit ? 0 : editId == kExposureEdit ? 1 : 2;
        if (which == 2) return;  // only the global gain and exposure edits take values from outside
        typed_[which] = value;
        if (typePending_[which].exchange(true)) return;
        Post([this, editId, which] {
            typePending_[which] = false;
            if (auto* sheet = qobject_cast<AnalogSheet*>(dialog_)) sheet->Page()->TypeValue(editId, typed_[which]);
        });
    }
    void Close(int result) override {
        Post([this, result] {
            if (result == kDialogOk) dialog_->accept();
            else dialog_->reject();
        });
    }

private:
    template <typename F>
    void Post(F&& f) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }
    QDialog* dialog_;
    std::atomic<bool> refreshPending_{false};
    std::array<std::atomic<bool>, 2> typePending_{};
    std::array<std::atomic<int>, 2> typed_{};
};

// Whether an X11 window exists, and its geometry on the screen; asked over a connection of our own so
// that a stale id gives an answer instead of an error on Qt's connection.
bool ForeignWindowRect(uintptr_t id, QRect& rect) {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    bool found = false;
    if (!xcb_connection_has_error(c)) {
        const auto window = static_cast<xcb_window_t>(id);
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        if (g != nullptr) {
            xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
                c, xcb_translate_coordinates(c, window, g->root, 0, 0), nullptr);
            if (t != nullptr) {
                rect = QRect(t->dst_x, t->dst_y, g->width, g->height);
                found = true;
                std::free(t);
            }
            std::free(g);
        }
    }
    xcb_disconnect(c);
    return found;
}

// Transient for the parent window and centred over it; centred on the screen without one.
void PlaceOver(QDialog& dialog, uintptr_t parent, std::unique_ptr<QWindow>& foreign) {
    dialog.adjustSize();
    QRect area;
    if (parent != 0 && QGuiApplication::platformName() == QLatin1String("xcb") && ForeignWindowRect(parent, area)) {
        foreign.reset(QWindow::fromWinId(static_cast<WId>(parent)));
        if (foreign) {
            dialog.winId();  // creates the native window, so it can name its parent
            dialog.windowHandle()->setTransientParent(foreign.get());
        }
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) dialog.move(area.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
}

// ---- The private QApplication, for applications without one ----

std::mutex gStartMutex;
std::thread gGuiThread;
std::atomic<QApplication*> gPrivateApp{nullptr};

// The platform plugin the private application uses: the offscreen and minimal ones when asked for
// (tests, headless rendering), else X11, which needs a reachable display. Empty when neither can start:
// Qt ends the process when its platform fails, so that must be known before. The connection that found
// the display stays open in `probe` until Qt has connected: an X server that resets when its last client
// leaves would otherwise refuse Qt during the reset.
QByteArray ChoosePlatform(xcb_connection_t*& probe) {
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.startsWith("offscreen") && !platform.startsWith("minimal")) {
        platform = "xcb";
        int screen = 0;
        probe = xcb_connect(nullptr, &screen);
        if (xcb_connection_has_error(probe)) return {};
    }
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    const QString name = QString::fromLatin1(platform.split(':').first());
    if (!QFileInfo::exists(plugins + QStringLiteral("/platforms/libq") + name + QStringLiteral(".so"))) return {};
    return platform;
}

// Ends the private application before the process's static objects go: queued quit, then join. The quit
// also ends a dialog still open (its modal loop returns, the dialog counts as cancelled).
void StopPrivateApp() {
    QApplication* app = gPrivateApp.load();
    if (app == nullptr || !gGuiThread.joinable() || gGuiThread.get_id() == std::this_thread::get_id()) return;
    QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    gGuiThread.join();
}

bool StartPrivateApp() {
    xcb_connection_t* probe = nullptr;
    const QByteArray platform = ChoosePlatform(probe);
    struct Disconnect {
        xcb_connection_t*& c;
        ~Disconnect() {
            if (c != nullptr) xcb_disconnect(c);
        }
    } closeProbe{probe};
    if (platform.isEmpty()) return false;
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    gGuiThread = std::thread([platform, &ready] {
        static char name[] = "zelvik-dialogs";
        static char option[] = "-platform";
        static QByteArray chosen;
        chosen = platform;
        static char* argv[] = {name, option, chosen.data(), nullptr};
        static int argc = 3;
        QApplication app(argc, argv);
        app.setQuitOnLastWindowClosed(false);
        // Qt's own objects of this thread (its platform plugin) are destroyed at process exit, after the
        // thread has ended; an object kept for the life of the process keeps the thread's Qt data alive
        // for them.
        new QObject;
        gPrivateApp = &app;
        ready.set_value();
        app.exec();
        gPrivateApp = nullptr;
    });
    started.wait();
    // From its start, not only after a first dialog has run: a process that ends while the first dialog
    // is still open must end it and join the thread, or the thread object's destructor ends the process
    // with std::terminate.
    std::atexit(StopPrivateApp);
    return true;
}

}  // namespace

std::unique_ptr<QDialog> CreateDialog(DialogKind kind, DialogHost& host, Language language) {
    switch (kind) {
    case DialogKind::kCamera: return std::make_unique<CameraDialog>(host, language);
    case DialogKind::kAnalog: return std::make_unique<AnalogSheet>(host, language);
    case DialogKind::kImage: return std::make_unique<ImageSheet>(host, language);
    }
    return nullptr;
}

int RunModal(DialogKind kind, DialogHost& host, uintptr_t parent) {
    std::unique_ptr<QDialog> dialog = CreateDialog(kind, host, Language(LocaleIsJapanese()));
    if (!dialog) return kDialogFailed;
    dialog->setAttribute(Qt::WA_QuitOnClose, false);  // never ends the application's own event loop
    dialog->setWindowModality(Qt::ApplicationModal);
    std::unique_ptr<QWindow> foreign;
    PlaceOver(*dialog, parent, foreign);
    OpenDialog view(dialog.get());
    // Shown (and painted) before the host learns of it, and the private application's end registered
    // after that: Qt makes static objects of its own for the first window it shows, which the process's
    // exit destroys before the handlers registered earlier run. A process that ends while this dialog is
    // open then closes it first, with every such object still alive.
    dialog->show();
    QCoreApplication::processEvents();
    if (QCoreApplication::instance() == gPrivateApp.load()) std::atexit(StopPrivateApp);
    host.DialogOpened(&view);
    // The pages read the settings when they were built; what the frame path changed since then (the
    // automatic exposure/gain control, white balance) reached no dialog. From here on its reports come
    // through the view, so one look now leaves nothing out.
    if (auto* analog = qobject_cast<AnalogSheet*>(dialog.get())) analog->Page()->ShowControlValues();
    if (auto* image = qobject_cast<ImageSheet*>(dialog.get())) image->ShowCurrentSettings();
    const int result = dialog->exec();
    host.DialogClosed();
    return result == kDialogOk ? kDialogOk : kDialogCancel;
}

int RunOnGuiThread(const std::function<int()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        std::lock_guard lock(gStartMutex);
        if (QCoreApplication::instance() == nullptr && !StartPrivateApp()) return kDialogNoDisplay;
        app = QCoreApplication::instance();
    }
    if (qobject_cast<QApplication*>(app) == nullptr) return kDialogNoDisplay;  // Qt without widgets
    int result = kDialogFailed;
    auto guarded = [&] {
        try {
            result = fn();
        } catch (...) {
            result = kDialogFailed;
        }
    };
    if (QThread::currentThread() == app->thread()) guarded();
    else QMetaObject::invokeMethod(app, guarded, Qt::BlockingQueuedConnection);
    // Registered after each run, so that it runs before the destructors of whatever Qt set up meanwhile.
    if (app == gPrivateApp.load()) std::atexit(StopPrivateApp);
    return result;
}

}  // namespace zelvik::dialogs

extern "C" __attribute__((visibility("default"))) int ZelvikDialogs_Run(int version, zelvik::DialogKind kind,
                                                                       zelvik::DialogHost* host, uintptr_t parent) {
    if (version != zelvik::kDialogModuleVersion || host == nullptr) return zelvik::kDialogFailed;
    try {
        return zelvik::dialogs::RunOnGuiThread(
            [&] { return zelvik::dialogs::RunModal(kind, *host, parent); });
    } catch (...) {
        return zelvik::kDialogFailed;
    }
}
