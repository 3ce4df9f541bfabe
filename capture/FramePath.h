// The frame path: turns the raw frame of the landing buffer into the finished image of a colour mode.
#pragma once

#include <memory>

#include "capture/CaptureBuffers.h"
#include "imaging/CpuInfo.h"
#include "imaging/Kernels.h"

namespace zelvik {

class CameraInstance;

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
    // (colour modes), then the filters on the output buffer of mode. An invalid mode is not processed. mosaic is the camera's 8-bit frame:
    // the landing buffer, or (modes whose output is another buffer) the frame ring's slot itself;
    // hot pixels are corrected in it.
    void Process(CaptureBuffers& buffers, FrameBuffer& mosaic, int mode);

    // Automatic exposure/gain from the mean levels of five regions of raw (8-bit levels). 1 when it ran
    // (adjusting or not); 0 with error 0 while the mode is off, or 9 without a frame or device.
    int AutoIris(FrameBuffer* raw);

private:
    void CorrectHotPixels(FrameBuffer& raw8);
    void DemosaicWithWhiteBalance(FrameBuffer& destination, FrameBuffer& raw);
    void GrayModeStep(CaptureBuffers& buffers, FrameBuffer& raw8);
    void ApplyFilters(FrameBuffer& output, FrameBuffer& work, const ColorModeInfo& mode);

    CameraInstance& camera_;
    CpuInfo cpu_{};
    ImagingKernels kernels_{};
    std::unique_ptr<FilterContext> filterContext_;
};

}  // namespace zelvik
