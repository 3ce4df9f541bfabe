// The dialog module as the library loads it: Qt only on first use, no display reported instead of ending
// the process, and a private QApplication for programs without one.
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "dialogs/DialogSession.h"
#include "instance/Errors.h"
#include "tests/dialogs/FakeDialogCamera.h"

namespace zelvik::test {
namespace {

bool QtLoaded() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libQt6Core") != std::string::npos) return true;
    return false;
}

TEST(DialogModule, NoDisplayReportsError4AndTheProcessGoesOn) {
    EXPECT_FALSE(QtLoaded()) << "the library side links no Qt";
    ::unsetenv("QT_QPA_PLATFORM");
    const char* displays[] = {nullptr, "", ":4711", "unreachable.invalid:0"};
    for (const char* display : displays) {
        if (display) ::setenv("DISPLAY", display, 1);
        else ::unsetenv("DISPLAY");
        FakeDialogCamera camera;
        EXPECT_EQ(RunAnalogDialog(camera, 0), 0) << (display ? display : "unset");
        EXPECT_EQ(camera.errors, std::vector<int>{kErrWindow}) << DialogModuleError();
        EXPECT_EQ(camera.opened, 0);
    }
    EXPECT_EQ(DialogModuleError(), "") << "the module itself loaded";
}

TEST(DialogModule, PrivateApplicationServesEveryThread) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (int round = 0; round < 2; ++round) {
        FakeDialogCamera camera;
        int result = -1;
        std::thread application([&] { result = RunAnalogDialog(camera, 0); });
        while (camera.opened == 0) std::this_thread::yield();
        {
            std::lock_guard lock(camera.viewMutex);
            camera.view->TypeValue(1015, 40 + round);
            camera.view->Close(kDialogOk);
        }
        application.join();
        EXPECT_EQ(result, 1) << round;
        EXPECT_TRUE(camera.errors.empty()) << round;
        EXPECT_EQ(camera.sensor.global, 40 + round);
        EXPECT_EQ(camera.analog[kGainR], 40 + round) << "OK keeps the values";
    }
    EXPECT_TRUE(QtLoaded());
}

// A process that ends (exit from main) while a dialog is open on another thread ends cleanly: the
// dialog is closed as cancelled and the private application's thread joined, rather than a joinable
// thread object reaching its destructor (std::terminate, SIGABRT). Run in a fresh process, since the
// private application of the process lives until its end.
TEST(DialogModule, ExitWithADialogOpenOnAnotherThreadIsClean) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            // The application's own thread and camera stay (detached, never freed: reachable from a
            // static, so leak checkers do not count it) as the process ends.
            static FakeDialogCamera* camera = new FakeDialogCamera;
            std::thread([] { RunImageDialog(*camera, 0); }).detach();
            while (camera->opened == 0) std::this_thread::yield();
            std::exit(3);
        },
        testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace zelvik::test
