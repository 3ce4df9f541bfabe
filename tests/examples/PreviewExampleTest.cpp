// The preview example runs against the FUSE emulator under a private Xvfb: it shows the preview as a
// child of its own window and counts the frames announced in its event loop.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/FuseEmulator.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/TempDir.h"

#ifndef ZELVIK_EMULATOR_PATH
#define ZELVIK_EMULATOR_PATH ""
#endif

namespace zelvik::test {
namespace {

// Runs program with arguments and the given environment additions; its exit status and standard output.
int RunProgram(const std::string& program, const std::string& argument, const std::vector<std::string>& environment,
        std::string& output) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        for (const std::string& e : environment) ::putenv(const_cast<char*>(e.c_str()));
        ::execl(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char chunk[4096];
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) output.append(chunk, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PreviewExampleTest, ShowsThePreviewInItsWindowAndReceivesFrames) {
    const std::string why = FuseEmulator::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    PrivateXServer server;
    if (!server.connection()) GTEST_SKIP() << "no Xvfb: the preview example is not run";
    FuseEmulator emulator(ZELVIK_EMULATOR_PATH, {}, [](const std::string& fault) { ADD_FAILURE() << fault; });
    ASSERT_TRUE(emulator.Ready()) << emulator.Error();
    TempDir config;
    std::string output;
    const int status = RunProgram(PREVIEW_EXAMPLE_PATH, "5",
                                  {"DISPLAY=" + server.display(), "ZELVIK_ROOT=" + emulator.Root().string(),
                                   "XDG_CONFIG_HOME=" + config.path().string()},
                                  output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("preview window \"ActiveMovie Window\" at (10, 10), 640 x 480"), std::string::npos)
        << output;
    EXPECT_NE(output.find("frame 5: 2592 x 1944,"), std::string::npos) << output;
    EXPECT_NE(output.find("5 frames received"), std::string::npos) << output;
}

}  // namespace
}  // namespace zelvik::test
