// OutputFile: create-or-truncate, complete writes, seeks, and removal of a failed file.
#include "output/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

#include "platform/NoPipeSignal.h"

namespace zelvik {

bool OutputFile::Fail(int error) {
    error_ = error;
    return false;
}

namespace {

// The directory part of a name ("." for a bare name) and its last component.
bool SplitName(const char* name, std::string& directory, std::string& last) {
    const std::string_view whole(name);
    const size_t slash = whole.rfind('/');
    if (slash == std::string_view::npos) {
        directory = ".";
        last = whole;
    } else {
        directory = slash == 0 ? std::string("/") : std::string(whole.substr(0, slash));
        last = whole.substr(slash + 1);
    }
    return !last.empty();
}

// A sticky directory that anyone may write to (/tmp and its kind): another user may have planted any
// name in it, so a link there is followed only when it belongs to the caller or to the directory's owner,
// the rule of the kernel's protected_symlinks, kept whether or not the kernel enforces it.
bool IsSharedDirectory(const struct stat& directory) {
    return (directory.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

// True when a link found in directory may be followed: the directory is not shared, or the link belongs to
// the caller or to the directory's owner.
bool MayFollow(int directory, const struct stat& directoryStat, const char* name) {
    if (!IsSharedDirectory(directoryStat)) return true;
    struct stat link {};
    return ::fstatat(directory, name, &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode) ||
           link.st_uid == ::geteuid() || link.st_uid == directoryStat.st_uid;
}

// Opens the directory a name lies in one component at a time, so that a link planted in a shared
// directory on the way (a link to another user's folder in /tmp) is refused like one in the last place.
// In a shared directory a component is first opened without following links: another user may replace
// anything of theirs between a check and an open, but not a link of the caller's or the owner's.
int OpenDirectory(const std::string& path) {
    int directory = ::open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    size_t start = 0;
    while (directory >= 0 && start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        struct stat here {};
        if (::fstat(directory, &here) != 0) break;
        const bool shared = IsSharedDirectory(here);
        int next = ::openat(directory, component.c_str(),
                            O_PATH | O_DIRECTORY | O_CLOEXEC | (shared ? O_NOFOLLOW : 0));
        // Not following, a link is no directory (ENOTDIR; ELOOP on some kernels).
        if (next < 0 && shared && (errno == ENOTDIR || errno == ELOOP)) {
            if (!MayFollow(directory, here, component.c_str())) {
                ::close(directory);
                errno = EACCES;
                return -1;
            }
            next = ::openat(directory, component.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        const int error = errno;
        ::close(directory);
        directory = next;
        errno = error;
    }
    return directory;
}

int OpenWriting(int directory, const char* last, int flags) {
    for (;;) {
        const int fd = ::openat(directory, last, flags | O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

}  // namespace

bool OutputFile::Create(const char* name) {
    Close();
    error_ = 0;
    regular_ = false;
    name_.clear();
    if (name == nullptr || *name == '\0') return Fail(ENOENT);
    std::string directoryName, last;
    try {
        name_ = name;
        if (!SplitName(name, directoryName, last)) return Fail(EISDIR);
    } catch (...) {
        return Fail(ENOMEM);
    }
    const int directory = OpenDirectory(directoryName);
    if (directory < 0) return Fail(errno);
    struct stat directoryStat {};
    const bool shared = ::fstat(directory, &directoryStat) == 0 && IsSharedDirectory(directoryStat);
    // Truncate what is there; when nothing is there, create it, refusing a name that appeared meanwhile.
    // O_NONBLOCK: a FIFO without a reader is refused (ENXIO) instead of holding the caller until one
    // comes; the descriptor blocks again below.
    int fd = OpenWriting(directory, last.c_str(), O_TRUNC | (shared ? O_NOFOLLOW : 0));
    if (fd < 0 && errno == ELOOP && shared) {
        // A link in a shared directory: no other user can replace a link of the caller's or the
        // directory owner's there (the sticky bit), so following one of those is safe.
        if (!MayFollow(directory, directoryStat, last.c_str())) {
            ::close(directory);
            return Fail(EACCES);
        }
        fd = OpenWriting(directory, last.c_str(), O_TRUNC);
    }
    if (fd < 0 && errno == ENOENT) fd = OpenWriting(directory, last.c_str(), O_CREAT | O_EXCL);
    const int openError = errno;
    ::close(directory);
    if (fd < 0) return Fail(openError);
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 ||
        !(S_ISREG(opened.st_mode) || S_ISFIFO(opened.st_mode) || S_ISCHR(opened.st_mode))) {
        // A disk (or anything but a file, a pipe or a character device such as /dev/null) is never an
        // image or a recording: its blocks would be overwritten.
        ::close(fd);
        return Fail(EINVAL);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(error);
    }
    regular_ = S_ISREG(opened.st_mode);
    device_ = opened.st_dev;
    inode_ = opened.st_ino;
    fd_ = fd;
    return true;
}

bool OutputFile::Write(const void* data, size_t count) {
    iovec part{const_cast<void*>(data), count};
    return WriteParts(&part, 1);
}

bool OutputFile::WriteParts(const iovec* parts, size_t count) {
    if (fd_ < 0) return Fail(EBADF);
    // Work on a small window of the caller's parts, advancing it past whatever each call wrote.
    constexpr size_t kWindow = 1024;  // IOV_MAX on Linux
    iovec window[kWindow];
    size_t next = 0;     // first part not yet in the window
    size_t offset = 0;   // bytes of parts[next - filled] already written
    while (next < count) {
        size_t filled = 0;
        for (size_t i = next; i < count && filled < std::min<size_t>(kWindow, IOV_MAX); ++i, ++filled)
            window[filled] = parts[i];
        window[0].iov_base = static_cast<uint8_t*>(window[0].iov_base) + offset;
        window[0].iov_len -= offset;
        size_t total = 0;
        for (size_t i = 0; i < filled; ++i) total += window[i].iov_len;
        if (total == 0) {
            next += filled;
            offset = 0;
            continue;
        }
        ssize_t written;
        {
            // Only pipes and sockets raise SIGPIPE; regular files skip the two mask changes.
            const NoPipeSignal quiet(!regular_);
            written = ::writev(fd_, window, static_cast<int>(filled));
        }
        if (written < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (written == 0) return Fail(ENOSPC);
        size_t left = static_cast<size_t>(written);
        size_t i = 0;
        while (i < filled && left >= window[i].iov_len) left -= window[i++].iov_len;
        // Parts wholly written leave; a part partly written stays first with its remaining bytes.
        offset = i < filled ? (i == 0 ? offset : 0) + left : 0;
        next += i;
    }
    return true;
}

int64_t OutputFile::Seek(int64_t offset, int whence) {
    if (fd_ < 0) return Fail(EBADF), -1;
    const off_t position = ::lseek(fd_, offset, whence);
    if (position < 0) return Fail(errno), -1;
    return position;
}

bool OutputFile::Truncate(uint64_t size) {
    if (fd_ < 0) return Fail(EBADF);
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail(errno);
    return true;
}

bool OutputFile::Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    // A close interrupted by a signal has still released the descriptor on Linux; the data is not lost.
    if (result != 0 && errno != EINTR) return Fail(errno);
    return true;
}

bool OutputFile::Commit(bool written) {
    if (written && Close()) return true;
    Discard();
    return false;
}

void OutputFile::Discard() {
    const int keepError = error_;
    Close();
    error_ = keepError;
    struct stat named {};
    if (regular_ && ::stat(name_.c_str(), &named) == 0 && named.st_dev == device_ && named.st_ino == inode_)
        ::unlink(name_.c_str());
    regular_ = false;
}

}  // namespace zelvik
