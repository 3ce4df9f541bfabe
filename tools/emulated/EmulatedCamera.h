// The tools' built-in emulated camera: the emulator's firmware model running inside the process, handed
// to the library through its ZelvikDisk_Initialize export. The tool's own; it uses no library insides.
#pragma once

#include "ZelvikSdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new camera handle, like Zelvik_Initialize, whose cameras are `cameras` (1..4) emulated cameras
   running in this process instead of the attached ones. The emulated cameras live until the process
   ends. 0 when out of memory or when `cameras` is out of range. */
int ZelvikEmulated_Initialize(ZELVIK_HWND notifyWindow, int cameras);

#ifdef __cplusplus
}
#endif
