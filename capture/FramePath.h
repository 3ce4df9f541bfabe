// The frame path: turns the raw frame of the landing buffer into the finished image of a colour mode.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "capture/CaptureBuffers.h"
#include "imaging/CpuInfo.h"
#include "imaging/Kernels.h"

namespace zelvik {

class CameraInstance;

// Told of finished rows of the output image: rows [rowFrom, rowTo), consecutive ranges from row 0 to the
// last, each once, as soon as no later step changes them (while they are still in the cache).
using FinishedRows = std::function<void(int rowFrom, int rowTo)>;

// One step of the frame path's banded schedule (FramePath.cpp).
struct FrameBandStep;

// Owns the kernel forms and the filters' cached tables. Used by one thread at a time: the capture
// thread while streaming, the application's thread for a single frame (never both: the capture modes
// exclude each other), always with the engine's output mutex held.
class FramePath {
public:
    explicit FramePath(CameraInstance& camera);
    ~FramePath();
    FramePath(const FramePath&) = delete;
    FramePath& operator=(const FramePath&) = delete;

    // At capture setup: chooses the kernel forms for this processor and builds the filter context once.
    // False when the context could not be allocated.
    bool Prepare();

    // Runs, in this order: automatic exposure/gain, hot-pixel correction, (16-bit modes) widening of the
    // 8-bit frame to 10-bit samples, the gray-mode step (8-bit gray) or the demosaic with white balance
    // (colour modes), then the filters on the output buffer of mode. An invalid mode is not processed.
    // mosaic is the camera's 8-bit frame: the landing buffer, or (modes whose output is another buffer)
    // the frame ring's slot itself; hot pixels are corrected in it.
    //
    // The steps after automatic exposure run band by band: a band of rows goes through every step while
    // it is in the cache, each step staying behind the one before by the rows its neighbourhood reads.
    // The bytes are those of each step run over the whole frame in turn. A measurement of the whole frame
    // (white balance, the gray mode's site levels) waits for the steps before it to finish the frame.
    // finished, when given, is told of each band of the output as it is done.
    void Process(CaptureBuffers& buffers, FrameBuffer& mosaic, int mode, const FinishedRows& finished = {});

    // Rows per band: 0 (the default) sizes them from the processor's cache; tests and benchmarks set them.
    void SetBandRows(int rows) { bandRows_ = rows; }

    // Automatic exposure/gain from the mean levels of five regions of raw (8-bit levels). 1 when it ran
    // (adjusting or not); 0 with error 0 while the mode is off, or 9 without a frame or device.
    int AutoIris(FrameBuffer* raw);

private:
    // White balance (while it is on) measured on the whole of raw: the gains the demosaic then uses.
    void MeasureWhiteBalance(FrameBuffer& raw);
    // The site levels (while the gray mode's countdown runs) measured on the whole of raw8.
    void MeasureSites(FrameBuffer& raw8);
    // The filters' steps on the output, in their order, appended to steps.
    void AddFilterSteps(std::vector<FrameBandStep>& steps, FrameBuffer& output, FrameBuffer& work, const ColorModeInfo& mode);
    int BandRows(size_t rowBytes) const;

    CameraInstance& camera_;
    CpuInfo cpu_{};
    ImagingKernels kernels_{};
    std::unique_ptr<FilterContext> filterContext_;
    int bandRows_ = 0;
};

}  // namespace zelvik
