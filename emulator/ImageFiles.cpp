// Reading the emulator's scene files: PNG (through libpng), binary PPM (P6) and binary PGM (P5).
#include "emulator/ImageFiles.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace zelvik::emu {
namespace {

// The largest picture accepted, so that a corrupt header cannot ask for gigabytes.
constexpr uint64_t kMaxPixels = 64ull << 20;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

// Parses a binary PNM header ("P5" or "P6", width, height, maximum value, comments allowed) and returns
// the offset of the first sample, or 0 when the header is malformed.
size_t ParsePnmHeader(const std::vector<uint8_t>& bytes, char kind, int* width, int* height, int* maxValue) {
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != static_cast<uint8_t>(kind)) return 0;
    size_t pos = 2;
    long values[3] = {0, 0, 0};
    for (long& value : values) {
        for (;;) {  // white space and comments
            if (pos >= bytes.size()) return 0;
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (std::isspace(bytes[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        if (!std::isdigit(bytes[pos])) return 0;
        while (pos < bytes.size() && std::isdigit(bytes[pos])) {
            value = value * 10 + (bytes[pos] - '0');
            if (value > 1000000) return 0;
            ++pos;
        }
    }
    // Exactly one white-space byte separates the header from the samples.
    if (pos >= bytes.size() || !std::isspace(bytes[pos])) return 0;
    ++pos;
    if (values[0] <= 0 || values[1] <= 0 || values[2] <= 0 || values[2] > 65535) return 0;
    if (static_cast<uint64_t>(values[0]) * static_cast<uint64_t>(values[1]) > kMaxPixels) return 0;
    *width = static_cast<int>(values[0]);
    *height = static_cast<int>(values[1]);
    *maxValue = static_cast<int>(values[2]);
    return pos;
}

bool LoadPnm(const std::string& path, char kind, bool eightBitOnly, Image* image, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes, error)) return false;
    int width = 0, height = 0, maxValue = 0;
    const size_t start = ParsePnmHeader(bytes, kind, &width, &height, &maxValue);
    if (start == 0) {
        *error = path + ": not a binary P" + std::string(1, kind) + " file";
        return false;
    }
    if (eightBitOnly && maxValue > 255) {
        *error = path + ": samples wider than 8 bits";
        return false;
    }
    const int channels = kind == '6' ? 3 : 1;
    const int bytesPerSample = maxValue > 255 ? 2 : 1;
    const size_t samples = static_cast<size_t>(width) * height * channels;
    if (bytes.size() - start < samples * bytesPerSample) {
        *error = path + ": the file ends before its last sample";
        return false;
    }
    image->width = width;
    image->height = height;
    image->channels = channels;
    image->pixels.resize(samples);
    const uint8_t* in = bytes.data() + start;
    if (bytesPerSample == 1) {
        std::memcpy(image->pixels.data(), in, samples);
    } else {
        for (size_t i = 0; i < samples; ++i) {
            const unsigned value = (in[2 * i] << 8) | in[2 * i + 1];
            image->pixels[i] = static_cast<uint8_t>(std::min<unsigned>(value, maxValue) * 255u / maxValue);
        }
    }
    return true;
}

bool LoadPng(const std::string& path, Image* image, std::string* error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        *error = path + ": " + png.message;
        return false;
    }
    if (static_cast<uint64_t>(png.width) * png.height > kMaxPixels) {
        png_image_free(&png);
        *error = path + ": picture too large";
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->channels = 3;
    image->pixels.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr)) {
        *error = path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace

bool LoadColourImage(const std::string& path, Image* image, std::string* error) {
    unsigned char magic[8] = {};
    {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            *error = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
        file.read(reinterpret_cast<char*>(magic), sizeof magic);
    }
    if (png_sig_cmp(magic, 0, sizeof magic) == 0) return LoadPng(path, image, error);
    return LoadPnm(path, '6', false, image, error);
}

bool LoadGrayImage(const std::string& path, Image* image, std::string* error) {
    return LoadPnm(path, '5', true, image, error);
}

bool SaveGrayImage(const std::string& path, const Image& image) {
    if (image.channels != 1 || image.pixels.size() != static_cast<size_t>(image.width) * image.height) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) return false;
    if (std::fprintf(file.get(), "P5\n%d %d\n255\n", image.width, image.height) < 0) return false;
    return std::fwrite(image.pixels.data(), 1, image.pixels.size(), file.get()) == image.pixels.size();
}

}  // namespace zelvik::emu
