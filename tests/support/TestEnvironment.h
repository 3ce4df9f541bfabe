// A private system root and settings directory for one test, so tests never see real disks or settings.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zelvik::test {

class TestEnvironment {
public:
    TestEnvironment() {
        char pattern[] = "/tmp/zelvik-test-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        std::filesystem::create_directories(dir_ / "root/sys/block");
        std::filesystem::create_directories(dir_ / "root/dev");
        std::filesystem::create_directories(dir_ / "config");
        ::setenv("ZELVIK_ROOT", (dir_ / "root").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    ~TestEnvironment() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path configDir() const { return dir_ / "config"; }
    std::filesystem::path root() const { return dir_ / "root"; }

private:
    std::filesystem::path dir_;
};

}  // namespace zelvik::test
