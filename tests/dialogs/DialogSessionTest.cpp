// What the dialog exports do around a dialog: refusals, stop and restart, reload, and no display.
#include <gtest/gtest.h>

#include "dialogs/DialogSession.h"
#include "instance/Errors.h"
#include "tests/dialogs/FakeDialogCamera.h"

namespace zelvik::test {
namespace {

using Export = int (*)(DialogCamera&, uintptr_t, const DialogRunner&);
constexpr Export kExports[] = {RunCameraDialog, RunAnalogDialog, RunImageDialog};

DialogRunner Returning(int result, int* calls = nullptr) {
    return [result, calls](DialogKind, DialogHost&, uintptr_t) {
        if (calls) ++*calls;
        return result;
    };
}

TEST(DialogExports, WithoutADeviceReportError1AndShowNothing) {
    for (Export run : kExports) {
        FakeDialogCamera camera;
        camera.hasDevice = false;
        int calls = 0;
        EXPECT_EQ(run(camera, 0, Returning(kDialogOk, &calls)), 0);
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(camera.errors, std::vector<int>{kErrNotAllowed});
        EXPECT_TRUE(camera.events.empty());
    }
}

TEST(DialogExports, WithoutADisplayReportError4AndChangeNothing) {
    for (int failure : {kDialogNoDisplay, kDialogFailed}) {
        for (Export run : kExports) {
            FakeDialogCamera camera;
            EXPECT_EQ(run(camera, 0, Returning(failure)), 0);
            EXPECT_EQ(camera.errors, std::vector<int>{kErrWindow});
            EXPECT_TRUE(camera.writes.empty()) << "nothing to undo";
        }
    }
}

TEST(DialogExports, OneDialogOfAKindAtATime) {
    for (Export run : kExports) {
        FakeDialogCamera first, second;
        int inner = -1;
        const int outer = run(first, 0, [&](DialogKind, DialogHost&, uintptr_t) {
            inner = run(second, 0, Returning(kDialogOk));
            return kDialogOk;
        });
        EXPECT_EQ(outer, 1);
        EXPECT_EQ(inner, 0);
        EXPECT_EQ(second.errors, std::vector<int>{kErrNotAllowed});
        EXPECT_EQ(run(second, 0, Returning(kDialogOk)), 1) << "free again once the first has closed";
    }
    // Different kinds may be open together.
    FakeDialogCamera camera;
    int inner = -1;
    RunImageDialog(camera, 0, [&](DialogKind, DialogHost&, uintptr_t) {
        inner = RunAnalogDialog(camera, 0, Returning(kDialogOk));
        return kDialogOk;
    });
    EXPECT_EQ(inner, 1);
}

TEST(CameraDialogExport, StopsTheCaptureAndStartsItAgainReloadingOnlyAfterOk) {
    struct Case {
        int mode, result;
        std::vector<std::string> events;
    } cases[] = {
        {1, kDialogOk, {"stop", "reload", "restart 1"}},
        {2, kDialogOk, {"stop", "reload", "restart 2"}},
        {1, kDialogCancel, {"stop", "restart 1"}},
        {0, kDialogCancel, {"stop", "restart 0"}},
        {1, kDialogNoDisplay, {"stop", "restart 1"}},
    };
    for (const Case& c : cases) {
        FakeDialogCamera camera;
        camera.captureMode = c.mode;
        int modeDuringDialog = -1;
        RunCameraDialog(camera, 0, [&](DialogKind kind, DialogHost&, uintptr_t) {
            EXPECT_EQ(kind, DialogKind::kCamera);
            modeDuringDialog = camera.captureMode;
            return c.result;
        });
        EXPECT_EQ(camera.events, c.events) << c.mode << " " << c.result;
        EXPECT_EQ(modeDuringDialog, 0);
        EXPECT_EQ(camera.captureMode, c.mode);
    }
}

}  // namespace
}  // namespace zelvik::test
