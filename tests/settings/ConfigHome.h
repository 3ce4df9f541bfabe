// A private settings home for one test: a temporary XDG_CONFIG_HOME, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <unistd.h>

namespace zelvik::test {

class ConfigHome {
public:
    ConfigHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zelvik-settings-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        root_ = pattern;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
        UseConfigHome(root_);
    }
    ~ConfigHome() {
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        if (std::filesystem::exists(Directory(), ignored))
            std::filesystem::permissions(Directory(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
        if (saved_) ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }
    ConfigHome(const ConfigHome&) = delete;
    ConfigHome& operator=(const ConfigHome&) = delete;

    // Points the store somewhere else (still removed with this home when it lies below Root()).
    void UseConfigHome(const std::filesystem::path& dir) { ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1); }

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Directory() const { return root_ / "Movane"; }
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
    std::filesystem::path root_;
    std::optional<std::string> saved_;
};

}  // namespace zelvik::test
