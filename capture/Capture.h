// The capture operations behind the exports: streaming, single frames and copies of the last image.
//
// All run on the application's thread (one call at a time per instance, as the export frame ensures),
// return 1 for success and 0 for failure, and report the reason on the instance's error stack.
#pragma once

#include "include/ZelvikSdk.h"

namespace zelvik {

class CameraInstance;

// Starts streaming (capture setup, capture thread, continuous acquisition). Already streaming: 1 at once.
// Single-shot mode: error 1. Setup failure: its own code, then 1; thread failure: 3; acquisition start
// failure: 6.
int StartPreview(CameraInstance& camera);
// Ends the capture thread, then the recording thread (both joined), then the device's acquisition.
// No device: error 1. Acquisition stop failure: error 6.
int StopPreview(CameraInstance& camera);
// Streams without frame delivery to the application (the callback target and buffer are cleared).
// A failed start closes the instance and reports 8.
int Preview(CameraInstance& camera);
// Streams and delivers every frame: copied into buffer (size bytes; 0 or null for no copy) with rows in
// memory order when keepRowOrder is non-zero, else last row first, and announced to window with
// MSG_CAMERA_FRAME carrying the address of the instance's frame record. The application keeps the buffer
// alive while streaming; after a later call returns, the previous buffer is no longer touched.
int CallBackPreview(CameraInstance& camera, ZELVIK_HWND window, void* buffer, int size, int keepRowOrder);
// Enters single-shot mode (capture setup, no thread). Streaming: error 1.
int Capture(CameraInstance& camera);
// Takes one frame on the calling thread, processes it and copies it into buffer when buffer and size are
// both non-zero. Streaming: error 1; outside single-shot mode each call repeats the capture setup.
int SnapShot(CameraInstance& camera, void* buffer, int size, int keepRowOrder);
// Copies the newest finished image. 0 without an error when no image arrived since the last call;
// error 5 for a missing buffer, an image-less instance or a buffer too small.
int GetImage(CameraInstance& camera, void* buffer, int size, int keepRowOrder);

}  // namespace zelvik
