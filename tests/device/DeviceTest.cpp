// The model device's sensor programming: window and subsampling, mirror, gains, exposure, sizes, timeout.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "tests/device/FakeCamera.h"

namespace zelvik::test {
namespace {

struct Format {
    int x, y, width, height, subsample;
};

std::ostream& operator<<(std::ostream& out, const Format& f) {
    return out << "(" << f.x << ", " << f.y << ", " << f.width << ", " << f.height << ", " << f.subsample
               << ")";
}

class SensorTest : public ::testing::Test {
protected:
    void Build(bool wordProtocol = true) {
        FakeCameraDisk camera = FakeCameraDisk::Camera();
        camera.wordProtocol = wordProtocol;
        disks.identities = {kCameraIdentity};
        disks.Attach(1, camera);
        device = std::make_unique<TestDevice>(disks);
        disks.ClearTransfers();
    }
    uint16_t Register(int address) {
        return disks.Inspect(1, [&](FakeCameraDisk& d) { return d.registers[address]; });
    }
    uint16_t BytePair(int address) {
        return disks.Inspect(1, [&](FakeCameraDisk& d) {
            return static_cast<uint16_t>(d.byteRegisters[address] << 8 | d.byteRegisters[address + 1]);
        });
    }
    // Word registers in the order their values were written (the address phase of each write).
    std::vector<int> WrittenRegisters() {
        std::vector<int> written;
        for (const Transfer& t : disks.Transfers()) {
            if (t.write && t.head[0] == protocol::kRegisterWrite &&
                t.head[1] == protocol::kWordAddressPhase) {
                const int address = t.head[2] << 8 | t.head[3];
                if (written.empty() || written.back() != address) written.push_back(address);
            }
        }
        return written;
    }
    Format Current() {
        Format f{};
        device->GetFormat(&f.x, &f.y, &f.width, &f.height, &f.subsample);
        return f;
    }

    FakeDisks disks;
    std::unique_ptr<TestDevice> device;
};

TEST_F(SensorTest, SetFormatAcceptsWindowsInsideTheSensorOnly) {
    struct Case {
        Format format;
        int result;  // 0 accepted, 1 rejected
    };
    const std::vector<Case> cases = {
        {{0, 0, 2592, 1944, 0}, 0},   {{2588, 1941, 4, 3, 3}, 0}, {{100, 200, 640, 480, 2}, 0},
        {{1, 0, 2592, 1944, 0}, 1},   {{0, 1, 2592, 1944, 0}, 1}, {{0, 0, 2592, 1944, 4}, 1},
        {{0, 0, 2592, 1944, -1}, 1},  {{0, 0, 3, 3, 0}, 1},       {{0, 0, 4, 2, 0}, 1},
        {{-1, 0, 4, 3, 0}, 1},        {{0, -1, 4, 3, 0}, 1},      {{INT_MAX, 0, 4, 3, 0}, 1},
        {{0, 100, 4, INT_MAX, 0}, 1},
    };
    for (const Case& c : cases) {
        Build();
        const Format& f = c.format;
        EXPECT_EQ(device->SetFormat(f.x, f.y, f.width, f.height, f.subsample),
                  c.result == 0 ? DeviceResult::Done : DeviceResult::Failed)
            << f;
        if (c.result != 0) {
            EXPECT_TRUE(disks.Transfers().empty()) << f;
            const Format unchanged = Current();
            EXPECT_EQ(unchanged.width, 2592);
            EXPECT_EQ(unchanged.height, 1944);
            continue;
        }
        const Format stored = Current();
        EXPECT_EQ(stored.x, f.x);
        EXPECT_EQ(stored.y, f.y);
        EXPECT_EQ(stored.width, f.width);
        EXPECT_EQ(stored.height, f.height);
        EXPECT_EQ(stored.subsample, f.subsample);
        EXPECT_EQ(WrittenRegisters(), (std::vector<int>{1, 2, 3, 4, 5, 6, 0x22, 0x23})) << f;
        EXPECT_EQ(Register(1), f.y + 54);
        EXPECT_EQ(Register(2), f.x + 16);
        EXPECT_EQ(Register(3), f.height - 1);
        EXPECT_EQ(Register(4), f.width - 1);
        EXPECT_EQ(Register(5), 42);
        EXPECT_EQ(Register(6), 48);
        EXPECT_EQ(device->verifyWrites.load(), 0);
    }
}

TEST_F(SensorTest, SubsampleReplacesSkipAndBinningBitsOnly) {
    const uint16_t skip[] = {0, 1, 3, 7};
    for (int s = 0; s <= 3; ++s) {
        Build();
        disks.Change(1, [](FakeCameraDisk& d) {
            d.registers[0x22] = 0xFFFF;
            d.registers[0x23] = 0x0F40;
        });
        ASSERT_EQ(device->SetFormat(0, 0, 2592, 1944, s), DeviceResult::Done);
        EXPECT_EQ(Register(0x22), 0xFFC8 | skip[s]) << "subsample " << s;
        EXPECT_EQ(Register(0x23), 0x0F40 | skip[s]) << "subsample " << s;
    }
}

TEST_F(SensorTest, FormatSizes) {
    struct Case {
        Format format;
        int frameBytes, transferSize, imageSize;
    };
    const std::vector<Case> cases = {
        {{0, 0, 2592, 1944, 0}, 5038848, 5039104, 5038848},
        {{0, 0, 2592, 1944, 1}, 1259712, 1260032, 1259712},
        {{0, 0, 2592, 1944, 3}, 78732, 78848, 78732},
        {{0, 0, 5, 3, 0}, 15, 512, 24},  // rows padded to four bytes in the image size only
        {{0, 0, 512, 4, 0}, 2048, 2048, 2048},
    };
    Build(false);  // byte protocol: no read-back waits
    for (const Case& c : cases) {
        const Format& f = c.format;
        ASSERT_EQ(device->SetFormat(f.x, f.y, f.width, f.height, f.subsample), DeviceResult::Done) << f;
        EXPECT_EQ(device->GetFrameBytes(), c.frameBytes) << f;
        EXPECT_EQ(device->GetTransferSize(), c.transferSize) << f;
        EXPECT_EQ(device->GetImageSize(), c.imageSize) << f;
    }
}

TEST_F(SensorTest, GainsAndExposureAreClampedAsTheSensorTakesThem) {
    struct Case {
        std::string call;
        std::function<DeviceResult(CameraDevice&)> set;
        int reg;  // -1: nothing may be written
        int written;
        bool done;
    };
    using sensor::GainSite;
    const std::vector<Case> cases = {
        {"color G1 (0x2B) 200", [](CameraDevice& d) { return d.SetColorGain(GainSite::Green1, 200); }, 0x2B, 127, true},
        {"color B (0x2C) 65616", [](CameraDevice& d) { return d.SetColorGain(GainSite::Blue, 65616); }, 0x2C, 80, true},
        {"color R (0x2D) 127", [](CameraDevice& d) { return d.SetColorGain(GainSite::Red, 127); }, 0x2D, 127, true},
        {"color G2 (0x2E) -1", [](CameraDevice& d) { return d.SetColorGain(GainSite::Green2, -1); }, 0x2E, 127, true},
        {"color of no site", [](CameraDevice& d) { return d.SetColorGain(static_cast<GainSite>(4), 5); }, -1, 0, false},
        {"global 100", [](CameraDevice& d) { return d.SetGlobalGain(100); }, 0x35, 63, true},
        {"global 63", [](CameraDevice& d) { return d.SetGlobalGain(63); }, 0x35, 63, true},
        {"exposure 0", [](CameraDevice& d) { return d.SetExposure(0); }, 9, 1, true},
        {"exposure 70000", [](CameraDevice& d) { return d.SetExposure(70000); }, 9, 70000 & 0xFFFF, true},
    };
    for (const Case& c : cases) {
        Build();
        EXPECT_EQ(Succeeded(c.set(*device)), c.done) << c.call;
        if (c.reg < 0) {
            EXPECT_TRUE(disks.Transfers().empty()) << c.call;
        } else {
            EXPECT_EQ(WrittenRegisters(), std::vector<int>{c.reg}) << c.call;
            EXPECT_EQ(Register(c.reg), c.written) << c.call;
        }
    }
}

TEST_F(SensorTest, ByteProtocolColorGainsUseTheirRegisterPairs) {
    using sensor::GainSite;
    const GainSite site[] = {GainSite::Green1, GainSite::Blue, GainSite::Red, GainSite::Green2};
    const int pair[] = {0x26, 0x28, 0x2A, 0x2C};
    for (int i = 0; i < 4; ++i) {
        Build(false);
        EXPECT_TRUE(Succeeded(device->SetColorGain(site[i], 300)));
        const auto high = static_cast<uint8_t>(pair[i]), low = static_cast<uint8_t>(pair[i] + 1);
        EXPECT_EQ(disks.Transfers(),
                  (std::vector<Transfer>{Command(1, protocol::kRegisterWrite, 0, high, 0),
                                         Command(1, protocol::kRegisterWrite, 0, low, 127)}));
        EXPECT_EQ(BytePair(pair[i]), 127);
    }
}

TEST_F(SensorTest, VerticalMirrorIsBit15OfTheReadMode) {
    Build();
    disks.Change(1, [](FakeCameraDisk& d) { d.registers[0x20] = 0x0123; });
    EXPECT_EQ(device->SetMirrorV(1), DeviceResult::Done);
    EXPECT_EQ(Register(0x20), 0x8123);
    disks.Change(1, [](FakeCameraDisk& d) { d.registers[0x20] = 0x7FFF; });
    EXPECT_EQ(device->GetMirrorV(), 0) << "the query reads the sensor";
    disks.Change(1, [](FakeCameraDisk& d) { d.registers[0x20] = 0xFFFF; });
    EXPECT_EQ(device->SetMirrorV(0), DeviceResult::Done);
    EXPECT_EQ(Register(0x20), 0x7FFF);
    EXPECT_EQ(device->GetMirrorV(), 0);
    disks.Change(1, [](FakeCameraDisk& d) { d.unplugged = true; });
    EXPECT_EQ(device->SetMirrorV(1), DeviceResult::Done) << "reports done even when the register write failed";
    EXPECT_EQ(device->GetMirrorV(), 1) << "a failed read keeps the last state";
}

TEST(DeviceSettings, TimeoutAcceptsOneToTenThousand) {
    FakeDisks disks;
    Q77RXDevice device(disks);
    EXPECT_EQ(device.GetTimeout(), 3000);
    for (const auto& [value, kept] : std::vector<std::pair<int, int>>{
             {0, 3000}, {-5, 3000}, {10001, 3000}, {12000, 3000}, {10000, 10000}, {1, 1}}) {
        Q77RXDevice fresh(disks);
        fresh.SetTimeout(value);
        EXPECT_EQ(fresh.GetTimeout(), kept) << value;
    }
}

}  // namespace
}  // namespace zelvik::test
