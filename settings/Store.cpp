// The per-user settings store: file format, locking and atomic replacement behind SettingsKey.
#include "settings/Store.h"

#include "settings/StoreFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <optional>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvik {
namespace {

namespace fs = std::filesystem;

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now; false when close reports an error (a late write error on some file systems).
    bool reset() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

enum class FileState { kMissing, kGood, kDamaged };

struct StoreContent {
    FileState state = FileState::kMissing;
    settings::Document doc;
};

// Reads and parses the file as it is now, in one pass. A file replaced by a writer is seen either whole
// before or whole after the rename, so readers take no lock.
StoreContent ReadStore(const fs::path& file) {
    StoreContent content;
    if (file.empty()) return content;
    // O_NONBLOCK: a FIFO (or a device) in the file's place must not block the open; it is refused below.
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) {
        // Unreadable for any other reason than absence counts as damaged, so a save keeps it aside.
        content.state = (errno == ENOENT || errno == ENOTDIR) ? FileState::kMissing : FileState::kDamaged;
        return content;
    }
    content.state = FileState::kDamaged;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > settings::kMaxFileSize)
        return content;
    std::string text;
    text.resize(static_cast<size_t>(st.st_size));
    size_t filled = 0;
    for (;;) {
        // The file may have grown since fstat; one byte beyond the limit is enough to refuse it.
        if (filled == text.size()) {
            if (text.size() > settings::kMaxFileSize) return content;
            text.resize(std::min(text.size() + 4096, settings::kMaxFileSize + 1));
        }
        const ssize_t n = ::read(fd.get(), text.data() + filled, text.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return content;
        if (n == 0) break;
        filled += static_cast<size_t>(n);
    }
    text.resize(filled);
    if (auto doc = settings::ParseDocument(text)) {
        content.state = FileState::kGood;
        content.doc = std::move(*doc);
    }
    return content;
}

fs::path WithSuffix(const fs::path& file, const char* suffix) {
    fs::path p = file;
    p += suffix;
    return p;
}

// Creates the directory and any missing parents; those it makes are private to the user.
bool EnsureDirectory(const fs::path& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (errno != ENOENT) return false;
    fs::path parent = dir.parent_path();
    if (parent != dir && !EnsureDirectory(parent)) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Opens (creating) the lock file beside the settings file; invalid when the directory is not writable.
// A symbolic link in the lock file's place is never followed (it could make the store create or truncate
// a file elsewhere), and anything but a regular file is refused: saves then fail until it is removed.
UniqueFd OpenLockFile(const fs::path& file) {
    if (file.empty() || !EnsureDirectory(file.parent_path())) return UniqueFd();
    UniqueFd fd(::open(WithSuffix(file, ".lock").c_str(),
                       O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
    return fd;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool FsyncRetrying(int fd) {
    while (::fsync(fd) != 0)
        if (errno != EINTR) return false;
    return true;
}

// Replaces the file so that a crash leaves either the old or the new content, never a mixture. Called
// with the lock held, so one temporary name serves every writer: whatever is in its place (a file left by
// a crash, a link, a FIFO) is removed and a new file is made there, never followed.
bool ReplaceFile(const fs::path& file, const std::string& data) {
    fs::path temp = WithSuffix(file, ".tmp");
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT) return false;
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid()) return false;
    bool ok = WriteAll(fd.get(), data) && FsyncRetrying(fd.get());
    ok = fd.reset() && ok;
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is durable only once the directory is synced.
    UniqueFd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.valid() && FsyncRetrying(dir.get());
}

// One closed key of a family: its creation and its changed values.
struct PendingKey {
    std::string path;
    std::vector<std::pair<std::string, int32_t>> changes;
};

// Merges a family's keys into the file as it is now: one lock, one reading, at most one write.
bool Commit(const std::vector<PendingKey>& keys) {
    fs::path file = SettingsFilePath();
    UniqueFd lock = OpenLockFile(file);
    if (!lock.valid()) return false;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return false;
    StoreContent current = ReadStore(file);
    // A created key that exists by now (it did already, or a key below it was written) needs nothing.
    bool anything = current.state != FileState::kGood;
    for (const PendingKey& key : keys) anything = anything || !key.changes.empty() || !current.doc.HasKey(key.path);
    if (!anything) return true;
    for (const PendingKey& key : keys) {
        if (key.changes.empty() && current.doc.HasKey(key.path)) continue;
        settings::Section& section = current.doc.Ensure(key.path);
        for (const auto& [name, value] : key.changes) section.Set(name, std::to_string(value));
    }
    // Never write what the next load would refuse as damaged: without the blank lines between sections
    // a file near the limit may still fit; otherwise this save fails and the file stays as it was.
    std::string text = settings::SerializeDocument(current.doc);
    if (text.size() > settings::kMaxFileSize) text = settings::SerializeDocument(current.doc, false);
    if (text.size() > settings::kMaxFileSize) return false;
    if (current.state == FileState::kDamaged && ::rename(file.c_str(), WithSuffix(file, ".bak").c_str()) != 0)
        return false;  // never overwrite a damaged file that could not be kept aside
    return ReplaceFile(file, text);
    // The lock is released when its descriptor closes.
}

}  // namespace

// What the keys of one family share: the file as read once, and the keys closed so far.
struct SettingsKey::Family {
    std::optional<StoreContent> snapshot;  // read when the first key needs it
    bool writableChecked = false;          // the directory took the lock file
    int openKeys = 0;
    std::vector<PendingKey> pending;

    const StoreContent& Snapshot() {
        if (!snapshot) snapshot = ReadStore(SettingsFilePath());
        return *snapshot;
    }
};

fs::path SettingsFilePath() {
    fs::path base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home != nullptr && home[0] == '/') {
            base = fs::path(home) / ".config";
        } else {
            struct passwd pw {};
            struct passwd* found = nullptr;
            char buffer[4096];
            if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
                pw.pw_dir == nullptr || pw.pw_dir[0] != '/')
                return {};
            base = fs::path(pw.pw_dir) / ".config";
        }
    }
    return base / "Movane" / "ZelvikQ77RX3Sdk.conf";
}

SettingsKey::~SettingsKey() { Close(); }

SettingsKey::SettingsKey(SettingsKey&& other) noexcept
    : family_(std::move(other.family_)),
      open_(other.open_),
      writable_(other.writable_),
      path_(std::move(other.path_)),
      changes_(std::move(other.changes_)) {
    other.Reset();
}

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept {
    if (this != &other) {
        Close();
        family_ = std::move(other.family_);
        open_ = other.open_;
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        changes_ = std::move(other.changes_);
        other.Reset();
    }
    return *this;
}

void SettingsKey::Reset() {
    family_.reset();
    open_ = writable_ = false;
    path_.clear();
    changes_.clear();
}

bool SettingsKey::Join(std::shared_ptr<Family> family, std::string path, bool writable) {
    try {
        if (writable && !family->writableChecked) {
            // Creating a key promises that its close can write: the directory must exist and take files.
            if (!OpenLockFile(SettingsFilePath()).valid()) return false;
            family->writableChecked = true;
        }
        if (!writable) {
            const StoreContent& content = family->Snapshot();
            if (content.state != FileState::kGood || !content.doc.HasKey(path)) return false;
        }
        ++family->openKeys;
        family_ = std::move(family);
        writable_ = writable;
        path_ = std::move(path);
        open_ = true;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool SettingsKey::OpenKey(const SettingsKey* parent, std::string_view name, bool writable) {
    if (this == parent) return false;
    Close();
    if ((parent != nullptr && !parent->open_) || !settings::IsStorableKeyName(name)) return false;
    try {
        // A key opened by path starts a family (its own reading of the file); one opened below a parent
        // joins the parent's.
        if (parent == nullptr) return Join(std::make_shared<Family>(), std::string(name), writable);
        return Join(parent->family_, parent->path_ + '\\' + std::string(name), writable);
    } catch (const std::exception&) {
        return false;
    }
}

bool SettingsKey::Open(std::string_view path) { return OpenKey(nullptr, path, false); }
bool SettingsKey::Open(const SettingsKey& parent, std::string_view subkey) {
    return OpenKey(&parent, subkey, false);
}
bool SettingsKey::Create(std::string_view path) { return OpenKey(nullptr, path, true); }
bool SettingsKey::Create(const SettingsKey& parent, std::string_view subkey) {
    return OpenKey(&parent, subkey, true);
}

bool SettingsKey::Query(std::string_view name, int32_t& value) const {
    if (!open_) return false;
    try {
        // The key's own changes first, newest last.
        for (auto it = changes_.rbegin(); it != changes_.rend(); ++it)
            if (settings::LowerAscii(it->first) == settings::LowerAscii(name)) {
                value = it->second;
                return true;
            }
        const StoreContent& content = family_->Snapshot();
        if (content.state != FileState::kGood) return false;
        const settings::Section* section = content.doc.Find(path_);
        const std::string* text = section != nullptr ? section->Find(name) : nullptr;
        if (text == nullptr) return false;
        std::optional<int32_t> parsed = settings::ParseValueText(*text);
        if (!parsed) return false;
        value = *parsed;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool SettingsKey::Set(std::string_view name, int32_t value) {
    if (!open_ || !writable_ || !settings::IsStorableValueName(name)) return false;
    try {
        const std::string lower = settings::LowerAscii(name);
        for (auto& change : changes_)
            if (settings::LowerAscii(change.first) == lower) {
                change.second = value;
                return true;
            }
        changes_.emplace_back(std::string(name), value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool SettingsKey::Close() {
    if (!open_) return true;
    std::shared_ptr<Family> family = family_;
    bool ok = true;
    if (writable_) {
        try {
            family->pending.push_back({path_, std::move(changes_)});
        } catch (const std::exception&) {
            ok = false;  // out of memory: this key's changes are dropped
        }
    }
    if (--family->openKeys == 0 && !family->pending.empty()) {
        try {
            ok = Commit(family->pending) && ok;
        } catch (const std::exception&) {
            ok = false;
        }
        family->pending.clear();
    }
    Reset();
    return ok;
}

}  // namespace zelvik
