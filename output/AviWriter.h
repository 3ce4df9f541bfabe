// AviWriter: an uncompressed AVI of 24-bit frames, written as frames arrive and finished with an index.
#pragma once

#include <cstdint>

#include "output/OutputFile.h"
#include "output/StillImage.h"

namespace zelvik {

// What became of a frame handed to AppendFrame.
enum class AviAppend {
    kWritten,      // the chunk is in the file
    kSizeLimit,    // not written: the finished file would pass the 4 GiB a RIFF size can state
    kWriteFailed,  // not written: the system refused the write (disk full, file system gone); the file
                   // was cut back to the frames before it
    kNotOpen,
};

class AviWriter {
public:
    // Layout of the file: header (232 bytes), then the movi chunks, then idx1.
    static constexpr uint32_t kHeaderBytes = 232;
    static constexpr uint64_t kRiffLimit = UINT32_MAX;  // the largest RIFF size the header can state

    // riffLimit: the largest RIFF size a finished file may state (lower only to exercise the guard).
    explicit AviWriter(uint64_t riffLimit = kRiffLimit) : riffLimit_(riffLimit) {}
    ~AviWriter() { Reset(); }
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Resets, creates fileName (truncating an existing file) and writes the whole header with the size
    // words 0, nominalRate frames per second and width x height pixels per frame. 0 when the file cannot
    // be created or the header cannot be written (then no file is left), or the size is not positive.
    int Open(const char* fileName, int32_t width, int32_t height, uint32_t nominalRate);
    // Appends one frame: width x height x 3 bytes, the bottom line first, pixels blue, green, red,
    // rows packed (see FrameBytes).
    AviAppend AppendFrame(const uint8_t* pixels);
    // Writes the index, the sizes, the counts and the timing for rateHundredths (frames per second x 100;
    // 0 counts as 1, the slowest rate it can state) and closes the file. 1 when the file is complete;
    // 0 when the end could not be written (the file stays, as complete as the system allowed).
    // When the index itself cannot be written the file is finished without one (the has-index flag is
    // cleared), which players read by walking the frame chunks. A stream (a pipe, a character device)
    // cannot seek back to the header: it is closed as it stands, its sizes 0 (open-ended).
    int Finish(uint32_t rateHundredths);
    // Closes the file as it stands (an unfinished recording keeps its placeholders) and forgets it.
    void Reset();

    bool IsOpen() const { return file_.IsOpen(); }
    // Frames in the file since Open.
    uint32_t FrameCount() const { return frames_; }
    uint32_t FrameBytes() const { return frameBytes_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // errno of the failure behind kWriteFailed or a 0 from Finish.
    int Error() const { return error_; }
    // True when the last Finish wrote no index (see Finish).
    bool FinishedWithoutIndex() const { return withoutIndex_; }

private:
    bool Patch(uint32_t offset, uint32_t value);
    bool WriteIndex();
    // Every chunk has the same length, so the index and the sizes follow from the frame count.
    uint64_t MoviBytes(uint64_t frames) const { return 4 + frames * (8 + uint64_t{frameBytes_}); }
    uint64_t RiffBytes(uint64_t frames, bool withIndex) const {
        return kHeaderBytes - 12 + MoviBytes(frames) + (withIndex ? 8 + 16 * frames : 0);
    }

    uint64_t riffLimit_;
    OutputFile file_;
    uint32_t frames_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t frameBytes_ = 0;
    int error_ = 0;
    bool withoutIndex_ = false;
};

// Converts an image of any colour mode into the frame AppendFrame takes (packed rows, bottom line
// first, blue, green, red): 8-bit gray becomes three equal channels, 16-bit gray is narrowed
// ((v >> 2) & 0xFF) first, 32-bit drops the fourth byte, 48 and 64 bits are narrowed per channel.
// frame holds width x height x 3 bytes. false for an image IsSavable refuses.
bool ConvertToAviFrame(const ImageView& image, uint8_t* frame);

}  // namespace zelvik
