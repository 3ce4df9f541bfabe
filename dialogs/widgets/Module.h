// The dialog module's own entry points: building a dialog, running it modally, and finding a Qt GUI
// thread to run it on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QDialog>

#include "dialogs/DialogHost.h"
#include "dialogs/widgets/Texts.h"

namespace zelvik::dialogs {

// The dialog of `kind`, filled from host and ready to show.
std::unique_ptr<QDialog> CreateDialog(DialogKind kind, DialogHost& host, Language language);

// Runs the dialog modally on the calling thread, which must be the thread of the running QApplication:
// transient for the X11 window `parent` and centred over it, or centred on the screen when parent is 0 or
// not a window. The host sees the open dialog between DialogOpened and DialogClosed.
int RunModal(DialogKind kind, DialogHost& host, uintptr_t parent);

// Runs fn on the thread of the process's QApplication: the application's own when it has one (fn runs
// at once when called on that thread, else the caller waits while that thread's event loop runs it), or
// else a private one started on first use on a thread of its own. kDialogNoDisplay, without running fn,
// when there is no display to start one on or the application runs Qt without widgets.
int RunOnGuiThread(const std::function<int()>& fn);

}  // namespace zelvik::dialogs
