// The tools' built-in emulated camera: the firmware model running inside the process, reached through an
// ordinary camera handle. This is the one place a tool touches the library's insides; every other line of
// the tools uses the public header only.
#pragma once

#include "ZelvikSdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new camera handle, like Zelvik_Initialize, whose cameras are `cameras` (1..4) emulated cameras
   running in this process instead of the attached ones. The emulated cameras live until the process
   ends. 0 when out of memory or when `cameras` is out of range. */
int ZelvikEmulated_Initialize(ZELVIK_HWND notifyWindow, int cameras);

/* The symbolic name ("ZELVIK_ERR_NO_CAMERA") and the message ("camera not present") of an error code
   the library reports; null for a code it never reports. */
const char* ZelvikEmulated_ErrorName(int code);
const char* ZelvikEmulated_ErrorMessage(int code);

/* The tool's name of filter value `index` ("brightness" for 1 ... "gray-offset-b" for 27), from the
   library's filter-value table; null outside 1..27. */
const char* ZelvikEmulated_FilterName(int index);
/* The range of values filter value `index` accepts; 0 outside 1..27. */
int ZelvikEmulated_FilterRange(int index, int* min, int* max);

#ifdef __cplusplus
}
#endif
