// The pixel memory a preview window shows.
#pragma once

#include <cstdint>

namespace zelvik {

// 32 bits per pixel (blue, green, red, one unused byte), memory row 0 at the top of the window, rows
// stride bytes apart.
struct ScreenImage {
    uint8_t* pixels = nullptr;
    uint32_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace zelvik
