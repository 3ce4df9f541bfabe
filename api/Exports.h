// Internal entry points beside the C exports, for the library's own tools and tests.
#pragma once

#include <functional>

#include "include/ZelvikSdk.h"

namespace zelvik {

class CameraInstance;

// Zelvik_Initialize with a chosen initialisation step (for example an instance on the in-process
// emulator): registers a new instance, runs init on it under the handle's call lock, returns the handle.
int InitializeHandle(const std::function<int(CameraInstance&)>& init);

struct HandleEntry;
// The same with the whole entry at hand, for an initialisation that gives the handle more than its
// instance (its own disks).
int InitializeEntry(const std::function<int(HandleEntry&)>& init);

}  // namespace zelvik
