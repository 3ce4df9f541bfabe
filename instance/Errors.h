// The library's error codes with their names and messages: one table for the API, the tools and the docs.
#pragma once

namespace zelvik {

enum ErrorCode : int {
    kErrAutoIrisOff = 0,
    kErrNotAllowed = 1,
    kErrNoCamera = 2,
    kErrThread = 3,
    kErrWindow = 4,
    kErrMemory = 5,
    kErrDevice = 6,
    kErrCaptureWindow = 7,
    kErrTransfer = 8,
    kErrArgument = 9,
    kErrUnsupported = 11,
    kErrRecording = 12,
    kErrCameraLost = 13,
};

struct ErrorInfo {
    int code;
    const char* name;
    const char* message;
};

// Every code the library reports (10 is never raised).
inline constexpr ErrorInfo kErrorTable[] = {
    {0, "ZELVIK_ERR_AUTO_IRIS_OFF", "automatic exposure/gain control is off"},
    {1, "ZELVIK_ERR_NOT_ALLOWED", "no device, or not allowed in the current capture mode"},
    {2, "ZELVIK_ERR_NO_CAMERA", "camera not present"},
    {3, "ZELVIK_ERR_THREAD", "thread or event creation failed"},
    {4, "ZELVIK_ERR_WINDOW", "window, display or settings-store failure"},
    {5, "ZELVIK_ERR_MEMORY", "memory or buffer failure"},
    {6, "ZELVIK_ERR_DEVICE", "device command failed"},
    {7, "ZELVIK_ERR_CAPTURE_WINDOW", "invalid capture window"},
    {8, "ZELVIK_ERR_TRANSFER", "frame transfer failed"},
    {9, "ZELVIK_ERR_ARGUMENT", "invalid argument"},
    {11, "ZELVIK_ERR_UNSUPPORTED", "function not supported"},
    {12, "ZELVIK_ERR_RECORDING", "recording failed to start, or stored settings missing"},
    {13, "ZELVIK_ERR_CAMERA_LOST", "camera lost during streaming"},
};

// The table's entry for a code, or null for a code the library never reports.
inline const ErrorInfo* FindError(int code) {
    for (const ErrorInfo& e : kErrorTable)
        if (e.code == code) return &e;
    return nullptr;
}

}  // namespace zelvik
