// zelvik snap: one picture in any colour mode, written by the library in the form the file's extension
// names (.bmp, .raw, .jpg/.jpeg, .png, .tif/.tiff), or as PPM by the tool for .ppm.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "Commands.h"
#include "device/Sensor.h"

namespace zelvik_tool {
namespace {

// Writes a 24-bit picture (blue, green, red rows, top row first) as a binary PPM.
bool WritePpm(const std::string& path, const std::vector<unsigned char>& bgr, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> row(width * 3);
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = bgr.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 3] = static_cast<char>(src[x * 3 + 2]);
            row[x * 3 + 1] = static_cast<char>(src[x * 3 + 1]);
            row[x * 3 + 2] = static_cast<char>(src[x * 3]);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return static_cast<bool>(out);
}

constexpr int kPpm = -1;

// The format code a file name's extension names: ZELVIK_FORMAT_*, kPpm, or -2 for none of them.
int FormatOf(const std::string& path, const std::string& quality) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -2;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "jpg" || ext == "jpeg")
        return quality == "high" ? ZELVIK_FORMAT_JPEG_HIGH
               : quality == "low" ? ZELVIK_FORMAT_JPEG_LOW
                                  : ZELVIK_FORMAT_JPEG_NORMAL;
    static const std::map<std::string, int> forms = {{"bmp", ZELVIK_FORMAT_BMP}, {"raw", ZELVIK_FORMAT_RAW},
                                                     {"png", ZELVIK_FORMAT_PNG}, {"tif", ZELVIK_FORMAT_TIFF},
                                                     {"tiff", ZELVIK_FORMAT_TIFF}, {"ppm", kPpm}};
    const auto it = forms.find(ext);
    return it == forms.end() ? -2 : it->second;
}

}  // namespace

int Snap(Camera& camera, const std::string& path, int subsample, int bits, const std::string& quality, bool json) {
    const int format = FormatOf(path, quality);
    if (format == -2) {
        std::fprintf(stderr, "snap: %s: the name must end in .bmp, .raw, .jpg, .jpeg, .png, .tif, .tiff or .ppm\n",
                     path.c_str());
        return 2;
    }
    if (format == kPpm && bits != 24) {
        std::fprintf(stderr, "snap: PPM files are written in 24-bit mode only\n");
        return 2;
    }
    const int h = camera.handle();
    Zelvik_SetSubSample(h, subsample);
    if (!Zelvik_SetColorMode(h, bits)) return camera.ReportErrors("snap"), 1;
    const int width = zelvik::sensor::Subsampled(Zelvik_Width(h), subsample);
    const int height = zelvik::sensor::Subsampled(Zelvik_Height(h), subsample);
    const int rowBytes = (width * (bits / 8) + 3) & ~3;
    std::vector<unsigned char> buffer(static_cast<size_t>(rowBytes) * height);
    if (!Zelvik_SnapShot(h, buffer.data(), static_cast<int>(buffer.size()), 1)) return camera.ReportErrors("snap"), 1;
    const bool written = format == kPpm ? WritePpm(path, buffer, width, height)
                                        : Zelvik_SaveImage(h, path.c_str(), format) == 1;
    if (!written) {
        camera.ReportErrors("snap");
        std::fprintf(stderr, "snap: cannot write %s\n", path.c_str());
        return 1;
    }
    if (json)
        Tool::PrintJson({{"file", path}, {"width", width}, {"height", height}, {"bits", bits}});
    else
        std::printf("%d x %d picture, %d bits per pixel, written to %s\n", width, height, bits, path.c_str());
    return 0;
}

namespace {

std::string path = "zelvik.png";
std::string quality = "normal";
int subsample = 0, bits = 24;

void Add(CLI::App& app, Tool& tool) {
    auto* snap = app.add_subcommand(
        "snap", "take one picture and write it in the form its extension names: .bmp, .raw, .jpg, .png, .tif (or .ppm)");
    snap->add_option("file", path, "output file");
    snap->add_option("--quality", quality, "JPEG quality: high (100), normal (70) or low (20)")
        ->check(CLI::IsMember({"high", "normal", "low"}));
    snap->add_option("--bits", bits, "colour mode: 8, 16, 24, 32, 48 or 64 bits per pixel")
        ->check(CLI::IsMember({8, 16, 24, 32, 48, 64}));
    snap->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));
    tool.SetRunner(snap, Needs::Camera, [](Tool& t) { return Snap(t.camera(), path, subsample, bits, quality, t.options.json); });
}

const CommandRegistration registration(60, Add);

}  // namespace
}  // namespace zelvik_tool
