// The zelvik tool run as a program: exit codes, messages and JSON output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FakeSystemRoot.h"
#include "tests/support/FuseEmulator.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
    int exitCode = -1;
    std::string out, err;
    json Json() const { return json::parse(out); }
    // The last line of the output as JSON (stream prints one object per line).
    json LastLine() const {
        std::istringstream in(out);
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty()) last = line;
        return json::parse(last);
    }
};

std::string Slurp(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh settings home and a system root for each test; the tool runs with ZELVIK_ROOT set to `root`.
class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        dir_ = scratch_.path();
        root_ = dir_ / "empty-root";
        fs::create_directories(root_);
        fs::create_directories(dir_ / "config");
    }
    void TearDown() override {
        emulator_.reset();
    }

    // The shell command that runs the tool with `arguments`, its output into `name`.out and `name`.err;
    // `environment` is prepended ("NAME='value' ...").
    std::string Command(const std::string& arguments, const std::string& environment, const std::string& name) const {
        return environment + " ZELVIK_ROOT='" + root_.string() + "' XDG_CONFIG_HOME='" + (dir_ / "config").string() +
               "' exec '" ZELVIK_TOOL_PATH "' " + arguments + " >'" + (dir_ / (name + ".out")).string() + "' 2>'" +
               (dir_ / (name + ".err")).string() + "' </dev/null";
    }
    Result Collect(int status, const std::string& name) const {
        Result r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Slurp(dir_ / (name + ".out"));
        r.err = Slurp(dir_ / (name + ".err"));
        return r;
    }

    // Runs the tool with `arguments`; `environment` is prepended to the command ("NAME='value' ...").
    Result Run(const std::string& arguments, const std::string& environment = "") const {
        return Collect(std::system(Command(arguments, environment, "run").c_str()), "run");
    }

    // Starts the tool in the background; Finish collects it. The process is the tool itself, so a signal
    // sent to it reaches the tool.
    pid_t Start(const std::string& arguments, const std::string& environment = "") const {
        const std::string command = Command(arguments, environment, "started");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    // Waits (bounded) until the started tool has printed `text` on standard output; false if it ended or
    // did not print it in time.
    bool WaitForOutput(pid_t pid, const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Slurp(dir_ / "started.out").find(text) != std::string::npos) return true;
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    Result Finish(pid_t pid) const {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return Collect(status, "started");
    }

#ifdef ZELVIK_EMULATOR_PATH
    // Mounts the FUSE emulator with `options` and makes it the system root; false (test skipped) without FUSE.
    bool Mount(std::vector<std::string> options) {
        const std::string unavailable = zelvik::test::FuseEmulator::Unavailable();
        if (!unavailable.empty()) return false;
        emulator_.emplace(ZELVIK_EMULATOR_PATH, std::move(options),
                          [](const std::string& fault) { ADD_FAILURE() << fault; });
        EXPECT_TRUE(emulator_->Ready()) << emulator_->Error();
        root_ = emulator_->Root();
        return emulator_->Ready();
    }
#endif

    zelvik::test::TempDir scratch_{"zelvik-tool"};
    fs::path dir_, root_;
    std::optional<zelvik::test::FuseEmulator> emulator_;
};

TEST_F(Tool, EveryCameraCommandSaysNoCameraAndExitsThree) {
    for (const char* command : {"list", "info", "get gamma", "get", "set gamma 100", "reg 0x20", "stream --frames 1",
                                "snap out.ppm", "--camera 2 info"}) {
        SCOPED_TRACE(command);
        const Result r = Run(command);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_NE(r.err.find("camera not present"), std::string::npos) << r.err;
    }
    const Result info = Run("--json info");
    EXPECT_EQ(info.exitCode, 3);
    EXPECT_EQ(info.Json()["error"]["code"], 2);
    const Result list = Run("--json list");
    EXPECT_EQ(list.exitCode, 3);
    EXPECT_EQ(list.Json()["cameras"].size(), 0u);
}

TEST_F(Tool, UsageErrorsExitTwoBeforeAnyCameraIsOpened) {
    for (const char* command : {"get no-such-setting", "set width 100", "frobnicate", "stream --subsample 3",
                                "--camera 0 list", "record x.mp4", "record x.avi --seconds 0", "record --seconds -1",
                                "--json preview", "demo --json"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Run(command).exitCode, 2);
    }
    const Result unknown = Run("frobnicate");
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("list, monitor, info, get, set"), std::string::npos) << unknown.err;
    // The options in front of a command may follow it.
    const Result after = Run("get gamma --emulated --json");
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.Json()["value"], 100);
    const Result help = Run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("3  no camera found"), std::string::npos) << help.out;
    // Options that need not be given show their defaults; a required value shows none.
    EXPECT_NE(Run("snap --help").out.find("=normal"), std::string::npos);
    EXPECT_NE(Run("--help").out.find("INT in [1 - 10]=1"), std::string::npos);
    EXPECT_EQ(Run("reg --help").out.find("INT="), std::string::npos);
}

TEST_F(Tool, VersionNamesTheToolAndTheLibraryWithoutACamera) {
    const Result version = Run("--version");
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, "zelvik " ZELVIK_VERSION ", library 1.46.5.25\n");
    const Result info = Run("--emulated info");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("library version    1.46.5.25 (19793177)\n"), std::string::npos) << info.out;
    const json j = Run("--emulated --json info").Json();
    EXPECT_EQ(j["library_version"], 19793177);
    EXPECT_EQ(j["library_version_text"], "1.46.5.25");
}

TEST_F(Tool, InfoAndGetAsJsonOnTheEmulatedCamera) {
    const Result info = Run("--emulated --json info");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const json j = info.Json();
    EXPECT_EQ(j["sensor"]["width"], 2592);
    EXPECT_EQ(j["sensor"]["height"], 1944);
    EXPECT_EQ(j["name"], "ZelvikQ77RX_01");
    EXPECT_EQ(j["settings"]["gamma"], 100);

    const Result all = Run("--emulated --json get");
    ASSERT_EQ(all.exitCode, 0) << all.err;
    for (const char* name : {"brightness", "gray-offset-b", "exposure", "exposure-us", "subsample", "color-mode",
                             "mirror-v", "auto-iris", "width"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(all.Json()[name].is_number_integer());
    }
}

// A value set by name reads back by name; a stored one lasts into the next run through the settings file.
TEST_F(Tool, SetThenGetByName) {
    struct Case {
        const char* name;
        int value;
        bool stored;
    };
    for (const Case& c : {Case{"gamma", 150, true}, Case{"brightness", -40, true}, Case{"gray-gain-g2", 77, true},
                          Case{"mirror-v", 1, true}, Case{"exposure", 2000, true}, Case{"auto-iris", 2, true},
                          Case{"mirror-h", 1, true}, Case{"color-gain-blue", 40, true}}) {
        SCOPED_TRACE(c.name);
        const Result set = Run(std::string("--emulated set ") + c.name + " " + std::to_string(c.value));
        ASSERT_EQ(set.exitCode, 0) << set.err;
        EXPECT_EQ(set.out, std::string(c.name) + " = " + std::to_string(c.value) + "\n");
        if (!c.stored) continue;
        const Result get = Run(std::string("--emulated --json get ") + c.name);
        ASSERT_EQ(get.exitCode, 0) << get.err;
        EXPECT_EQ(get.Json()["value"], c.value);
    }
}

// Every setting by name: a value out of range is refused before any camera is opened (the empty system
// root would give exit 3), with the range on stderr; what `get` prints, `set` accepts; a value the library
// keeps only for one program's handle, or only reads, is refused with where to set it instead.
TEST_F(Tool, EverySettingByName) {
    enum Kind { kRanged, kAnyValue, kHandleOnly, kReadOnly };
    struct Case {
        const char* name;
        Kind kind;
        int min, max;
        const char* says;  // what a refusal names
    };
    const Case cases[] = {
        {"brightness", kRanged, -255, 255, ""},       {"contrast", kRanged, -127, 127, ""},
        {"hue", kRanged, -360, 360, ""},              {"saturation", kRanged, -255, 255, ""},
        {"sharpness", kRanged, 0, 30, ""},            {"bayer-gain-rgb", kAnyValue, 0, 0, ""},
        {"bayer-gain-red", kRanged, 0, 200, ""},      {"bayer-gain-green", kRanged, 0, 200, ""},
        {"bayer-gain-blue", kRanged, 0, 200, ""},     {"bayer-gain-auto", kHandleOnly, 0, 0, "bayer-gain-red"},
        {"gamma", kRanged, 0, 200, ""},               {"bayer-mode", kRanged, 0, 3, ""},
        {"global-gain", kRanged, 0, 63, ""},          {"color-gain-red", kRanged, 0, 63, ""},
        {"color-gain-green1", kRanged, 0, 63, ""},    {"color-gain-green2", kRanged, 0, 63, ""},
        {"color-gain-blue", kRanged, 0, 63, ""},      {"exposure", kRanged, 0, 16383, ""},
        {"gray-mode", kRanged, 0, 2, ""},             {"gray-gain-r", kRanged, 0, 255, ""},
        {"gray-gain-g1", kRanged, 0, 255, ""},        {"gray-gain-g2", kRanged, 0, 255, ""},
        {"gray-gain-b", kRanged, 0, 255, ""},         {"gray-offset-r", kRanged, -255, 255, ""},
        {"gray-offset-g1", kRanged, -255, 255, ""},   {"gray-offset-g2", kRanged, -255, 255, ""},
        {"gray-offset-b", kRanged, -255, 255, ""},    {"exposure-us", kReadOnly, 0, 0, "can only be read"},
        {"auto-iris", kRanged, 0, 2, ""},             {"mirror-v", kRanged, 0, 1, ""},
        {"mirror-h", kRanged, 0, 1, ""},              {"subsample", kHandleOnly, 0, 0, "--subsample on stream"},
        {"color-mode", kHandleOnly, 0, 0, "--bits on snap"}, {"wait-time", kHandleOnly, 0, 0, "dialog camera"},
        {"width", kReadOnly, 0, 0, "can only be read"}, {"height", kReadOnly, 0, 0, "can only be read"},
    };
    const Result get = Run("--emulated --json get");
    ASSERT_EQ(get.exitCode, 0) << get.err;
    const json all = get.Json();
    std::set<std::string> shown, listed;
    for (const auto& [name, value] : all.items()) shown.insert(name);
    for (const Case& c : cases) listed.insert(c.name);
    EXPECT_EQ(shown, listed) << "every setting `get` shows has its case here";
    const std::string help = Run("get --help").out;
    EXPECT_EQ(help.find("0..0"), std::string::npos) << help;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        if (c.kind == kRanged) {
            const std::string range = std::to_string(c.min) + ".." + std::to_string(c.max);
            EXPECT_NE(help.find(name + std::string(20 - name.size(), ' ') + range), std::string::npos) << help;
            for (const int outside : {c.min - 1, c.max + 1}) {
                const Result r = Run("set " + name + " " + std::to_string(outside));
                EXPECT_EQ(r.exitCode, 2);
                EXPECT_NE(r.err.find(range), std::string::npos) << r.err;
            }
        }
        ASSERT_TRUE(all[name].is_number_integer());
        const std::string shownValue = std::to_string(all[name].get<int>());
        const Result set = Run("--emulated set " + name + " " + shownValue);
        if (c.kind == kRanged || c.kind == kAnyValue) {
            EXPECT_EQ(set.exitCode, 0) << set.err;
            EXPECT_EQ(set.out, name + " = " + shownValue + "\n");
        } else {
            EXPECT_EQ(set.exitCode, 2);
            EXPECT_NE(set.err.find(c.says), std::string::npos) << set.err;
        }
    }
}

// `reg` takes 16-bit addresses and values only, and reads a write back: a register that did not take the
// value (the sensor's chip number only reads) is said and exits 1.
TEST_F(Tool, RegChecksItsArgumentsAndReadsAWriteBack) {
    for (const char* command : {"reg 0x10000", "reg -1", "reg 65536", "reg 0x20 0x10000", "reg 0x20 -5", "reg 0x2g",
                                "reg 0x20 1.5"}) {
        SCOPED_TRACE(command);
        const Result r = Run(command);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("0 to 0xFFFF"), std::string::npos) << r.err;
    }
    const Result readOnly = Run("--emulated reg 0 5");
    EXPECT_EQ(readOnly.exitCode, 1);
    EXPECT_NE(readOnly.err.find("did not take 0x0005: it reads 0x1801"), std::string::npos) << readOnly.err;
    const Result written = Run("--emulated --json reg 0x20 0x8000");
    ASSERT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(written.Json()["address"], 0x20);
    EXPECT_EQ(written.Json()["value"], 0x8000);
    EXPECT_EQ(written.Json()["took"], true);
}

// Ctrl-C during `record` ends the recording with a finished file holding the frames the summary states.
TEST_F(Tool, CtrlCEndsARecordingWithAFinishedFile) {
    const fs::path avi = dir_ / "interrupted.avi";
    const pid_t pid = Start("--emulated record '" + avi.string() + "' --seconds 60 --subsample 2");
    ASSERT_GT(pid, 0);
    const bool recording = WaitForOutput(pid, "1 s: ");
    ::kill(pid, SIGINT);
    const Result r = Finish(pid);
    ASSERT_TRUE(recording) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("Ctrl-C ended the recording early; the file is finished"), std::string::npos) << r.err;
    unsigned written = 0;
    const size_t summary = r.out.find(avi.string() + ": ");
    ASSERT_NE(summary, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + summary + avi.string().size() + 2, "%u frames written", &written), 1);
    EXPECT_GT(written, 0u);
    FILE* probe = ::popen(("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                           "-of csv=p=0 '" + avi.string() + "' 2>&1").c_str(), "r");
    ASSERT_NE(probe, nullptr);
    char line[128] = "";
    const bool read = std::fgets(line, sizeof line, probe) != nullptr;
    ::pclose(probe);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::string(line), std::to_string(written) + "\n");
}

TEST_F(Tool, StreamStopsAfterTheFrameCountWithStatistics) {
    const Result r = Run("--emulated --json stream --frames 6 --subsample 2");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json summary = r.LastLine();
    EXPECT_EQ(summary["type"], "summary");
    EXPECT_EQ(summary["delivered"], 6);
    EXPECT_EQ(summary["errors"], 0);
    EXPECT_EQ(summary["width"], 648);
    // The library's own rate exists only after its first whole second: before it there is none, not 0.
    const json& processed = summary["processed_fps"];
    EXPECT_TRUE(processed.is_null() || processed.get<double>() > 0) << processed;
    // Where the stream's frames went: every frame processed was handed out (a frame message the queue
    // took; one may have come after the sixth, before the stop), and every frame read was processed or
    // lost at one stage, but for those the camera kept delivering into the ring while the stop ended the
    // capture thread first.
    const json& frames = summary["frames"];
    EXPECT_GE(frames["handed_out"].get<uint64_t>(), 6u);
    EXPECT_EQ(frames["processed"], frames["handed_out"]);
    EXPECT_EQ(frames["not_taken"], 0);
    const uint64_t accounted = frames["overwritten"].get<uint64_t>() + frames["dropped"].get<uint64_t>() +
                               frames["processed"].get<uint64_t>();
    EXPECT_GE(frames["read"].get<uint64_t>(), accounted);
}

#ifdef ZELVIK_EMULATOR_PATH

TEST_F(Tool, CommandsOnTheFuseEmulatorWithTwoCameras) {
    if (!Mount({"--cameras", "2", "--fps", "max"})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result list = Run("--json list");
    ASSERT_EQ(list.exitCode, 0) << list.err;
    ASSERT_EQ(list.Json()["cameras"].size(), 2u);
    EXPECT_EQ(list.Json()["cameras"][1]["name"], "ZelvikQ77RX_02");
    EXPECT_EQ(list.Json()["cameras"][1]["serial"], "Q77RX0002");
    const Result second = Run("--camera 2 --json info");
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.Json()["camera"], 2);
    EXPECT_EQ(second.Json()["serial"], "Q77RX0002");
    EXPECT_EQ(Run("--camera 3 info").exitCode, 3);
    const Result reg = Run("--camera 2 reg 0");
    EXPECT_EQ(reg.exitCode, 0) << reg.err;
    EXPECT_NE(reg.out.find("0x1801"), std::string::npos) << reg.out;
    // Each camera keeps its own stored exposure (register 9, line periods) and vertical mirror (register
    // 0x20, bit 15): set on the second camera, they reach its sensor in the next run and not the first's.
    ASSERT_EQ(Run("--camera 2 set exposure 2000").exitCode, 0);
    ASSERT_EQ(Run("--serial Q77RX0002 set mirror-v 1").exitCode, 0);
    EXPECT_NE(Run("--camera 2 reg 9").out.find("= 0x07D0"), std::string::npos);
    EXPECT_NE(Run("--serial Q77RX0002 reg 0x20").out.find("= 0x8"), std::string::npos);
    EXPECT_NE(Run("reg 9").out.find("= 0x044C"), std::string::npos) << "camera 1 keeps its stored exposure, 1100";
    EXPECT_NE(Run("--camera 1 reg 0x20").out.find("= 0x0000"), std::string::npos);
    EXPECT_EQ(Run("--serial Q77RX0009 info").exitCode, 3);
}

// Numbers are places among the cameras attached now, the serial stays the camera's: after every fault the
// emulator can inject, `list`, --camera, --serial and a plain command agree on which camera is which.
TEST_F(Tool, NumbersAndSerialsAgreeAfterEveryFault) {
    if (!Mount({"--cameras", "2", "--fps", "max"})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    // A register that tells the cameras apart: camera 2's exposure.
    ASSERT_EQ(Run("--serial Q77RX0002 set exposure 2000").exitCode, 0);
    auto exposureOf = [&](const std::string& choice) {
        const Result r = Run(choice + " --json get exposure");
        return r.exitCode == 0 ? r.Json()["value"].get<int>() : -r.exitCode;
    };
    auto serials = [&] {
        std::vector<std::string> out;
        const json list = Run("--json list").Json();
        for (const json& c : list["cameras"]) out.push_back(c["serial"]);
        return out;
    };
    struct Case {
        const char* fault;
        std::vector<std::string> listed;
        int plain;   // a command without a choice: camera 1 (-3: none answers)
        int second;  // --camera 2
    };
    const std::vector<Case> cases = {
        {"", {"Q77RX0001", "Q77RX0002"}, 1100, 2000},
        {"unplug 1", {"Q77RX0002"}, 2000, -3},
        {"replug 1", {"Q77RX0001", "Q77RX0002"}, 1100, 2000},
        {"unplug 2", {"Q77RX0001"}, 1100, -3},
        {"replug 2", {"Q77RX0001", "Q77RX0002"}, 1100, 2000},
        // Camera 1's identification sector no longer says camera: its number still means it, and it
        // does not answer; camera 2 keeps number 2.
        {"ident 1 model", {"Q77RX0001", "Q77RX0002"}, -3, 2000},
        {"ident 1 intact", {"Q77RX0001", "Q77RX0002"}, 1100, 2000},
    };
    for (const Case& c : cases) {
        if (*c.fault != '\0') {
            ASSERT_TRUE(emulator_->Control(c.fault)) << c.fault;
        }
        EXPECT_EQ(serials(), c.listed) << c.fault;
        EXPECT_EQ(exposureOf(""), c.plain) << c.fault;
        EXPECT_EQ(exposureOf("--camera 2"), c.second) << c.fault;
        const bool secondAttached = c.listed.back() == "Q77RX0002";
        EXPECT_EQ(exposureOf("--serial Q77RX0002"), secondAttached ? 2000 : -3) << c.fault;
    }
}

json FindingOf(const json& doctor, const std::string& topic, const std::string& disk) {
    for (const json& f : doctor["findings"])
        if (f["topic"] == topic && f["disk"] == disk) return f;
    return json();
}

TEST_F(Tool, DoctorOnAUsb2PortBesideANonCameraDisk) {
    if (!Mount({"--usb-speed", "480", "--plain-disk", "SanDisk:Ultra Fit", "--fps", "max"}))
        GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result r = Run("--json doctor");
    EXPECT_EQ(r.exitCode, 4) << r.err;
    const json j = r.Json();
    EXPECT_EQ(j["problems"], 1);
    const json usb = FindingOf(j, "usb", "sdb");
    EXPECT_EQ(usb["verdict"], "problem");
    EXPECT_NE(usb["text"].get<std::string>().find("480"), std::string::npos);
    EXPECT_FALSE(usb["fix"].get<std::string>().empty());
    const json plain = FindingOf(j, "disk", "sdc");
    EXPECT_EQ(plain["verdict"], "ok");
    EXPECT_NE(plain["text"].get<std::string>().find("not a camera"), std::string::npos);
    EXPECT_EQ(j["disks"][1]["identification"], "no camera signature");
    EXPECT_EQ(FindingOf(j, "queue", "sdb")["verdict"], "ok");
    EXPECT_EQ(FindingOf(j, "read", "")["verdict"], "ok");
}

// The disk's identity names the camera, but its identification sector does not answer as one: doctor
// gives both reasons and the library finds no camera.
TEST_F(Tool, DoctorGivesBothReasonsWhenTheIdentificationDisagrees) {
    if (!Mount({"--fps", "max"})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    struct Case {
        const char* fault;
        const char* says;
    };
    for (const Case& c : {Case{"ident 1 model", "model bytes 50 03"}, Case{"ident 1 signature", "no camera signature"}}) {
        SCOPED_TRACE(c.fault);
        std::ofstream(emulator_->Path("control")) << c.fault << "\n";
        const Result r = Run("--json doctor");
        EXPECT_EQ(r.exitCode, 4) << r.err;
        const json disk = FindingOf(r.Json(), "disk", "sdb");
        EXPECT_EQ(disk["verdict"], "problem");
        const std::string text = disk["text"];
        EXPECT_NE(text.find("its identity names the Q77RX"), std::string::npos) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(Run("info").exitCode, 3);
    }
}

// doctor judges a disk's identity by the library's rule on the whole identity string: a serial with "DS"
// in it (another product line's) makes no camera, for doctor as for `list`.
TEST_F(Tool, DoctorJudgesTheWholeIdentityAsTheLibraryDoes) {
    zelvik::test::FakeSystemRoot fake(root_);
    fake.AddDisk("sdb", true, "MOVANE", "USB3.0 Q77RX", "Q77RX0001", true, std::string(1, '\0'));
    fake.AddDisk("sdc", true, "MOVANE", "USB3.0 Q77RX", "DS000002", true, std::string(1, '\0'));
    const Result list = Run("--json list");
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.Json()["cameras"].size(), 1u);
    const json disks = Run("--json doctor").Json()["disks"];
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0]["identity_names_camera"], true);
    EXPECT_EQ(disks[1]["identity_names_camera"], false);
    EXPECT_EQ(disks[1]["answers_as_camera"], true);  // its sector is a camera's all the same
}

TEST_F(Tool, DoctorFindsNothingWrongOnAUsb3Port) {
    if (!Mount({"--fps", "max"})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result r = Run("doctor");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("USB link 5000 Mbit/s"), std::string::npos) << r.out;
    // At full size the sensor's read-out, not the link, sets the rate: 1992 lines of 36.5 us.
    EXPECT_NE(r.out.find("2592x1944 13.7 fps (sensor read-out; the link allows 69)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the sensor reads out at most 13.7 fps"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("problem"), std::string::npos) << r.out;
}

// After its emulator was killed the mount point answers ENOTCONN: doctor says what it is and how to clear it.
TEST_F(Tool, DoctorRecognisesTheStaleMountOfAKilledEmulator) {
    if (!Mount({})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    ::kill(emulator_->Pid(), SIGKILL);
    struct stat st {};
    for (int i = 0; i < 200 && ::stat(root_.c_str(), &st) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Result r = Run("--json doctor");
    EXPECT_EQ(r.exitCode, 4) << r.err;
    const json finding = FindingOf(r.Json(), "system", "");
    EXPECT_NE(finding["text"].get<std::string>().find("stale FUSE mount"), std::string::npos) << finding;
    EXPECT_EQ(finding["fix"].get<std::string>().rfind("fusermount3 -u " + root_.string(), 0), 0u) << finding;
    emulator_->Stop();  // the killed emulator's status is this test's doing; Stop detaches the mount
}

#ifdef ZELVIK_HAVE_DIALOGS
// Ctrl-C while a dialog is open acts as Cancel: the analog settings go back to the sensor. The vertical
// mirror, turned on under the dialog behind the library's back (no other program may open the camera
// meanwhile), shows it: the undo writes the stored "off".
TEST_F(Tool, CtrlCInADialogCancelsItAndWritesTheUndo) {
    if (!Mount({"--fps", "max"})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const pid_t pid = Start("dialog analog", "QT_QPA_PLATFORM=offscreen");
    ASSERT_GT(pid, 0);
    const bool open = WaitForOutput(pid, "analog dialog open");
    const bool mirrored = emulator_->Control("register 1 0x20 0x8000");
    const std::string before = emulator_->Status();
    ::kill(pid, SIGINT);
    const Result r = Finish(pid);
    ASSERT_TRUE(open) << r.out << r.err;
    EXPECT_TRUE(mirrored);
    EXPECT_NE(before.find("mirror on"), std::string::npos) << before;
    EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("the dialog was cancelled and its changes undone"), std::string::npos) << r.out;
    EXPECT_NE(emulator_->Status().find("mirror off"), std::string::npos) << emulator_->Status();
}
#endif

// A session recorded on one camera, replayed by the FUSE emulator, gives the same picture.
TEST_F(Tool, ASnapshotFromAReplayedSessionIsTheRecordedOne) {
    const fs::path session = dir_ / "camera.session";
    const Result recorded = Run("--emulated snap '" + (dir_ / "recorded.ppm").string() + "' --subsample 1",
                                "ZELVIK_RECORD_SESSION='" + session.string() + "'");
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
    if (!Mount({"--replay", session.string()})) GTEST_SKIP() << "SKIPPED: FUSE is not available here";
    const Result replayed = Run("snap '" + (dir_ / "replayed.ppm").string() + "' --subsample 1");
    ASSERT_EQ(replayed.exitCode, 0) << replayed.err;
    const std::string picture = Slurp(dir_ / "recorded.ppm");
    EXPECT_GT(picture.size(), 1296u * 972u * 3u);
    EXPECT_TRUE(Slurp(dir_ / "replayed.ppm") == picture);
    // Each program that opens the replayed camera finds it as the recorded program did.
    const Result again = Run("snap '" + (dir_ / "again.ppm").string() + "' --subsample 1");
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(Slurp(dir_ / "again.ppm") == picture);
}

#endif

TEST_F(Tool, DoctorWithoutAnyUsbDiskSaysSoAndExitsFour) {
    const Result r = Run("--json doctor");
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.Json()["findings"][0]["verdict"], "problem");
}

}  // namespace
