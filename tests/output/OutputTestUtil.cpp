// Independent readers for the files the output writers produce, and the disk-limiting fixtures.
#include "OutputTestUtil.h"

#include <csetjmp>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>
#include <png.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <tiffio.h>

namespace zelvik::test {

namespace {
Decoded DecodePngFrom(FILE* f) {
    Decoded d;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Decoded{};
    }
    png_init_io(png, f);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    d.width = static_cast<int>(png_get_image_width(png, info));
    d.height = static_cast<int>(png_get_image_height(png, info));
    d.channels = png_get_channels(png, info);
    d.bitDepth = png_get_bit_depth(png, info);
    d.colourType = png_get_color_type(png, info);
    png_bytepp rows = png_get_rows(png, info);
    for (int r = 0; r < d.height; ++r)
        for (int i = 0; i < d.width * d.channels; ++i)
            d.samples.push_back(d.bitDepth == 16 ? (rows[r][2 * i] << 8 | rows[r][2 * i + 1]) : rows[r][i]);
    png_destroy_read_struct(&png, &info, nullptr);
    return d;
}
}  // namespace

Decoded DecodePng(const std::filesystem::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Decoded{};
    Decoded d = DecodePngFrom(f);
    std::fclose(f);
    return d;
}

Decoded DecodeTiff(const std::filesystem::path& path) {
    Decoded d;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) return d;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, spp = 0, photometric = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    d.width = int(width), d.height = int(height), d.channels = spp, d.bitDepth = bits, d.photometric = photometric;
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tiff)));
    for (uint32_t r = 0; r < height; ++r) {
        if (TIFFReadScanline(tiff, line.data(), r, 0) != 1) break;
        for (uint32_t i = 0; i < width * spp; ++i) {
            uint16_t w = line[i];
            if (bits == 16) std::memcpy(&w, line.data() + 2 * i, 2);
            d.samples.push_back(w);
        }
    }
    TIFFClose(tiff);
    return d;
}

namespace {
struct JpegReadError {
    jpeg_error_mgr standard;
    jmp_buf jump;
};
[[noreturn]] void LeaveDecoder(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegReadError*>(cinfo->err)->jump, 1); }

Decoded DecodeJpegFrom(FILE* f) {
    Decoded d;
    jpeg_decompress_struct cinfo;
    JpegReadError errors;
    cinfo.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = LeaveDecoder;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Decoded{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    d.progressive = cinfo.progressive_mode;
    d.lumaQuant0 = cinfo.quant_tbl_ptrs[0] ? cinfo.quant_tbl_ptrs[0]->quantval[0] : 0;
    jpeg_start_decompress(&cinfo);
    d.width = int(cinfo.output_width), d.height = int(cinfo.output_height);
    d.channels = cinfo.output_components, d.bitDepth = 8;
    std::vector<uint8_t> row(static_cast<size_t>(d.width) * d.channels);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW p = row.data();
        jpeg_read_scanlines(&cinfo, &p, 1);
        d.samples.insert(d.samples.end(), row.begin(), row.end());
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return d;
}
}  // namespace

Decoded DecodeJpeg(const std::filesystem::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Decoded{};
    Decoded d = DecodeJpegFrom(f);
    std::fclose(f);
    return d;
}

namespace {
std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}
std::string Quoted(const std::filesystem::path& p) {
    // Appended piece by piece: GCC 12's -Wrestrict misreads "'" + string + "'" in release builds.
    std::string quoted;
    quoted.reserve(p.native().size() + 2);
    quoted.push_back('\'');
    quoted.append(p.native());
    quoted.push_back('\'');
    return quoted;
}
}  // namespace

std::string ProbeVideo(const std::filesystem::path& path) {
    std::string out = Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                          "stream=width,height,nb_read_frames -of csv=p=0 " + Quoted(path) + " 2>&1");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::vector<uint8_t> DecodeVideoBgr(const std::filesystem::path& path) {
    const std::string out = Run("ffmpeg -v error -i " + Quoted(path) + " -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    return {out.begin(), out.end()};
}

SmallDisk::SmallDisk(size_t bytes, bool readOnly) : dir_("zelvik-disk") {
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
    if (!mounted_) why_ = std::string("mounting a tmpfs: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);  // before dir_ removes the mount point
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    previous_ = limit.rlim_cur;
    // Past the limit the system sends SIGXFSZ, whose default ends the process; ignored, writes fail
    // with EFBIG instead, as on a full disk.
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = previous_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler_);
}

}  // namespace zelvik::test
