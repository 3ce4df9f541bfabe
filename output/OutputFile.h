// OutputFile: the one write-only file of a still-image save or a recording, closed on every way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/uio.h>

namespace zelvik {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Closes any file held, then opens name for writing, truncating an existing file, or else creates a
    // new one (never following a name that appears in between). false, with nothing held and the reason
    // in Error(), for null or empty names, directories, missing folders and unwritable places, and for
    // - a FIFO without a reader (ENXIO): the open never waits for one; with a reader it is written
    //   as a stream (writes block while the pipe is full, as a pipe's writer expects);
    // - anything but a regular file, a FIFO or a character device, such as a disk (EINVAL);
    // - a symbolic link in a sticky world-writable directory that belongs neither to the caller nor to
    //   the directory's owner (EACCES), whatever the kernel's protected_symlinks says.
    bool Create(const char* name);
    // Writes all count bytes, resuming after partial writes. false on the first failure (disk full,
    // file system gone, file too large, a pipe without a reader: EPIPE, never SIGPIPE, nothing open);
    // the reason stays in Error().
    bool Write(const void* data, size_t count);
    // Writes the parts in order as one gathered write where the system allows (any number of parts).
    bool WriteParts(const iovec* parts, size_t count);
    // Moves to offset from the start (SEEK_SET), the current position (SEEK_CUR) or the end (SEEK_END).
    // Returns the new position, or -1.
    int64_t Seek(int64_t offset, int whence);
    // Cuts the file to size bytes (used to drop a frame that was only partly written).
    bool Truncate(uint64_t size);
    // Closes the handle; harmless when closed. false when the system reports that data already handed
    // over could not be stored (a delayed write error).
    bool Close();
    // Closes (if still open) and removes the file of the last Create, so that a failed save leaves
    // nothing under the caller's name. Only a regular file that is still the one Create opened is removed
    // (never a device, a pipe, or a file that replaced it in between).
    void Discard();

    // Ends a save: closes the file and keeps it when written is true and the close succeeds; otherwise
    // discards it. Returns whether the file was kept.
    bool Commit(bool written);

    bool IsOpen() const { return fd_ >= 0; }
    // True for a regular file; false for a stream (a pipe, a character device), which cannot seek.
    bool IsRegular() const { return regular_; }
    int Descriptor() const { return fd_; }
    // errno of the last failure (0: none since Create).
    int Error() const { return error_; }

private:
    bool Fail(int error);

    int fd_ = -1;
    int error_ = 0;
    std::string name_;  // what Discard may remove
    bool regular_ = false;
    uint64_t device_ = 0, inode_ = 0;
};

}  // namespace zelvik
