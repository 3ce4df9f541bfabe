// Session files: a camera session recorded by the library and replayed by the emulator answers the same,
// and a broken session file is refused with a message.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "api/Exports.h"
#include "device/CameraDevice.h"
#include "emulator/EmulatedDisks.h"
#include "emulator/Scene.h"
#include "emulator/SessionReplay.h"
#include "include/ZelvikSdk.h"
#include "instance/CameraInstance.h"
#include "platform/SessionFile.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void Store(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// What a program saw of the camera: register answers and three snapshots.
struct Observed {
    std::vector<int> registers;
    std::vector<std::vector<uint8_t>> frames;
};

Observed Observe(DiskSystem& disks) {
    Observed seen;
    const ZELVIK_HWND notify = ZelvikMsg_CreateQueue();
    const int h = InitializeHandle([&](CameraInstance& c) { return c.InitializeWith(notify, CreateCameraDevice(disks)); });
    int ok = 0;
    seen.registers.push_back(Zelvik_ReadRegisterEx(h, 0, &ok));
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Zelvik_WriteRegisterEx(h, 0x2B, 0x0123), 1);
    seen.registers.push_back(Zelvik_ReadRegisterEx(h, 0x2B, &ok));
    seen.registers.push_back(Zelvik_ReadRegisterEx(h, 0x09, &ok));
    EXPECT_EQ(Zelvik_SetSubSample(h, 2), 1);
    EXPECT_EQ(Zelvik_SetColorMode(h, 24), 1);
    const int size = ((Zelvik_Width(h) / 4 * 3 + 3) & ~3) * (Zelvik_Height(h) / 4);
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> frame(static_cast<size_t>(size));
        EXPECT_EQ(Zelvik_SnapShot(h, frame.data(), size, 1), 1);
        seen.frames.push_back(std::move(frame));
    }
    Zelvik_Release(h);
    ZelvikMsg_DestroyQueue(notify);
    return seen;
}

// A session recorded on an emulated camera of each register protocol, then replayed in its place.
class SessionReplay : public ::testing::TestWithParam<emu::Protocol> {};

TEST_P(SessionReplay, AnswersAsTheRecordedCameraByteForByte) {
    test::TestEnvironment env;
    const fs::path session = env.dir() / "camera.session";
    ::setenv("ZELVIK_RECORD_SESSION", session.c_str(), 1);
    emu::FirmwareOptions options;
    options.paced = false;
    options.protocol = GetParam();
    options.scene = emu::MovingScene();
    emu::EmulatedDisks camera(1, options);
    const Observed recorded = Observe(camera);
    ::unsetenv("ZELVIK_RECORD_SESSION");
    ASSERT_EQ(recorded.registers[1], 0x0123);
    // A moving scene, so that a replay that repeated or reordered frames would not compare equal.
    ASSERT_FALSE(recorded.frames[0] == recorded.frames[1]);
    std::string error;
    std::shared_ptr<emu::SessionReplay> replay = emu::SessionReplay::Load(session, &error);
    ASSERT_TRUE(replay) << error;
    emu::ReplayDisks replayed(replay);
    const Observed again = Observe(replayed);
    EXPECT_EQ(again.registers, recorded.registers);
    ASSERT_EQ(again.frames.size(), recorded.frames.size());
    for (size_t i = 0; i < recorded.frames.size(); ++i) EXPECT_TRUE(again.frames[i] == recorded.frames[i]) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Protocols, SessionReplay, ::testing::Values(emu::Protocol::Word, emu::Protocol::Byte),
                         [](const auto& info) { return info.param == emu::Protocol::Word ? "Word" : "Byte"; });

// A session written directly: a read of the identification sector, a command and a frame read.
class SessionFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = env_.dir() / "s.session";
        SessionWriter writer(file_.string(), 1 << 20);
        ASSERT_TRUE(writer.Ok());
        std::vector<uint8_t> sector(512, 0x11), command(512, 0), frame(4096, 0x5A);
        command[0] = 0x10;
        writer.Append(SessionRecord::kRead, 0x20000, sector.data(), sector.size());
        writer.Append(SessionRecord::kWrite, 0x20200, command.data(), command.size());
        writer.Append(SessionRecord::kRead, 0x20400, frame.data(), frame.size());
    }
    test::TestEnvironment env_;
    fs::path file_;
};

TEST_F(SessionFileTest, AnswersAFrameReadAfterItsCommandOnly) {
    std::string error;
    auto replay = emu::SessionReplay::Load(file_.string(), &error);
    ASSERT_TRUE(replay) << error;
    std::vector<uint8_t> buffer(4096), command(512, 0);
    command[0] = 0x10;
    // Without the command before it, the frame read is not the recorded one.
    replay->Read(0x20400, buffer.data(), buffer.size());
    EXPECT_EQ(buffer, std::vector<uint8_t>(4096, 0));
    replay->Write(0x20200, command.data(), command.size());
    // A transfer the kernel split in pieces, served by several threads: the pieces may come in any order.
    replay->Read(0x20400 + 1024, buffer.data() + 1024, 3072);
    replay->Read(0x20400, buffer.data(), 1024);
    EXPECT_EQ(buffer, std::vector<uint8_t>(4096, 0x5A));
    // A command the recording never saw has no recorded answer.
    std::vector<uint8_t> unknown(512, 0);
    unknown[0] = 0x21;
    replay->Write(0x20200, unknown.data(), unknown.size());
    replay->Read(0x20400, buffer.data(), buffer.size());
    EXPECT_EQ(buffer, std::vector<uint8_t>(4096, 0));
}

TEST_F(SessionFileTest, BrokenFilesAreRefusedWithAMessage) {
    const std::vector<uint8_t> good = Bytes(file_);
    const size_t firstData = kSessionHeaderSize + kSessionRecordHeaderSize;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"empty", [](auto& b) { b.clear(); }, "too short"},
        {"foreign", [](auto& b) { b[0] = 'X'; }, "not a camera session"},
        {"newer version", [](auto& b) { b[8] = 2; }, "version 2"},
        {"cut inside a record header", [](auto& b) { b.resize(kSessionHeaderSize + 20); }, "truncated"},
        {"cut inside data", [](auto& b) { b.resize(b.size() - 3); }, "record 3 is truncated"},
        {"flipped data byte", [&](auto& b) { b[firstData + 7] ^= 1; }, "record 1 is damaged (checksum)"},
        {"huge length", [](auto& b) { b[kSessionHeaderSize + 7] = 0xFF; }, "damaged"},
        {"unknown kind", [](auto& b) { b[kSessionHeaderSize] = 7; }, "damaged"},
        {"no records", [](auto& b) { b.resize(kSessionHeaderSize); }, "no transfers"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        const fs::path broken = env_.dir() / "broken.session";
        Store(broken, bytes);
        std::string error;
        EXPECT_FALSE(emu::SessionReplay::Load(broken.string(), &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_NE(error.find(broken.string()), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(emu::SessionReplay::Load((env_.dir() / "missing").string(), &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST_F(SessionFileTest, TheSizeLimitKeepsTheFileComplete) {
    const fs::path limited = env_.dir() / "limited.session";
    {
        SessionWriter writer(limited.string(), kSessionHeaderSize + 2 * (kSessionRecordHeaderSize + 512));
        std::vector<uint8_t> sector(512, 1);
        for (int i = 0; i < 5; ++i) writer.Append(SessionRecord::kRead, 0x20000, sector.data(), sector.size());
        EXPECT_TRUE(writer.Full());
    }
    std::vector<SessionRecord> records;
    std::string error;
    ASSERT_TRUE(ReadSessionFile(limited.string(), &records, &error)) << error;
    EXPECT_EQ(records.size(), 2u);
}

#ifdef ZELVIK_EMULATOR_PATH
TEST_F(SessionFileTest, TheEmulatorRefusesATruncatedSessionBeforeMounting) {
    std::vector<uint8_t> bytes = Bytes(file_);
    bytes.resize(bytes.size() - 100);
    Store(file_, bytes);
    const fs::path err = env_.dir() / "err";
    const std::string command = std::string("'") + ZELVIK_EMULATOR_PATH + "' --replay '" + file_.string() + "' '" +
                                env_.root().string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(err);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("record 3 is truncated"), std::string::npos) << text;
}
#endif

}  // namespace
}  // namespace zelvik
