// Setting and reading the indexed filter values by their table (settings/FilterValueTable.h).
#pragma once

#include "settings/FilterValueTable.h"

namespace zelvik {

class CameraInstance;

// 1 stored; 0 with error 9 (index outside 1..27, value outside its range). Needs the device.
int SetFilterValue(CameraInstance& camera, int index, int value);
// The value with *ok = 1; 0 with *ok = 0 and error 9 on failure. Needs the device.
int GetFilterValue(CameraInstance& camera, int index, int* ok);

}  // namespace zelvik
