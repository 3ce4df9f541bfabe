// The per-user settings store: registry-like keys of 32-bit values kept in one text file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelvik {

// The settings file: $XDG_CONFIG_HOME/Movane/ZelvikQ77RX3Sdk.conf, or $HOME/.config/Movane/... when
// XDG_CONFIG_HOME is unset, empty or relative; HOME falls back to the password database. Empty when no
// home directory can be found (every key then reads as missing and every save fails). Read from the
// environment at each call, so a process that changes XDG_CONFIG_HOME moves its store.
std::filesystem::path SettingsFilePath();

// One open key of the store, named by its full path ("Software\Movane\ZelvikQ77RX3Sdk\Size_00").
//
// Keys opened below one another (Open or Create with a parent key) form one family that shares one
// reading of the file: a key opened by path reads the file, keys opened below it answer from that same
// snapshot, so a load of any group reads the file once. Changes are written when the last key of the
// family closes: under an advisory lock on "<file>.lock" the file's current content is read again, every
// closed key of the family (created if need be) and its changed values are merged into it, and the result
// replaces the file atomically (temporary file, fsync, rename, fsync of the directory). Keys and values of
// other processes are kept, and a family's changes reach the file together or not at all.
//
// A key exists when its section is in the file or when any key below it exists. A damaged or unreadable
// file (anything but a regular file, or one larger than the size limit, counts as damaged) reads as
// holding no keys; the next write keeps it as "<file>.bak" and starts a good file. Names of keys and values
// compare without regard to ASCII case, like the registry's.
//
// Thread-safety: one family belongs to one thread; different families may be used from different threads
// and processes at the same time.
class SettingsKey {
public:
    SettingsKey() = default;
    ~SettingsKey();
    SettingsKey(SettingsKey&& other) noexcept;
    SettingsKey& operator=(SettingsKey&& other) noexcept;
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    // Opens an existing key for reading. False when the key is missing or the file cannot be read.
    bool Open(std::string_view path);
    bool Open(const SettingsKey& parent, std::string_view subkey);

    // Opens a key for reading and writing, creating it (when closed) if it is missing. False when the
    // store's directory cannot be made or is not writable; nothing is written then. Does not read the file
    // until a value is queried.
    bool Create(std::string_view path);
    bool Create(const SettingsKey& parent, std::string_view subkey);

    // Reads a 32-bit value. False when the value is missing or its text is not a 32-bit number (see
    // docs/settings.md); value is then left as it was.
    bool Query(std::string_view name, int32_t& value) const;

    // Changes a value, to be written at Close. False on a key opened for reading or a closed key, or for a
    // name that the file cannot hold.
    bool Set(std::string_view name, int32_t value);

    // Closes the key. The last key of a family to close writes the family's changes, if any, and returns
    // false when they could not be written (they are then dropped); the others return true. Closing a
    // closed key returns true.
    bool Close();

    bool IsOpen() const { return open_; }
    const std::string& Path() const { return path_; }

private:
    struct Family;

    // Open and Create: the key path by itself (parent null) or below parent.
    bool OpenKey(const SettingsKey* parent, std::string_view name, bool writable);
    bool Join(std::shared_ptr<Family> family, std::string path, bool writable);
    void Reset();

    std::shared_ptr<Family> family_;
    bool open_ = false;
    bool writable_ = false;
    std::string path_;
    std::vector<std::pair<std::string, int32_t>> changes_;  // in the order they were made
};

}  // namespace zelvik
