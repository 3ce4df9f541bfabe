// Reading a handle's error stack in tests.
#pragma once

#include <vector>

#include "include/ZelvikSdk.h"

namespace zelvik::test {

// Pops the whole error stack (its twenty entries), newest first, up to the last non-zero code; a zero
// before that is a real code (ZELVIK_ERR_AUTO_IRIS_OFF).
inline std::vector<int> PopErrors(int handle) {
    std::vector<int> codes;
    for (int i = 0; i < 20; ++i) codes.push_back(Zelvik_GetLastError(handle));
    while (!codes.empty() && codes.back() == 0) codes.pop_back();
    return codes;
}

// Empties the error stack so a test sees only its own codes.
inline void DrainErrors(int handle) { PopErrors(handle); }

}  // namespace zelvik::test
