// The per-user settings store: file format, locking and atomic replacement behind SettingsKey.
#include "settings/Store.h"

#include <cerrno>
#include <cstdlib>
#include <exception>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvik {
namespace {

namespace fs = std::filesystem;

// The file is a few kilobytes; anything far larger is not ours and is not read into memory.
constexpr size_t kMaxFileSize = 4 * 1024 * 1024;

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
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

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsControl(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// A name the file can hold and read back unchanged: not empty, no control characters, no blanks at
// either end (the reader trims them).
bool IsStorableName(std::string_view name) {
    if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return false;
    for (char c : name)
        if (IsControl(c)) return false;
    return true;
}

bool IsStorableValueName(std::string_view name) {
    return IsStorableName(name) && name.find('=') == std::string_view::npos && name.front() != '[' &&
           name.front() != ';' && name.front() != '#';
}

using Values = std::vector<std::pair<std::string, std::string>>;

struct Section {
    std::string name;
    Values values;
};

void SetText(Values& values, std::string_view name, std::string text) {
    for (auto& [n, v] : values)
        if (EqualNoCase(n, name)) {
            v = std::move(text);
            return;
        }
    values.emplace_back(std::string(name), std::move(text));
}

// The file's content: sections in file order, each name once, each value name once per section.
struct Document {
    std::vector<Section> sections;

    Section* Find(std::string_view name) {
        for (auto& s : sections)
            if (EqualNoCase(s.name, name)) return &s;
        return nullptr;
    }
    // A new section goes before the first key below it, so that a file reads parent first.
    Section& Ensure(std::string_view name) {
        if (Section* s = Find(name)) return *s;
        auto at = sections.begin();
        while (at != sections.end() && !IsBelow(at->name, name)) ++at;
        return *sections.insert(at, Section{std::string(name), {}});
    }
    // A key exists when its own section or the section of a key below it is present.
    bool HasKey(std::string_view path) const {
        for (const auto& s : sections)
            if (EqualNoCase(s.name, path) || IsBelow(s.name, path)) return true;
        return false;
    }
    static bool IsBelow(std::string_view key, std::string_view ancestor) {
        return key.size() > ancestor.size() && key[ancestor.size()] == '\\' &&
               EqualNoCase(key.substr(0, ancestor.size()), ancestor);
    }
};

// Parses the whole file. Empty optional when the text is damaged: a control character (a binary or
// overwritten file), a last line without its newline (a cut file), or a line that is neither blank, a
// comment, a "[section]" nor a "name=value" inside a section. A damaged file is used not at all, since
// which of its parts are sound cannot be known.
std::optional<Document> Parse(std::string_view text) {
    Document doc;
    if (!text.empty() && text.back() != '\n') return std::nullopt;
    Section* current = nullptr;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end + 1);
        for (char c : raw)
            if (IsControl(c) && c != '\t' && c != '\r') return std::nullopt;
        std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return std::nullopt;
            std::string_view name = Trim(line.substr(1, line.size() - 2));
            if (name.empty()) return std::nullopt;
            current = &doc.Ensure(name);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || current == nullptr) return std::nullopt;
        std::string_view name = Trim(line.substr(0, eq));
        if (name.empty()) return std::nullopt;
        // A name given twice keeps its last value, as a later assignment would.
        SetText(current->values, name, std::string(Trim(line.substr(eq + 1))));
    }
    return doc;
}

std::string Serialize(const Document& doc) {
    std::string out;
    for (const auto& s : doc.sections) {
        if (!out.empty()) out += '\n';
        out += '[';
        out += s.name;
        out += "]\n";
        for (const auto& [name, value] : s.values) {
            out += name;
            out += '=';
            out += value;
            out += '\n';
        }
    }
    return out;
}

enum class FileState { kMissing, kGood, kDamaged };

struct StoreContent {
    FileState state = FileState::kMissing;
    Document doc;
};

// Reads the file as it is now. A file replaced by a writer is seen either whole before or whole after
// the rename, so readers take no lock.
StoreContent ReadStore(const fs::path& file) {
    StoreContent content;
    if (file.empty()) return content;
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        // Unreadable for any other reason than absence counts as damaged, so a save keeps it aside.
        content.state = (errno == ENOENT || errno == ENOTDIR) ? FileState::kMissing : FileState::kDamaged;
        return content;
    }
    content.state = FileState::kDamaged;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxFileSize)
        return content;
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return content;
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxFileSize) return content;
    }
    if (auto doc = Parse(text)) {
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
UniqueFd OpenLockFile(const fs::path& file) {
    if (file.empty() || !EnsureDirectory(file.parent_path())) return UniqueFd();
    return UniqueFd(::open(WithSuffix(file, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
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
// with the lock held, so one temporary name serves every writer.
bool ReplaceFile(const fs::path& file, const std::string& data) {
    fs::path temp = WithSuffix(file, ".tmp");
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
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

// Merges one key's creation and changed values into the file as it is now.
bool Commit(const std::string& path, const std::vector<std::pair<std::string, int32_t>>& changes) {
    fs::path file = SettingsFilePath();
    UniqueFd lock = OpenLockFile(file);
    if (!lock.valid()) return false;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return false;
    StoreContent current = ReadStore(file);
    // A created key that has come to exist meanwhile (a key below it was written) needs nothing more.
    if (changes.empty() && current.state == FileState::kGood && current.doc.HasKey(path)) return true;
    if (current.state == FileState::kDamaged &&
        ::rename(file.c_str(), WithSuffix(file, ".bak").c_str()) != 0)
        return false;  // never overwrite a damaged file that could not be kept aside
    Section& section = current.doc.Ensure(path);
    for (const auto& [name, value] : changes) SetText(section.values, name, std::to_string(value));
    return ReplaceFile(file, Serialize(current.doc));
    // The lock is released when its descriptor closes.
}

}  // namespace

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

std::optional<int32_t> ParseStoredValue(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    const uint64_t limit = negative ? (uint64_t{1} << 31) : 0xFFFFFFFFu;
    uint64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    uint32_t bits = static_cast<uint32_t>(negative ? (uint64_t{0} - magnitude) : magnitude);
    return static_cast<int32_t>(bits);
}

SettingsKey::~SettingsKey() { Close(); }

SettingsKey::SettingsKey(SettingsKey&& other) noexcept
    : open_(other.open_),
      writable_(other.writable_),
      existed_(other.existed_),
      path_(std::move(other.path_)),
      values_(std::move(other.values_)),
      changes_(std::move(other.changes_)) {
    other.Reset();
}

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept {
    if (this != &other) {
        Close();
        open_ = other.open_;
        writable_ = other.writable_;
        existed_ = other.existed_;
        path_ = std::move(other.path_);
        values_ = std::move(other.values_);
        changes_ = std::move(other.changes_);
        other.Reset();
    }
    return *this;
}

void SettingsKey::Reset() {
    open_ = writable_ = existed_ = false;
    path_.clear();
    values_.clear();
    changes_.clear();
}

bool SettingsKey::OpenAt(std::string path, bool writable) {
    Close();
    try {
        if (writable) {
            // Creating a key promises that its close can write: the directory must exist and take files.
            if (!OpenLockFile(SettingsFilePath()).valid()) return false;
        }
        StoreContent content = ReadStore(SettingsFilePath());
        bool exists = content.state == FileState::kGood && content.doc.HasKey(path);
        if (!exists && !writable) return false;
        if (exists)
            if (const Section* s = content.doc.Find(path)) values_ = s->values;
        existed_ = exists;
        writable_ = writable;
        path_ = std::move(path);
        open_ = true;
        return true;
    } catch (const std::exception&) {
        Reset();
        return false;
    }
}

bool SettingsKey::Open(std::string_view path) {
    if (!IsStorableName(path)) return false;
    return OpenAt(std::string(path), false);
}

bool SettingsKey::Open(const SettingsKey& parent, std::string_view subkey) {
    if (!parent.open_ || !IsStorableName(subkey)) return false;
    return OpenAt(parent.path_ + '\\' + std::string(subkey), false);
}

bool SettingsKey::Create(std::string_view path) {
    if (!IsStorableName(path)) return false;
    return OpenAt(std::string(path), true);
}

bool SettingsKey::Create(const SettingsKey& parent, std::string_view subkey) {
    if (!parent.open_ || !IsStorableName(subkey)) return false;
    return OpenAt(parent.path_ + '\\' + std::string(subkey), true);
}

bool SettingsKey::Query(std::string_view name, int32_t& value) const {
    if (!open_) return false;
    for (const auto& [n, text] : values_)
        if (EqualNoCase(n, name)) {
            std::optional<int32_t> parsed = ParseStoredValue(text);
            if (!parsed) return false;
            value = *parsed;
            return true;
        }
    return false;
}

bool SettingsKey::Set(std::string_view name, int32_t value) {
    if (!open_ || !writable_ || !IsStorableValueName(name)) return false;
    try {
        SetText(values_, name, std::to_string(value));
        for (auto& change : changes_)
            if (EqualNoCase(change.first, name)) {
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
    bool ok = true;
    if (writable_ && (!existed_ || !changes_.empty())) {
        try {
            ok = Commit(path_, changes_);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    Reset();
    return ok;
}

}  // namespace zelvik
