// Extension exports that describe the library build itself rather than a camera.
#include "imaging/Kernels.h"
#include "include/ZelvikSdk.h"

ZELVIK_API const char* ZelvikLib_KernelForms(void) { return zelvik::HostKernelForms().c_str(); }
