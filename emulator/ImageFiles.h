// Reading the emulator's scene files: PNG (through libpng), binary PPM (P6) and binary PGM (P5).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvik::emu {

// Pixels row by row without padding: 3 bytes (R, G, B) per pixel for colour, 1 for gray.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

// A colour picture from a PNG (any colour type, converted to 8-bit RGB) or a binary PPM (P6; a maximum
// value above 255 is scaled to 8 bits). False and a message when the file cannot be read.
bool LoadColourImage(const std::string& path, Image* image, std::string* error);

// An 8-bit binary PGM (P5, maximum value at most 255); the samples are kept as they stand.
bool LoadGrayImage(const std::string& path, Image* image, std::string* error);

// Writes an 8-bit binary PGM (tests and fixtures). False when the file cannot be written.
bool SaveGrayImage(const std::string& path, const Image& image);

}  // namespace zelvik::emu
