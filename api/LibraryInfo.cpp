// Extension exports that describe the library itself rather than a camera: its build and its tables.
#include "api/FilterValues.h"
#include "device/Sensor.h"
#include "imaging/Kernels.h"
#include "include/ZelvikSdk.h"
#include "instance/ColorModes.h"
#include "instance/Errors.h"

namespace {

// A record the caller sized: non-null and at least as large as this version's.
template <typename Record>
bool Sized(const Record* record) {
    return record != nullptr && record->size >= sizeof(Record);
}

}  // namespace

ZELVIK_API const char* ZelvikLib_KernelForms(void) { return zelvik::HostKernelForms().c_str(); }

ZELVIK_API const char* ZelvikLib_ErrorName(int code) {
    const zelvik::ErrorInfo* e = zelvik::FindError(code);
    return e ? e->name : nullptr;
}

ZELVIK_API const char* ZelvikLib_ErrorText(int code) {
    const zelvik::ErrorInfo* e = zelvik::FindError(code);
    return e ? e->message : nullptr;
}

ZELVIK_API int ZelvikLib_FilterInfo(int index, ZelvikFilterInfo* info) {
    const zelvik::FilterValueInfo* f = zelvik::FindFilterValue(index);
    if (f == nullptr || !Sized(info)) return 0;
    const bool checked = f->RangeChecked();
    info->index = f->index;
    info->rangeChecked = checked ? 1 : 0;
    info->min = checked ? f->min : 0;
    info->max = checked ? f->max : 0;
    info->name = f->exportName;
    info->toolName = f->toolName;
    return 1;
}

ZELVIK_API int ZelvikLib_ColorMode(int n, ZelvikColorModeInfo* info) {
    const zelvik::ColorModeInfo* m = zelvik::FindColorMode(n);
    if (m == nullptr || !Sized(info)) return 0;
    const int bitsPerSample = m->Wide() ? 16 : 8;
    info->bits = m->bits;
    info->reportedDepth = m->reportedDepth;
    info->color = m->color ? 1 : 0;
    info->samplesPerPixel = m->bits / bitsPerSample;
    info->bitsPerSample = bitsPerSample;
    return 1;
}

ZELVIK_API int ZelvikLib_SensorInfo(ZelvikSensorInfo* info) {
    if (!Sized(info)) return 0;
    info->width = zelvik::sensor::kWidth;
    info->height = zelvik::sensor::kHeight;
    info->minWidth = zelvik::sensor::kMinWidth;
    info->minHeight = zelvik::sensor::kMinHeight;
    return 1;
}

ZELVIK_API double ZelvikLib_LinePeriodUs(int width, int subsample) {
    return static_cast<double>(zelvik::sensor::LineClocks(width, subsample)) / zelvik::sensor::kPixelClockMHz;
}
