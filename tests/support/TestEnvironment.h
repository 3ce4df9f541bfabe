// A private system root and settings home for one test, so tests never see real disks or settings.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/ConfigHome.h"
#include "tests/support/TempDir.h"

namespace zelvik::test {

class TestEnvironment {
public:
    TestEnvironment() {
        std::filesystem::create_directories(root() / "sys/block");
        std::filesystem::create_directories(root() / "dev");
        if (const char* old = std::getenv("ZELVIK_ROOT")) savedRoot_ = old;
        ::setenv("ZELVIK_ROOT", root().c_str(), 1);
    }
    ~TestEnvironment() {
        if (savedRoot_) ::setenv("ZELVIK_ROOT", savedRoot_->c_str(), 1);
        else ::unsetenv("ZELVIK_ROOT");
    }
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    // A scratch directory of the test (fixtures, files it writes).
    const std::filesystem::path& dir() const { return dir_.path(); }
    std::filesystem::path configDir() const { return home_.Root(); }
    std::filesystem::path root() const { return dir() / "root"; }
    ConfigHome& home() { return home_; }

private:
    TempDir dir_;
    ConfigHome home_;
    std::optional<std::string> savedRoot_;
};

}  // namespace zelvik::test
