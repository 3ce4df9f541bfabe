// zelvik-emulator: presents emulated cameras as USB disks of a system root mounted through FUSE.
#define FUSE_USE_VERSION 312
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CliDocs.h"

#include "emulator/EmulatedDisks.h"
#include "emulator/RegisterMap.h"
#include "emulator/SessionReplay.h"
#include "emulator/SysfsTree.h"

namespace zelvik::emu {
namespace {

// An open disk node: the firmware and the plug generation it was opened in (null for a plain disk).
struct OpenDisk {
    std::shared_ptr<Firmware> firmware;
    uint64_t generation = 0;
    bool locked = false;  // this opening holds the node's lock (flock)
};

struct Emulator {
    struct Layout {
        int cameraPortSpeed = 5000;
        std::vector<std::pair<std::string, std::string>> plainDisks;  // vendor, model
    };
    Emulator(int cameras, const FirmwareOptions& options, const Layout& layout)
        : disks(cameras, options), tree(Arranged(disks, layout).Disks()) {}
    static EmulatedDisks& Arranged(EmulatedDisks& disks, const Layout& layout) {
        disks.SetCameraPortSpeed(layout.cameraPortSpeed);
        int serial = 0;
        for (const auto& [vendor, model] : layout.plainDisks)
            disks.AddPlainDisk(vendor, model, "PLAIN" + std::to_string(++serial));
        return disks;
    }
    EmulatedDisks disks;
    SysfsTree tree;
    // With --replay: the recorded session answers every camera transfer instead of the firmware.
    std::unique_ptr<SessionReplay> replay;
    time_t started = std::time(nullptr);
    // Open disk handles; the kernel releases them, except those still open at unmount.
    std::mutex handlesMutex;
    std::map<const OpenDisk*, std::unique_ptr<OpenDisk>> handles;
};

Emulator& Self() {
    return *static_cast<Emulator*>(fuse_get_context()->private_data);
}

int CopyText(const std::string& text, char* buffer, size_t size, off_t offset) {
    if (offset < 0 || static_cast<size_t>(offset) >= text.size()) return 0;
    const size_t count = std::min(size, text.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, text.data() + offset, count);
    return static_cast<int>(count);
}

void* Init(fuse_conn_info*, fuse_config* config) {
    // No caching of names or attributes: an unplugged camera's entries must vanish at once.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    Emulator& self = Self();
    const TreeNode* node = self.tree.Find(path);
    if (!node) return -ENOENT;
    std::memset(st, 0, sizeof *st);
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_atime = st->st_mtime = st->st_ctime = self.started;
    st->st_nlink = 1;
    switch (node->kind) {
        case TreeNode::Kind::Directory:
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
            break;
        case TreeNode::Kind::File:
            st->st_mode = S_IFREG | 0444;
            st->st_size = static_cast<off_t>(node->content.size());
            break;
        case TreeNode::Kind::Symlink:
            st->st_mode = S_IFLNK | 0777;
            st->st_size = static_cast<off_t>(node->content.size());
            break;
        case TreeNode::Kind::Disk:
            st->st_mode = S_IFREG | 0660;
            st->st_size = static_cast<off_t>(kDiskSize);
            st->st_blksize = static_cast<blksize_t>(kSectorSize);
            break;
        case TreeNode::Kind::Control:
            st->st_mode = S_IFREG | 0660;
            break;
    }
    return 0;
}

int ReadLink(const char* path, char* buffer, size_t size) {
    const TreeNode* node = Self().tree.Find(path);
    if (!node) return -ENOENT;
    if (node->kind != TreeNode::Kind::Symlink) return -EINVAL;
    if (size == 0) return -EINVAL;
    const size_t count = std::min(size - 1, node->content.size());
    std::memcpy(buffer, node->content.data(), count);
    buffer[count] = '\0';
    return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    const SysfsTree& tree = Self().tree;
    const TreeNode* node = tree.Find(path);
    if (!node) return -ENOENT;
    if (node->kind != TreeNode::Kind::Directory) return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    const std::string prefix = std::string(path) == "/" ? "/" : std::string(path) + "/";
    for (const std::string& name : node->children) {
        if (tree.Find(prefix + name)) fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    Emulator& self = Self();
    const TreeNode* node = self.tree.Find(path);
    if (!node) return -ENOENT;
    switch (node->kind) {
        case TreeNode::Kind::Disk: {
            const EmulatedDisk& disk = self.tree.Disk(node->disk);
            auto handle = std::make_unique<OpenDisk>();
            if (disk.firmware) {
                handle->firmware = disk.firmware;
                handle->generation = disk.firmware->Generation();
                if (self.replay) self.replay->Rewind();
            }
            fi->fh = reinterpret_cast<uint64_t>(handle.get());
            std::lock_guard lock(self.handlesMutex);
            self.handles.emplace(handle.get(), std::move(handle));
            fi->direct_io = 1;  // every status read must reach the firmware
            return 0;
        }
        case TreeNode::Kind::Control:
            fi->direct_io = 1;
            return 0;
        case TreeNode::Kind::File:
            return (fi->flags & O_ACCMODE) == O_RDONLY ? 0 : -EACCES;
        default:
            return -EISDIR;
    }
}

int Release(const char*, fuse_file_info* fi) {
    if (fi->fh != 0) {
        Emulator& self = Self();
        std::lock_guard lock(self.handlesMutex);
        const auto* disk = reinterpret_cast<const OpenDisk*>(fi->fh);
        if (disk->locked) disk->firmware->Unclaim(disk->generation);
        self.handles.erase(disk);
        fi->fh = 0;
    }
    return 0;
}

// flock on a camera's node, served here rather than by the kernel so that it behaves as on a real disk
// node: a replugged camera is a new device whose lock a handle of the lost one does not hold. Shared and
// exclusive locks are both taken as the one lock of the node; a lock that is held is never waited for.
int Flock(const char*, fuse_file_info* fi, int op) {
    if (fi->fh == 0) return -EINVAL;
    Emulator& self = Self();
    std::lock_guard lock(self.handlesMutex);
    auto* disk = reinterpret_cast<OpenDisk*>(fi->fh);
    if (!disk->firmware) return 0;  // a plain disk: nothing is ever refused
    if ((op & LOCK_UN) != 0) {
        if (disk->locked) disk->firmware->Unclaim(disk->generation);
        disk->locked = false;
        return 0;
    }
    if (disk->locked) return 0;
    if (!disk->firmware->Claim(disk->generation)) return -EWOULDBLOCK;
    disk->locked = true;
    return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    Emulator& self = Self();
    if (fi->fh != 0) {
        const OpenDisk& disk = *reinterpret_cast<OpenDisk*>(fi->fh);
        if (offset < 0) return -EINVAL;
        if (static_cast<uint64_t>(offset) >= kDiskSize) return 0;
        const size_t count = std::min<uint64_t>(size, kDiskSize - static_cast<uint64_t>(offset));
        if (!disk.firmware) {
            std::memset(buffer, 0, count);
        } else if (self.replay) {
            self.replay->Read(static_cast<uint64_t>(offset), buffer, count);
        } else if (int rc = disk.firmware->Read(disk.generation, static_cast<uint64_t>(offset), buffer, count)) {
            return rc;
        }
        return static_cast<int>(count);
    }
    const TreeNode* node = self.tree.Find(path);
    if (!node) return -ENOENT;
    if (node->kind == TreeNode::Kind::Control) return CopyText(self.disks.Status(), buffer, size, offset);
    return CopyText(node->content, buffer, size, offset);
}

int Write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    Emulator& self = Self();
    if (fi->fh != 0) {
        const OpenDisk& disk = *reinterpret_cast<OpenDisk*>(fi->fh);
        if (offset < 0) return -EINVAL;
        if (static_cast<uint64_t>(offset) >= kDiskSize) return -ENOSPC;
        const size_t count = std::min<uint64_t>(size, kDiskSize - static_cast<uint64_t>(offset));
        if (disk.firmware && self.replay) {
            self.replay->Write(static_cast<uint64_t>(offset), buffer, count);
        } else if (disk.firmware) {
            if (int rc = disk.firmware->Write(disk.generation, static_cast<uint64_t>(offset), buffer, count)) return rc;
        }
        return static_cast<int>(count);
    }
    const TreeNode* node = self.tree.Find(path);
    if (!node) return -ENOENT;
    if (node->kind != TreeNode::Kind::Control) return -EACCES;
    std::string error;
    if (!self.disks.Control(std::string_view(buffer, size), &error)) {
        std::fprintf(stderr, "zelvik-emulator: control: %s\n", error.c_str());
        return -EINVAL;
    }
    return static_cast<int>(size);
}

int Truncate(const char* path, off_t, fuse_file_info*) {
    // "echo ... > control" truncates first; the disks keep their size.
    const TreeNode* node = Self().tree.Find(path);
    if (!node) return -ENOENT;
    return node->kind == TreeNode::Kind::Control || node->kind == TreeNode::Kind::Disk ? 0 : -EACCES;
}

// Owners of the FUSE handles, released in reverse order of acquisition.
struct FuseArgs {
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    ~FuseArgs() { fuse_opt_free_args(&args); }
};
struct FuseInstance {
    fuse* handle = nullptr;
    ~FuseInstance() {
        if (handle) fuse_destroy(handle);
    }
};
struct FuseMount {
    fuse* handle = nullptr;
    ~FuseMount() {
        if (handle) fuse_unmount(handle);
    }
};
struct SignalHandlers {
    fuse_session* session = nullptr;
    ~SignalHandlers() {
        if (session) fuse_remove_signal_handlers(session);
    }
};
struct LoopConfig {
    fuse_loop_config* config = fuse_loop_cfg_create();
    ~LoopConfig() { fuse_loop_cfg_destroy(config); }
};

// "max" or a rate above 0.
std::string CheckFps(const std::string& text) {
    if (text == "max") return {};
    char* end = nullptr;
    const double fps = std::strtod(text.c_str(), &end);
    return *end == '\0' && fps > 0 && fps <= 100000 ? std::string() : "a rate above 0 or 'max'";
}

std::string CheckPlainDisk(const std::string& text) {
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && colon > 0 && colon + 1 < text.size() ? std::string() : "VENDOR:MODEL";
}

// Why the emulator must not mount on `mountpoint`, or empty. FUSE would stack a second mount on top of a
// served one (two emulators, programs seeing only the newer) and cannot mount on a stale one (its server
// gone, every access failing with ENOTCONN).
std::string MountPointProblem(const std::string& mountpoint) {
    struct stat here {}, parent {};
    if (::stat(mountpoint.c_str(), &here) != 0) {
        if (errno == ENOTCONN)
            return mountpoint + " is a stale mount: the emulator that served it has ended; unmount it first with "
                                "`fusermount3 -u " + mountpoint + "`";
        return mountpoint + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(here.st_mode)) return mountpoint + " is not a directory";
    // A mount point lies on another device than the directory that holds it.
    if (::stat((mountpoint + "/..").c_str(), &parent) == 0 && parent.st_dev != here.st_dev)
        return mountpoint + " is already mounted (is another zelvik-emulator serving it?); use another directory or "
                            "unmount it first with `fusermount3 -u " + mountpoint + "`";
    return std::string();
}

int Run(int argc, char** argv) {
    int cameras = 1;
    FirmwareOptions options;
    Emulator::Layout layout;
    std::string protocol = "word", fps, scene, mosaic, replay, frameLogPath, mountpoint;
    std::vector<std::string> plainDisks, fuseOptionList;
    bool debug = false;

    CLI::App app{"Presents 1 to 4 emulated Zelvik Q77RX cameras through FUSE, as the USB disks of a system root "
                 "mounted at MOUNTPOINT; programs find them with ZELVIK_ROOT=MOUNTPOINT. Runs in the foreground "
                 "until SIGINT or SIGTERM, then unmounts."};
    app.footer("Faults: write commands to MOUNTPOINT/control, e.g. 'unplug 1', 'replug 1', 'stall 1 3',\n"
               "'unstall 1', 'mismatch 1 on', 'noready 1 on', 'ident 1 model', 'fps 1 30'; read it for status.\n"
               "Exit status: 0 after a clean unmount, 1 when a scene or session file cannot be read, the mount\n"
               "point is already mounted (or a stale mount) or the mount fails, 2 for a wrong command line.");
    app.set_version_flag("--version", "zelvik-emulator " ZELVIK_VERSION);
    app.add_option("-n,--cameras", cameras, "emulated cameras")->check(CLI::Range(1, 4));
    app.add_option("-p,--protocol", protocol, "register protocol")->check(CLI::IsMember({"word", "byte"}));
    app.add_option("-f,--fps", fps, "frames per second; 'max' for no pacing (default: the sensor timing)")
        ->check(CheckFps, "RATE");
    auto* sceneOption = app.add_option("-s,--scene", scene, "bars (default), moving, counter, or a PNG/PPM file");
    app.add_option("-m,--mosaic", mosaic, "an 8-bit binary PGM mosaic delivered as it stands")
        ->type_name("FILE")
        ->excludes(sceneOption);
    app.add_option("-u,--usb-speed", layout.cameraPortSpeed,
                   "link speed of the cameras' USB ports in Mbit/s (480 is USB 2)")
        ->check(CLI::Range(1, 100000));
    app.add_option("-r,--replay", replay,
                   "one camera that answers as the recorded session did (recorded with ZELVIK_RECORD_SESSION=SESSION)")
        ->type_name("SESSION");
    app.add_option("-P,--plain-disk", plainDisks,
                   "also attach a USB disk that is not a camera, vendor V, model M (up to 3)")
        ->check(CheckPlainDisk, "V:M")
        ->allow_extra_args(false);
    app.add_option("-l,--frame-log", frameLogPath,
                   "append a line per frame read: camera, frame number, ready time (ns)")
        ->type_name("FILE");
    app.add_option("-o", fuseOptionList, "mount options passed to FUSE (e.g. allow_other)")
        ->type_name("OPTIONS")
        ->allow_extra_args(false);
    app.add_flag("-d,--debug", debug, "FUSE debug output");
    app.add_option("MOUNTPOINT", mountpoint, "the directory the system root is mounted on")->required();
    zelvik_cli::ShowDefaults(app);
    zelvik_cli::AddDocumentationFlags(
        app, {"zelvik-emulator", ZELVIK_VERSION, "emulated Zelvik Q77RX cameras through FUSE", "NOTES", "zelvik(1)"});
    try {
        app.parse(argc, argv);
        if (plainDisks.size() > 3) throw CLI::ValidationError("--plain-disk", "at most 3 disks");
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (const std::string problem = MountPointProblem(mountpoint); !problem.empty()) {
        std::fprintf(stderr, "zelvik-emulator: %s\n", problem.c_str());
        return 1;
    }
    options.protocol = protocol == "byte" ? Protocol::Byte : Protocol::Word;
    if (fps == "max")
        options.paced = false;
    else if (!fps.empty())
        options.fps = std::strtod(fps.c_str(), nullptr);
    for (const std::string& disk : plainDisks) {
        const std::size_t colon = disk.find(':');
        layout.plainDisks.emplace_back(disk.substr(0, colon), disk.substr(colon + 1));
    }
    std::string fuseOptions;
    for (const std::string& o : fuseOptionList) fuseOptions += (fuseOptions.empty() ? "" : ",") + o;

    std::string error;
    if (!scene.empty()) options.scene = LoadScene(scene, &error);
    if (!mosaic.empty()) options.scene = LoadMosaic(mosaic, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "zelvik-emulator: %s\n", error.c_str());
        return 1;
    }

    std::unique_ptr<SessionReplay> session;
    if (!replay.empty()) {
        session = SessionReplay::Load(replay, &error);
        if (!session) {
            std::fprintf(stderr, "zelvik-emulator: cannot replay %s\n", error.c_str());
            return 1;
        }
        cameras = 1;
    }
    // Declared before the emulator, so that it is closed after the last firmware is gone.
    std::unique_ptr<FILE, int (*)(FILE*)> frameLog(nullptr, std::fclose);
    if (!frameLogPath.empty()) {
        frameLog.reset(std::fopen(frameLogPath.c_str(), "a"));
        if (!frameLog) {
            std::fprintf(stderr, "zelvik-emulator: cannot open %s: %s\n", frameLogPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    Emulator emulator(cameras, options, layout);
    emulator.replay = std::move(session);
    if (frameLog) {
        // One line per frame read, written at once (a reader may follow the file while frames come):
        // "CAMERA FRAME READY_NS", the ready time on CLOCK_MONOTONIC, the clock of steady_clock here.
        for (int i = 0; i < emulator.disks.CameraCount(); ++i) {
            emulator.disks.Camera(i).ObserveFrames(
                [file = frameLog.get(), camera = i + 1](uint64_t frame, std::chrono::steady_clock::time_point ready) {
                    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(ready.time_since_epoch());
                    std::fprintf(file, "%d %llu %lld\n", camera, static_cast<unsigned long long>(frame),
                                 static_cast<long long>(ns.count()));
                    std::fflush(file);
                });
        }
    }

    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readlink = ReadLink;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.release = Release;
    ops.flock = Flock;
    ops.read = Read;
    ops.write = Write;
    ops.truncate = Truncate;

    FuseArgs args;
    fuse_opt_add_arg(&args.args, argv[0]);
    fuse_opt_add_arg(&args.args, "-o");
    fuse_opt_add_arg(&args.args, ("fsname=zelvik-emulator" + (fuseOptions.empty() ? "" : "," + fuseOptions)).c_str());
    if (debug) fuse_opt_add_arg(&args.args, "-d");

    FuseInstance instance{fuse_new(&args.args, &ops, sizeof ops, &emulator)};
    if (!instance.handle) return 1;
    FuseMount mount;
    if (fuse_mount(instance.handle, mountpoint.c_str()) != 0) return 1;
    mount.handle = instance.handle;
    SignalHandlers signals;
    if (fuse_set_signal_handlers(fuse_get_session(instance.handle)) != 0) return 1;
    signals.session = fuse_get_session(instance.handle);

    const std::string picture = !mosaic.empty() ? "mosaic " + mosaic : "scene " + (scene.empty() ? "bars" : scene);
    std::printf("zelvik-emulator: %d camera%s (%s protocol, %s) at %s; faults through %s/control\n", cameras,
                cameras == 1 ? "" : "s", ProtocolName(options.protocol), picture.c_str(), mountpoint.c_str(),
                mountpoint.c_str());
    std::fflush(stdout);

    // Once the session is told to exit, end every wait in the firmware, so that a transfer stalled for
    // a long time cannot hold up the loop's end and the unmount.
    std::jthread watcher([&emulator, session = signals.session](std::stop_token stop) {
        while (!stop.stop_requested()) {
            if (fuse_session_exited(session)) {
                for (int i = 0; i < emulator.disks.CameraCount(); ++i) emulator.disks.Camera(i).Shutdown();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    LoopConfig loop;
    fuse_loop_cfg_set_max_threads(loop.config, 32);  // stalled transfers each hold a thread
    const int rc = fuse_loop_mt(instance.handle, loop.config);
    // The loop ends with 0, or with the number of the signal that asked it to stop; both are clean.
    return rc >= 0 ? 0 : 1;
}

}  // namespace
}  // namespace zelvik::emu

int main(int argc, char** argv) {
    return zelvik::emu::Run(argc, argv);
}
