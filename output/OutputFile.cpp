// OutputFile: create-or-truncate, complete writes, seeks, and removal of a failed file.
#include "output/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvik {

bool OutputFile::Fail(int error) {
    error_ = error;
    return false;
}

bool OutputFile::Create(const char* name) {
    Close();
    error_ = 0;
    regular_ = false;
    name_.clear();
    if (name == nullptr || *name == '\0') return Fail(ENOENT);
    // Truncate what is there; when nothing is there, create it, refusing a name that appeared meanwhile.
    int fd = ::open(name, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(errno);
    struct stat opened {};
    try {
        name_ = name;
    } catch (...) {
        ::close(fd);
        return Fail(ENOMEM);
    }
    regular_ = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
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
        const ssize_t written = ::writev(fd_, window, static_cast<int>(filled));
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
