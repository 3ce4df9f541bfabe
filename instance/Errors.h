// The library's error codes with their names and messages: one table for the library, the tools, the
// docs and the tests. The numbers are the public header's ZELVIK_ERR_* values; the names are made from
// the same tokens, so a name and its number cannot drift apart.
#pragma once

#include "include/ZelvikSdk.h"

namespace zelvik {

// X(public name after ZELVIK_ERR_, the library's constant, message). Every code the library reports;
// 10 is never raised.
#define ZELVIK_ERROR_TABLE(X)                                                                  \
    X(AUTO_IRIS_OFF, kErrAutoIrisOff, "automatic exposure/gain control is off")                \
    X(NOT_ALLOWED, kErrNotAllowed, "no device, or not allowed in the current capture mode")    \
    X(NO_CAMERA, kErrNoCamera, "camera not present")                                           \
    X(THREAD, kErrThread, "thread or event creation failed")                                   \
    X(WINDOW, kErrWindow, "window, display or settings-store failure")                         \
    X(MEMORY, kErrMemory, "memory or buffer failure")                                          \
    X(DEVICE, kErrDevice, "device command failed")                                             \
    X(CAPTURE_WINDOW, kErrCaptureWindow, "invalid capture window")                             \
    X(TRANSFER, kErrTransfer, "frame transfer failed")                                         \
    X(ARGUMENT, kErrArgument, "invalid argument")                                              \
    X(UNSUPPORTED, kErrUnsupported, "function not supported")                                  \
    X(RECORDING, kErrRecording, "recording or image file failed, or stored settings unusable") \
    X(CAMERA_LOST, kErrCameraLost, "camera lost during streaming")

enum ErrorCode : int {
#define ZELVIK_ERROR_CONSTANT(name, constant, text) constant = ZELVIK_ERR_##name,
    ZELVIK_ERROR_TABLE(ZELVIK_ERROR_CONSTANT)
#undef ZELVIK_ERROR_CONSTANT
};

struct ErrorInfo {
    int code;
    const char* name;
    const char* message;
};

inline constexpr ErrorInfo kErrorTable[] = {
#define ZELVIK_ERROR_ENTRY(name, constant, text) {ZELVIK_ERR_##name, "ZELVIK_ERR_" #name, text},
    ZELVIK_ERROR_TABLE(ZELVIK_ERROR_ENTRY)
#undef ZELVIK_ERROR_ENTRY
};

// The table's entry for a code, or null for a code the library never reports.
inline const ErrorInfo* FindError(int code) {
    for (const ErrorInfo& e : kErrorTable)
        if (e.code == code) return &e;
    return nullptr;
}

}  // namespace zelvik
