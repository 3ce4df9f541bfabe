// The example programs, built against the shared library, run on emulated cameras.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>

#include "tests/support/FuseEmulator.h"
#include "tests/support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int exitCode = -1;
    std::string out, err;
};

class Examples : public ::testing::Test {
protected:
    void TearDown() override { emulator_.reset(); }

    bool Mount(int cameras) {
        if (!zelvik::test::FuseEmulator::Unavailable().empty()) return false;
        emulator_.emplace(ZELVIK_EMULATOR_PATH, std::vector<std::string>{"--cameras", std::to_string(cameras), "--fps", "max"},
                          [](const std::string& fault) { ADD_FAILURE() << fault; });
        EXPECT_TRUE(emulator_->Ready()) << emulator_->Error();
        ::setenv("ZELVIK_ROOT", emulator_->Root().c_str(), 1);
        return emulator_->Ready();
    }

    Result Run(const std::string& command) const {
        const fs::path out = env_.dir() / "out", err = env_.dir() / "err";
        const int status = std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
        auto slurp = [](const fs::path& f) {
            std::ifstream in(f);
            return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        };
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    zelvik::test::TestEnvironment env_;  // an empty system root until Mount()
    std::optional<zelvik::test::FuseEmulator> emulator_;
};

TEST_F(Examples, WithoutACameraEachSaysSo) {
    for (const char* program : {HEADLESS_STREAM_PATH, TWO_CAMERAS_PATH}) {
        SCOPED_TRACE(program);
        const Result r = Run(std::string("'") + program + "' 5");
        EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
        EXPECT_NE(r.err.find("error 2"), std::string::npos) << r.err;
    }
}

TEST_F(Examples, HeadlessStreamReceivesEveryFrameAndSavesEveryTenth) {
    if (!Mount(1)) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const fs::path pictures = env_.dir() / "pictures";
    fs::create_directories(pictures);
    const Result r = Run(std::string("'") + HEADLESS_STREAM_PATH + "' 30 '" + pictures.string() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("30 frame(s) received"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frame 30: 1296 x 972, 24 bits"), std::string::npos) << r.out;
    if (r.out.find("not available in this library build (error 1)") != std::string::npos) {
        EXPECT_NE(r.out.find("0 saved"), std::string::npos) << r.out;
    } else {
        EXPECT_NE(r.out.find("3 saved"), std::string::npos) << r.out;
        for (const char* name : {"frame_0010.bmp", "frame_0020.bmp", "frame_0030.bmp"}) {
            std::ifstream in(pictures / name, std::ios::binary);
            char magic[2] = {};
            in.read(magic, 2);
            EXPECT_EQ(std::string(magic, 2), "BM") << name;
        }
    }
}

TEST_F(Examples, TwoCamerasStreamAtOnce) {
    if (!Mount(2)) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result r = Run(std::string("'") + TWO_CAMERAS_PATH + "' 20");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("camera 1: (\\d+) frame\\(s\\)\\ncamera 2: (\\d+) frame\\(s\\)")))
        << r.out;
    EXPECT_GE(std::stoi(m[1]), 20);
    EXPECT_GE(std::stoi(m[2]), 20);
}

TEST_F(Examples, TwoCamerasNeedsTwo) {
    if (!Mount(1)) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result r = Run(std::string("'") + TWO_CAMERAS_PATH + "' 5");
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.err.find("camera 2: not found"), std::string::npos) << r.err;
}

TEST_F(Examples, FirstCameraListsTheCamera) {
    if (!Mount(1)) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result r = Run(std::string("'") + FIRST_CAMERA_PATH + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("1 camera(s) found"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sensor 2592 x 1944"), std::string::npos) << r.out;
}

}  // namespace
