// Loading and saving the camera settings groups (video format, stream, analog, image and gray filter).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "settings/CameraSettings.h"

namespace zelvik {

// Root key of every stored setting.
inline constexpr char kSettingsRootKey[] = "Software\\Movane\\ZelvikQ77RX3Sdk";
// Stored sizes are "Size_00" .. "Size_99", numbered without gaps.
inline constexpr int kMaxStoredSizes = 100;

// The camera dialog's working copy of the video-format group: the stored sizes and the five root values.
struct SizeListData {
    // An entry the dialog has not filled: all zero except Buf.
    static constexpr CaptureWindow kEmptyEntry{0, 0, 0, 0, 0, 0, 10};

    SizeListData() { entries.fill(kEmptyEntry); }

    std::array<CaptureWindow, kMaxStoredSizes> entries;
    int32_t count = 0;  // entries in use, 0..100
    int32_t size = 0;   // selected entry
    int32_t color = 0;
    int32_t subsample = 0;
    int32_t waitTime = 10;
    int32_t clock = 0;
};

// Receives the error code a load reports (the instance pushes it on its error stack).
using ErrorReport = std::function<void(int code)>;

// Every function returns 1 when it read or wrote the group and 0 otherwise; callers may ignore the result.
// None of them fails hard: a store that cannot be read gives the fallbacks below, one that cannot be
// written leaves the stored values as they were. Loads fill the record they are given; the instance
// applies it.

// Reads the selected size entry into captureWindow (a value missing from the entry leaves its field as it
// was). With no root key, writes the default entry "Size_00" (2592 x 1944 at 0, 0, Buf 10) and the root
// defaults (Size 0, Color 2, SubSample 0, WaitTime 10, Clock 0), reports error 12 and returns 0 with
// captureWindow unchanged. A missing "Size" value or selected entry, or a stored window the sensor cannot
// take (smaller than 4 x 3 or not inside the sensor): error 12, 0, captureWindow unchanged.
int LoadVideoFormat(CameraSettings& settings, const ErrorReport& report);

// Reads Color, SubSample, WaitTime and Clock into colorMode, subsample, waitTime and clock (a missing
// value leaves its field). A value the setters refuse (a colour-mode code outside 0..5, a subsample
// outside 0..2, a negative wait time) leaves its field too, and the load reports error 12 and returns 0
// after reading the others. No root key: error 12, 0.
int LoadStreamSettings(CameraSettings& settings, const ErrorReport& report);

// Reads "Gain_<cameraIndex>" into analogSettings. A missing key gives the defaults (gains 16, exposure
// 1100, mirrors and auto iris 0) and returns 1. A value missing from the key takes the value read just
// before it (0 for the first, "Global"): stored keys written without some values rely on this.
int LoadAnalog(CameraSettings& settings, int cameraIndex);
int SaveAnalog(const CameraSettings& settings, int cameraIndex);

// The number of the analog key ("Gain_NN") of the camera with this serial, selected now as camera
// `number`. Numbers are places among the cameras attached, so they move when a camera is missing; the
// key stays the camera's: the first time a serial is met, its number then is recorded under "Cameras"
// (value name = serial) and that number is its key's from then on. A serial that is empty, longer than 64
// characters or not made of letters, digits, '.', '-' and '_' is not recorded (its key is its number).
int AnalogKeyOf(const std::string& serial, int number);

// Slots 0..9 of imageSettings from "Filter". A missing key gives the defaults (0 for brightness to
// sharpness, 100 for the three Bayer gains and gamma, Bayer mode 3), clears slots 20..28 and returns 0.
int LoadImageFilter(CameraSettings& settings);
int SaveImageFilter(const CameraSettings& settings);

// Slots 11..19 of imageSettings from "Gray". A missing key gives mode 0, gains 128, offsets 0, returns 0.
int LoadGrayFilter(CameraSettings& settings);
int SaveGrayFilter(const CameraSettings& settings);

// The camera dialog's load: the stored sizes up to the first missing number, then the five root values.
// No root key: 0, data unchanged.
int LoadSizeList(SizeListData& data);
// Writes entries 0..count-1 and the five root values; entries stored beyond count are left in place.
int SaveSizeList(const SizeListData& data);

// The stored size whose effective size is width x height (the first of them), for choosing a capture
// window by its picture size. Returns 0 and fills found, or the error to report: 4 when the root key is
// missing or no stored size matches. A value missing from the entry reads as in an empty dialog entry.
int FindStoredSize(int width, int height, CaptureWindow& found);

}  // namespace zelvik
