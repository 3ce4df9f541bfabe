// A private settings home for one test: a temporary XDG_CONFIG_HOME, removed afterwards, with the one
// settings file's paths and byte-exact reading and writing.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "tests/support/TempDir.h"

namespace zelvik::test {

class ConfigHome {
public:
    ConfigHome() : dir_("zelvik-settings") {
        if (dir_.path().empty()) std::abort();
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
        UseConfigHome(Root());
    }
    // Restores XDG_CONFIG_HOME; the directory goes with dir_.
    ~ConfigHome() {
        if (saved_) ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }
    ConfigHome(const ConfigHome&) = delete;
    ConfigHome& operator=(const ConfigHome&) = delete;

    // Points the store somewhere else (still removed with this home when it lies below Root()).
    void UseConfigHome(const std::filesystem::path& dir) { ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1); }

    const std::filesystem::path& Root() const { return dir_.path(); }
    std::filesystem::path Directory() const { return Root() / "Movane"; }
    std::filesystem::path File() const { return Directory() / "ZelvikQ77RX3Sdk.conf"; }
    std::filesystem::path Backup() const { return Directory() / "ZelvikQ77RX3Sdk.conf.bak"; }

    // Replaces the settings file with exactly these bytes.
    void WriteFile(const std::string& bytes) const {
        std::filesystem::create_directories(Directory());
        std::ofstream(File(), std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string ReadBytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string ReadFile() const { return ReadBytes(File()); }

private:
    TempDir dir_;  // destroyed after the environment is restored
    std::optional<std::string> saved_;
};

}  // namespace zelvik::test
