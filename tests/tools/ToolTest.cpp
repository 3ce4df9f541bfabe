// The zelvik tool run as a program: exit codes, messages and JSON output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
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

    // Runs the tool with `arguments`; `environment` is prepended to the command ("NAME='value' ...").
    Result Run(const std::string& arguments, const std::string& environment = "") const {
        const fs::path out = dir_ / "out", err = dir_ / "err";
        const std::string command = environment + " ZELVIK_ROOT='" + root_.string() + "' XDG_CONFIG_HOME='" + (dir_ / "config").string() +
                                    "' '" ZELVIK_TOOL_PATH "' " + arguments + " >'" + out.string() + "' 2>'" +
                                    err.string() + "' </dev/null";
        const int status = std::system(command.c_str());
        Result r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
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
                                "--camera 0 list"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Run(command).exitCode, 2);
    }
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
                          Case{"mirror-v", 1, true}, Case{"exposure", 2000, true}, Case{"subsample", 2, false},
                          Case{"color-mode", 32, false}}) {
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
    EXPECT_EQ(r.out.find("problem"), std::string::npos) << r.out;
}

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
