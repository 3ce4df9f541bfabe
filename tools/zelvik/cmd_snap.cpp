// zelvik snap: one 24-bit picture written as PPM.
#include <cstdio>
#include <fstream>
#include <vector>

#include "Commands.h"

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

}  // namespace

int Snap(Camera& camera, const std::string& path, int subsample) {
    const int h = camera.handle();
    Zelvik_SetSubSample(h, subsample);
    Zelvik_SetColorMode(h, 24);
    const int width = Zelvik_Width(h) >> subsample, height = Zelvik_Height(h) >> subsample;
    std::vector<unsigned char> buffer(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    if (!Zelvik_SnapShot(h, buffer.data(), static_cast<int>(buffer.size()), 1)) return camera.ReportErrors("snap"), 1;
    if (!WritePpm(path, buffer, width, height)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("%d x %d picture written to %s\n", width, height, path.c_str());
    return 0;
}

namespace {

std::string path = "zelvik.ppm";
int subsample = 0;

void Add(CLI::App& app, Tool& tool) {
    auto* snap = app.add_subcommand("snap", "take one 24-bit picture and write it as PPM");
    snap->add_option("file", path, "output file");
    snap->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));
    tool.SetRunner(snap, Needs::Camera, [](Tool& t) { return Snap(t.camera(), path, subsample); });
}

const CommandRegistration registration(60, Add);

}  // namespace
}  // namespace zelvik_tool
