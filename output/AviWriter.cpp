// AviWriter: header at Open, one chunk per frame, index and patched sizes at Finish.
#include "output/AviWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/Convert.h"

namespace zelvik {

namespace {

// File offsets of the words Finish patches.
constexpr uint32_t kRiffSizeAt = 4;
constexpr uint32_t kMicroSecPerFrameAt = 32;
constexpr uint32_t kFlagsAt = 44;
constexpr uint32_t kTotalFramesAt = 48;
constexpr uint32_t kScaleAt = 128;
constexpr uint32_t kLengthAt = 140;
constexpr uint32_t kMoviSizeAt = 224;

constexpr uint32_t kHasIndex = 0x10;
constexpr uint32_t kWasCaptureFile = 0x10000;
constexpr uint32_t kKeyFrame = 0x10;
constexpr uint32_t kRate = 10000000;  // dwRate; dwScale / dwRate is the frame time in seconds

// Little-endian bytes in order, for the header and the index.
class Bytes {
public:
    explicit Bytes(uint8_t* p) : p_(p) {}
    Bytes& U16(uint16_t v) {
        for (int i = 0; i < 2; ++i) *p_++ = static_cast<uint8_t>(v >> (8 * i));
        return *this;
    }
    Bytes& U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) *p_++ = static_cast<uint8_t>(v >> (8 * i));
        return *this;
    }
    Bytes& Code(const char (&fourcc)[5]) {
        std::memcpy(p_, fourcc, 4);
        p_ += 4;
        return *this;
    }
    Bytes& Zeros(int count) {
        std::memset(p_, 0, static_cast<size_t>(count));
        p_ += count;
        return *this;
    }
    uint8_t* At() const { return p_; }

private:
    uint8_t* p_;
};

uint32_t Saturate(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

}  // namespace

int AviWriter::Open(const char* fileName, int32_t width, int32_t height, uint32_t nominalRate) {
    Reset();
    if (width <= 0 || height <= 0 || nominalRate == 0) return 0;
    const uint64_t frameBytes = uint64_t(width) * uint64_t(height) * 3;
    if (RiffBytes(0, true) + 8 + frameBytes + 16 > riffLimit_) return 0;  // not even one frame would fit
    width_ = width;
    height_ = height;
    frameBytes_ = static_cast<uint32_t>(frameBytes);
    const uint32_t chunk = frameBytes_ + 8;

    uint8_t header[kHeaderBytes];
    Bytes b(header);
    b.Code("RIFF").U32(0).Code("AVI ").Code("LIST").U32(200).Code("hdrl");
    b.Code("avih").U32(56);
    b.U32(1000000 / nominalRate)                        // dwMicroSecPerFrame
        .U32(Saturate(uint64_t{chunk} * nominalRate))  // dwMaxBytesPerSec: every frame at the nominal rate
        .U32(0)                                         // dwPaddingGranularity
        .U32(kHasIndex | kWasCaptureFile)
        .U32(0)                                         // dwTotalFrames
        .U32(0)                                         // dwInitialFrames
        .U32(1)                                         // dwStreams
        .U32(chunk)                                     // dwSuggestedBufferSize
        .U32(uint32_t(width)).U32(uint32_t(height)).Zeros(16);
    b.Code("LIST").U32(124).Code("strl");
    b.Code("strh").U32(64);
    b.Code("vids").Code("DIB ").U32(0).U16(0).U16(0).U32(0)  // type, handler, flags, priority, language, initial
        .U32(kRate / nominalRate)                              // dwScale
        .U32(kRate)
        .U32(0)       // dwStart
        .U32(0)       // dwLength
        .U32(chunk)   // dwSuggestedBufferSize
        .U32(0)       // dwQuality
        .U32(0)       // dwSampleSize
        .Zeros(16);   // rcFrame
    b.Code("strf").U32(40);
    b.U32(40).U32(uint32_t(width)).U32(uint32_t(height)).U16(1).U16(24).U32(0).Zeros(20);
    b.Code("LIST").U32(0).Code("movi");

    if (!file_.Create(fileName)) {
        error_ = file_.Error();
        return 0;
    }
    if (!file_.Write(header, sizeof header)) {
        error_ = file_.Error();
        file_.Discard();
        return 0;
    }
    return 1;
}

AviAppend AviWriter::AppendFrame(const uint8_t* pixels) {
    if (!file_.IsOpen() || pixels == nullptr) return AviAppend::kNotOpen;
    if (RiffBytes(uint64_t{frames_} + 1, true) > riffLimit_) return AviAppend::kSizeLimit;
    uint8_t chunkHeader[8];
    Bytes(chunkHeader).Code("00db").U32(frameBytes_);
    const iovec parts[2] = {{chunkHeader, 8}, {const_cast<uint8_t*>(pixels), frameBytes_}};
    if (!file_.WriteParts(parts, 2)) {
        error_ = file_.Error();
        // Whatever part of the chunk reached the file goes, so the file ends after the last whole frame.
        file_.Truncate(kHeaderBytes + MoviBytes(frames_) - 4);
        file_.Seek(0, SEEK_END);
        return AviAppend::kWriteFailed;
    }
    ++frames_;
    return AviAppend::kWritten;
}

bool AviWriter::WriteIndex() {
    uint8_t block[8 + 16 * 256];
    Bytes(block).Code("idx1").U32(16 * frames_);
    size_t used = 8;
    for (uint32_t i = 0; i < frames_; ++i) {
        // offset of the chunk's FOURCC from the "movi" FOURCC: the first chunk sits right after it
        Bytes(block + used).Code("00db").U32(kKeyFrame).U32(static_cast<uint32_t>(MoviBytes(i))).U32(frameBytes_);
        used += 16;
        if (used == sizeof block || i + 1 == frames_) {
            if (!file_.Write(block, used)) return false;
            used = 0;
        }
    }
    return used == 0 || file_.Write(block, used);
}

bool AviWriter::Patch(uint32_t offset, uint32_t value) {
    uint8_t bytes[4];
    Bytes(bytes).U32(value);
    return file_.Seek(offset, SEEK_SET) == offset && file_.Write(bytes, 4);
}

int AviWriter::Finish(uint32_t rateHundredths) {
    if (!file_.IsOpen()) return 0;
    if (!file_.IsRegular()) {
        // A stream (a pipe to a player or an encoder) cannot go back to the header: its reader has every
        // frame and takes the sizes as open-ended, so nothing more is written.
        const bool closed = file_.Close();
        if (!closed) error_ = file_.Error();
        return closed ? 1 : 0;
    }
    const uint64_t moviEnd = kHeaderBytes - 4 + MoviBytes(frames_);
    withoutIndex_ = false;
    if (file_.Seek(static_cast<int64_t>(moviEnd), SEEK_SET) != static_cast<int64_t>(moviEnd) || !WriteIndex()) {
        // No room for the index (the disk is full): finish without one rather than leave a broken tail.
        error_ = file_.Error();
        withoutIndex_ = true;
        file_.Truncate(moviEnd);
    }
    const uint32_t rate = std::max<uint32_t>(rateHundredths, 1);
    const bool patched = Patch(kRiffSizeAt, static_cast<uint32_t>(RiffBytes(frames_, !withoutIndex_))) &&
                         Patch(kMoviSizeAt, static_cast<uint32_t>(MoviBytes(frames_))) &&
                         Patch(kTotalFramesAt, frames_) && Patch(kLengthAt, frames_) &&
                         Patch(kMicroSecPerFrameAt, 100000000 / rate) && Patch(kScaleAt, 1000000000 / rate) &&
                         (!withoutIndex_ || Patch(kFlagsAt, kWasCaptureFile));
    if (!patched) error_ = file_.Error();
    const bool closed = file_.Close();
    if (!closed) error_ = file_.Error();
    return patched && closed ? 1 : 0;
}

void AviWriter::Reset() {
    file_.Close();
    frames_ = 0;
    width_ = height_ = 0;
    frameBytes_ = 0;
    error_ = 0;
    withoutIndex_ = false;
}

bool ConvertToAviFrame(const ImageView& image, uint8_t* frame) {
    if (!IsSavable(image) || frame == nullptr) return false;
    const uint32_t packed = static_cast<uint32_t>(image.width) * 3;
    switch (image.bitsPerPixel) {
    case 24:
    case 32:
        ConvertRows(CopyBgrFlipped, image, 0, image.height, frame, packed, 3);
        return true;
    case 48:
    case 64:
        ConvertRows(Bgr48To24Flipped, image, 0, image.height, frame, packed, 3);
        return true;
    default:
        break;
    }
    // Gray: each pixel's byte (16-bit samples narrowed first) becomes blue, green and red alike, through
    // the buffer's colour table for 8 bits as a display would show it.
    for (int32_t r = 0; r < image.height; ++r) {
        const uint8_t* in = image.bits + static_cast<size_t>(image.height - 1 - r) * image.stride;
        uint8_t* out = frame + static_cast<size_t>(r) * packed;
        for (int32_t c = 0; c < image.width; ++c, out += 3) {
            if (image.bitsPerPixel == 8) {
                const uint8_t g = in[c];
                const RgbQuad e = image.colorTable ? image.colorTable[g] : RgbQuad{g, g, g, 0};
                out[0] = e.blue, out[1] = e.green, out[2] = e.red;
            } else {
                const auto g = static_cast<uint8_t>((in[2 * c] >> 2) | (in[2 * c + 1] << 6));
                out[0] = out[1] = out[2] = g;
            }
        }
    }
    return true;
}

}  // namespace zelvik
