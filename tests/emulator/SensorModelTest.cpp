// The emulator keeps its own model of the sensor; it must not drift from the library's (device/Sensor.h,
// device/CameraIdentity.h): the same size, line timing, registers and identification.
#include <gtest/gtest.h>

#include <string>

#include "device/CameraIdentity.h"
#include "device/Sensor.h"
#include "emulator/RegisterMap.h"

namespace zelvik::emu::test {
namespace {

TEST(SensorModel, TheEmulatorsSensorIsTheLibrarys) {
    const struct {
        const char* what;
        double library, emulator;
    } facts[] = {
        {"width", sensor::kWidth, kSensorWidth},
        {"height", sensor::kHeight, kSensorHeight},
        // The library's read-out counts the line at the blanking the sensor powers up with (and the device
        // writes): subsampled width + 916 clocks.
        {"line overhead in clocks", sensor::kLineOverheadClocks, kLineOverhead + kResetHorizontalBlank},
        {"pixel clock in MHz", sensor::kPixelClockMHz, kPixelClockHz / 1e6},
        {"row start register", sensor::kRowStartRegister, reg::kRowStart},
        {"column start register", sensor::kColumnStartRegister, reg::kColumnStart},
        {"row size register", sensor::kRowSizeRegister, reg::kRowSize},
        {"column size register", sensor::kColumnSizeRegister, reg::kColumnSize},
        {"horizontal blank register", sensor::kHorizontalBlankRegister, reg::kHorizontalBlank},
        {"vertical blank register", sensor::kVerticalBlankRegister, reg::kVerticalBlank},
        // The frame period the library judges lost frames by counts the blanking the sensor powers up with.
        {"vertical blank lines", sensor::kVerticalBlankLines, kResetVerticalBlank},
        {"exposure register", sensor::kExposureRegister, reg::kExposure},
        {"read mode register", sensor::kReadModeRegister, reg::kReadMode},
        {"vertical mirror bit", sensor::kMirrorVBit, kMirrorVerticalBit},
        {"row address mode register", sensor::kRowAddressModeRegister, reg::kRowMode},
        {"column address mode register", sensor::kColumnAddressModeRegister, reg::kColumnMode},
        {"global gain register", sensor::kGlobalGainRegister, reg::kGlobalGain},
        {"green 1 gain register", sensor::kColorGainRegisters[0], reg::kWordGainGreen1},
        {"blue gain register", sensor::kColorGainRegisters[1], reg::kWordGainBlue},
        {"red gain register", sensor::kColorGainRegisters[2], reg::kWordGainRed},
        {"green 2 gain register", sensor::kColorGainRegisters[3], reg::kWordGainGreen2},
        {"green 1 gain byte pair", sensor::kColorGainBytePairs[0], reg::kByteGainGreen1},
        {"blue gain byte pair", sensor::kColorGainBytePairs[1], reg::kByteGainBlue},
        {"red gain byte pair", sensor::kColorGainBytePairs[2], reg::kByteGainRed},
        {"green 2 gain byte pair", sensor::kColorGainBytePairs[3], reg::kByteGainGreen2},
        {"model byte A", identity::kModelIdA, kModelIdA},
        {"model byte B", identity::kModelIdB, kModelIdB},
        {"model byte A's place", identity::kModelIdAByte, kModelIdAByte},
        {"model byte B's place", identity::kModelIdBByte, kModelIdBByte},
        {"identification sector", identity::kIdentificationOffset, kStatusOffset},
    };
    for (const auto& f : facts) EXPECT_EQ(f.library, f.emulator) << f.what;
    // The emulator's firmware answers with the whole signature; the library compares its first characters.
    EXPECT_EQ(std::string(kSignature, kSignatureMatchLength), std::string(identity::kSignature));
}

}  // namespace
}  // namespace zelvik::emu::test
