// zelvik doctor: why a camera is or is not found, and what limits its frame rate. Reads the system root
// ($ZELVIK_ROOT, default /) the way the library does, but only reads: nothing is written to any disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "device/CameraIdentity.h"
#include "device/Sensor.h"
#include "platform/UsbIdentity.h"

namespace zelvik_tool {
namespace {

namespace fs = std::filesystem;

// Which disks are cameras, by the library's own rules (device/CameraIdentity.h).
namespace identity = zelvik::identity;
constexpr int kSensorWidth = zelvik::sensor::kWidth, kSensorHeight = zelvik::sensor::kHeight;
// Sustained throughput of a USB mass-storage read: about 350 MB/s on a 5000 Mbit/s link, 35 MB/s on USB 2.
constexpr double kUsb3BytesPerSecond = 350e6, kUsb2BytesPerSecond = 35e6;
// Lines of vertical blanking the library's capture setup gives every frame: a frame takes the window's
// rows plus these, or the exposure when that is longer, each one line period (ZelvikLib_LinePeriodUs).
constexpr int kVerticalBlankLines = 48;
constexpr char kRuleFix[] =
    "install the udev rule: sudo cp packaging/udev/70-zelvik-q77rx.rules /etc/udev/rules.d/ && "
    "sudo udevadm control --reload && sudo udevadm trigger; then add yourself to plugdev "
    "(sudo usermod -aG plugdev $USER) and log in again";

enum class Verdict { Ok, Warning, Problem };
const char* VerdictName(Verdict v) { return v == Verdict::Ok ? "ok" : v == Verdict::Warning ? "warning" : "problem"; }

struct Finding {
    Verdict verdict;
    std::string topic;  // "disk", "access", "usb", "queue", "rate", "read", "system"
    std::string disk;   // the disk it is about, or empty
    std::string text;
    std::string fix;    // what to do, for a warning or a problem
};

struct Disk {
    std::string name;
    std::string vendor, model, rev, serial;
    int drive = 0;           // 1..4, or 0 beyond the fourth USB disk
    bool identityNamesCamera = false;
    std::string identification;  // what the identification sector says, or why it was not read
    bool answersAsCamera = false;
    bool accessible = false;
    int speedMbps = 0;  // 0 when sysfs does not say
    int maxSectorsKb = 0, maxHwSectorsKb = 0;
};

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Trimmed(text);
}

int IntAttribute(const fs::path& file) { return std::atoi(Attribute(file).c_str()); }

// The nearest directory from `device` up to the USB root hub that holds `file`.
fs::path NearestWith(fs::path directory, const fs::path& root, const char* file) {
    std::error_code ec;
    while (directory.has_relative_path() && directory != root) {
        if (fs::exists(directory / file, ec)) return directory;
        directory = directory.parent_path();
    }
    return fs::path();
}

bool UnderUsb(const fs::path& device, const fs::path& root) {
    for (const fs::path& part : device.lexically_relative(root))
        if (part.string().rfind("usb", 0) == 0) return true;
    return false;
}

// Reads the identification sector read-only; fills what it says.
void ReadIdentification(Disk& disk, const fs::path& node) {
    // Direct I/O, as the library reads, so that the camera itself answers; a page-aligned buffer for it.
    struct alignas(4096) Sector {
        unsigned char bytes[identity::kIdentificationSize];
    };
    const auto sector = std::make_unique<Sector>();
    int fd = ::open(node.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);  // a file system without direct I/O
    if (fd < 0) {
        disk.identification = std::string("not read: ") + std::strerror(errno);
        return;
    }
    const ssize_t n = ::pread(fd, sector->bytes, sizeof sector->bytes, identity::kIdentificationOffset);
    const int readError = errno;
    ::close(fd);
    const unsigned char* bytes = sector->bytes;
    const unsigned a = bytes[identity::kModelIdAByte], b = bytes[identity::kModelIdBByte];
    char text[80];
    if (n != static_cast<ssize_t>(sizeof sector->bytes)) {
        disk.identification = n < 0 ? std::string("not read: ") + std::strerror(readError) : "not read: disk too small";
    } else if (std::memcmp(bytes, identity::kSignature, identity::kSignatureLength) != 0) {
        disk.identification = "no camera signature";
    } else if (!identity::IsIdentificationOf(bytes)) {
        std::snprintf(text, sizeof text, "camera signature, but model bytes %02X %02X (this model: %02X %02X)", a, b,
                      identity::kModelIdA, identity::kModelIdB);
        disk.identification = text;
    } else {
        std::snprintf(text, sizeof text, "\"%s\", model %02X %02X", identity::kSignature, a, b);
        disk.identification = text;
        disk.answersAsCamera = true;
    }
}

std::vector<Disk> ScanUsbDisks(const fs::path& root) {
    std::vector<Disk> disks;
    std::error_code ec;
    for (fs::directory_iterator it(root / "sys/block", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code entry;
        const fs::path device = fs::canonical(it->path() / "device", entry);
        if (entry || !UnderUsb(device, root) || fs::exists(it->path() / "partition", entry)) continue;
        Disk disk;
        disk.name = name;
        disk.vendor = Attribute(device / "vendor");
        disk.model = Attribute(device / "model");
        disk.rev = Attribute(device / "rev");
        if (const fs::path usb = NearestWith(device, root, "serial"); !usb.empty()) disk.serial = Attribute(usb / "serial");
        if (const fs::path usb = NearestWith(device, root, "speed"); !usb.empty())
            disk.speedMbps = IntAttribute(usb / "speed");
        disk.maxSectorsKb = IntAttribute(it->path() / "queue/max_sectors_kb");
        disk.maxHwSectorsKb = IntAttribute(it->path() / "queue/max_hw_sectors_kb");
        // The identity the library enumerates the disk by (a disk without a serial goes by its name).
        disk.identityNamesCamera = identity::IsCameraIdentity(
            zelvik::UsbDiskIdentity(disk.vendor, disk.model, disk.rev, disk.serial.empty() ? name : disk.serial));
        disks.push_back(disk);
    }
    std::sort(disks.begin(), disks.end(), [](const Disk& a, const Disk& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    constexpr size_t kDrives = identity::kLastDrive - identity::kFirstDrive + 1;
    for (size_t i = 0; i < disks.size() && i < kDrives; ++i) disks[i].drive = identity::kFirstDrive + static_cast<int>(i);
    for (Disk& disk : disks) {
        const fs::path node = root / "dev" / disk.name;
        disk.accessible = ::access(node.c_str(), R_OK | W_OK) == 0;
        if (disk.drive != 0) ReadIdentification(disk, node);
    }
    return disks;
}

// The system root, or its sys/block, when it is a FUSE mount whose server has gone (the kernel answers
// ENOTCONN, "Transport endpoint is not connected"); empty otherwise.
std::string StaleMount(const fs::path& root) {
    for (const fs::path& p : {root, root / "sys", root / "sys/block"}) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0 && errno == ENOTCONN) return p.string();
    }
    return std::string();
}

double LinkBytesPerSecond(int speedMbps) { return speedMbps >= 5000 ? kUsb3BytesPerSecond : kUsb2BytesPerSecond; }

// Frames per second the sensor reads out for a window of width x height sensor pixels at `subsample`
// with an exposure of exposureLines line periods (0: shorter than the read-out).
double SensorFps(int width, int height, int subsample, int exposureLines) {
    const int lines = std::max(zelvik::sensor::Subsampled(height, subsample) + kVerticalBlankLines, exposureLines);
    return 1e6 / (ZelvikLib_LinePeriodUs(width, subsample) * lines);
}

void CheckDisk(const Disk& d, std::vector<Finding>& out) {
    const std::string what = d.name + " (" + d.vendor + " " + d.model + (d.serial.empty() ? "" : ", " + d.serial) +
                             (d.drive ? ", drive " + std::to_string(d.drive) : ", beyond drive 4") + ")";
    const std::string identity = d.identityNamesCamera ? "its identity names the Q77RX" : "its identity is not a Q77RX's";
    if (d.drive == 0) {
        out.push_back({d.identityNamesCamera ? Verdict::Problem : Verdict::Ok, "disk", d.name,
                       what + ": not probed, only the first four USB disks are drives 1-4; " + identity,
                       d.identityNamesCamera ? "unplug other USB disks so that the camera is among the first four" : ""});
        return;
    }
    const bool camera = d.identityNamesCamera && d.answersAsCamera;
    if (!d.identityNamesCamera && !d.answersAsCamera) {
        out.push_back({Verdict::Ok, "disk", d.name, what + ": not a camera: " + identity + ", identification sector: " +
                                                        d.identification, ""});
        return;
    }
    if (camera) {
        out.push_back({Verdict::Ok, "disk", d.name, what + ": a camera: " + identity + ", identification sector: " +
                                                        d.identification, ""});
    } else if (d.identityNamesCamera && d.identification.rfind("not read", 0) == 0) {
        out.push_back({Verdict::Problem, "disk", d.name, what + ": " + identity + ", identification sector " +
                                                             d.identification, kRuleFix});
    } else {
        out.push_back({Verdict::Problem, "disk", d.name,
                       what + ": not taken for a camera: " + identity + ", identification sector: " + d.identification,
                       d.identityNamesCamera ? "replug the camera; if it stays so, it is not a Q77RX or its firmware is damaged"
                                             : "this disk answers as a camera but reports another identity: check the "
                                               "camera's USB bridge"});
    }
    if (!d.identityNamesCamera) return;
    if (d.accessible)
        out.push_back({Verdict::Ok, "access", d.name, "/dev/" + d.name + " can be read and written by this user", ""});
    else
        out.push_back({Verdict::Problem, "access", d.name, "/dev/" + d.name + " cannot be read and written by this user",
                       kRuleFix});
    if (d.speedMbps >= 5000)
        out.push_back({Verdict::Ok, "usb", d.name, "USB link " + std::to_string(d.speedMbps) + " Mbit/s", ""});
    else if (d.speedMbps > 0)
        out.push_back({Verdict::Problem, "usb", d.name,
                       "USB link " + std::to_string(d.speedMbps) + " Mbit/s: a USB 2 port, frames arrive about ten "
                       "times slower than on USB 3 (5000 Mbit/s)",
                       "plug the camera into a USB 3 port (often blue, marked SS) with a USB 3 cable"});
    else
        out.push_back({Verdict::Warning, "usb", d.name, "USB link speed unknown (no speed file in sysfs)",
                       "check the port with `lsusb -t` (5000M expected)"});
    if (d.maxSectorsKb > 0 && d.maxHwSectorsKb > d.maxSectorsKb)
        out.push_back({Verdict::Warning, "queue", d.name,
                       "max_sectors_kb " + std::to_string(d.maxSectorsKb) + " below max_hw_sectors_kb " +
                           std::to_string(d.maxHwSectorsKb) + ": a frame is split into more requests than needed",
                       "echo " + std::to_string(d.maxHwSectorsKb) + " | sudo tee /sys/block/" + d.name +
                           "/queue/max_sectors_kb (the udev rule does this)"});
    else if (d.maxSectorsKb > 0)
        out.push_back({Verdict::Ok, "queue", d.name,
                       "max_sectors_kb " + std::to_string(d.maxSectorsKb) + ", max_hw_sectors_kb " +
                           std::to_string(d.maxHwSectorsKb) + ": a full frame takes " +
                           std::to_string((kSensorWidth * kSensorHeight / 1024 + d.maxSectorsKb - 1) / d.maxSectorsKb) +
                           " requests",
                       ""});
    // A frame rate is the lower of what the sensor reads out and what the link carries.
    std::string rates = "expected at most";
    for (int s = 0; s <= 2; ++s) {
        const int w = kSensorWidth >> s, h = kSensorHeight >> s;
        const double link = LinkBytesPerSecond(d.speedMbps) / (static_cast<double>(w) * h);
        const double sensor = SensorFps(kSensorWidth, kSensorHeight, s, 0);
        char text[96];
        std::snprintf(text, sizeof text, "%s %dx%d %.1f fps (%s; the %s allows %.0f)", s ? "," : "", w, h,
                      std::min(link, sensor), sensor <= link ? "sensor read-out" : "link",
                      sensor <= link ? "link" : "sensor", std::max(link, sensor));
        rates += text;
    }
    out.push_back({Verdict::Ok, "rate", d.name, rates + "; an exposure longer than the read-out lowers them", ""});
}

// Streams a few full frames from the chosen camera through the library and times them.
void TimedRead(Tool& tool, std::vector<Finding>& out) {
    Camera& camera = tool.camera();
    const int h = camera.handle();
    while (Zelvik_GetLastError(h) != 0) {
    }
    if (h == 0 || !Zelvik_SetDeviceNumber(h, tool.options.camera - 1)) {
        while (Zelvik_GetLastError(h) != 0) {  // error 2, said here in words
        }
        out.push_back({Verdict::Problem, "read", "", "the library finds no camera " + std::to_string(tool.options.camera),
                       "see the findings above"});
        return;
    }
    Zelvik_SetSubSample(h, 0);
    Zelvik_SetColorMode(h, 8);
    int ok = 0;
    const int exposureUs = Zelvik_GetRealExposureTime(h, &ok);
    const int exposureLines = Zelvik_GetExposureTime(h, &ok);
    const double sensorFps = SensorFps(Zelvik_Width(h), Zelvik_Height(h), 0, exposureLines);
    std::vector<unsigned char> buffer(static_cast<size_t>((Zelvik_Width(h) + 3) & ~3) * Zelvik_Height(h));
    const ZELVIK_HWND frames = ZelvikMsg_CreateQueue();
    const auto start = std::chrono::steady_clock::now();
    int delivered = 0;
    if (Zelvik_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1) && Zelvik_StartPreview(h)) {
        ZelvikMessage m;
        while (delivered < 10 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5) &&
               ZelvikMsg_Get(frames, &m, 1000) >= 0)
            if (m.message == MSG_CAMERA_FRAME && m.lParam == 0) ++delivered;
        Zelvik_StopPreview(h);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ZelvikMsg_DestroyQueue(frames);
    while (Zelvik_GetLastError(h) != 0) {
    }
    char text[160];
    if (delivered == 0) {
        out.push_back({Verdict::Problem, "read", "", "no frame arrived within 5 s",
                       "replug the camera; run `zelvik stream` to see the errors"});
        return;
    }
    std::snprintf(text, sizeof text,
                  "timed read: %d frames of %dx%d in %.2f s, %.1f fps (the sensor reads out at most %.1f fps at "
                  "this window and exposure %d us)",
                  delivered, Zelvik_Width(h), Zelvik_Height(h), seconds, delivered / seconds, sensorFps, exposureUs);
    out.push_back({Verdict::Ok, "read", "", text, ""});
}

int Doctor(Tool& tool) {
    std::vector<Finding> findings;
    nlohmann::json disksJson = nlohmann::json::array();
    bool anyCamera = tool.options.emulated;
    if (tool.options.emulated) {
        findings.push_back({Verdict::Ok, "system", "", "the built-in emulated camera: no disks to examine", ""});
    } else {
        const char* env = std::getenv("ZELVIK_ROOT");
        const fs::path root = (env && *env) ? fs::path(env) : fs::path("/");
        const std::vector<Disk> disks = ScanUsbDisks(root);
        if (const std::string stale = StaleMount(root); !stale.empty())
            findings.push_back({Verdict::Problem, "system", "",
                                stale + " is a stale FUSE mount: the program that served it (zelvik-emulator) has ended",
                                "fusermount3 -u " + stale + " (then start the emulator again, or unset ZELVIK_ROOT)"});
        else if (disks.empty())
            findings.push_back({Verdict::Problem, "system", "",
                                "no USB disk under " + (root / "sys/block").string(),
                                "plug the camera in; `lsusb` and `dmesg` show whether the system sees it"});
        for (const Disk& d : disks) {
            CheckDisk(d, findings);
            anyCamera |= d.drive != 0 && d.identityNamesCamera && d.answersAsCamera;
            disksJson.push_back({{"name", d.name}, {"vendor", d.vendor}, {"model", d.model}, {"rev", d.rev},
                                 {"serial", d.serial}, {"drive", d.drive}, {"identity_names_camera", d.identityNamesCamera},
                                 {"identification", d.identification}, {"answers_as_camera", d.answersAsCamera},
                                 {"accessible", d.accessible}, {"usb_speed_mbps", d.speedMbps},
                                 {"max_sectors_kb", d.maxSectorsKb}, {"max_hw_sectors_kb", d.maxHwSectorsKb}});
        }
        if (!disks.empty() && !anyCamera)
            findings.push_back({Verdict::Problem, "system", "", "no camera among the USB disks",
                                "see the disks above; plug the camera in"});
    }
    if (anyCamera) TimedRead(tool, findings);

    int problems = 0;
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : findings) {
        problems += f.verdict == Verdict::Problem;
        list.push_back({{"verdict", VerdictName(f.verdict)}, {"topic", f.topic}, {"disk", f.disk}, {"text", f.text},
                        {"fix", f.fix}});
        if (!tool.options.json)
            std::printf("%-8s %-7s %s%s%s\n", VerdictName(f.verdict), f.topic.c_str(), f.text.c_str(),
                        f.fix.empty() ? "" : "; fix: ", f.fix.c_str());
    }
    if (tool.options.json) Tool::PrintJson({{"findings", list}, {"disks", disksJson}, {"problems", problems}});
    return problems ? kExitProblem : kExitOk;
}

void Add(CLI::App& app, Tool& tool) {
    tool.SetRunner(app.add_subcommand("doctor", "explain why a camera is or is not found, and what limits its rate"),
                   Needs::Nothing, Doctor);
}

const CommandRegistration registration(80, Add);

}  // namespace
}  // namespace zelvik_tool
