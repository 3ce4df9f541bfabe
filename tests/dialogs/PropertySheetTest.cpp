// The analog and image property sheets driven like a person: live sensor and settings changes, the
// slider triples, the check pairs, the enabled controls per stream format, Default and Cancel.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "dialogs/widgets/Module.h"
#include "dialogs/widgets/PropertySheets.h"
#include "tests/dialogs/FakeDialogCamera.h"
#include "tests/dialogs/Person.h"

namespace zelvik::test {
namespace {

using dialogs::AnalogSheet;
using dialogs::ControlRegistry;
using dialogs::ImageSheet;
using dialogs::Language;
using dialogs::UpDown;

template <typename T>
T* Get(const ControlRegistry& controls, int id) {
    T* w = controls.Get<T>(id);
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
}

class AnalogSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        sheet = std::make_unique<AnalogSheet>(camera, Language(false));
        sheet->show();
    }
    const ControlRegistry& Page() { return sheet->Page()->Controls(); }
    QLineEdit* Edit(int id) { return Get<QLineEdit>(Page(), id); }
    QSlider* Trackbar(int id) { return Get<QSlider>(Page(), id); }
    QCheckBox* Check(int id) { return Get<QCheckBox>(Page(), id); }

    FakeDialogCamera camera;
    std::unique_ptr<AnalogSheet> sheet;
};

TEST_F(AnalogSheetTest, TypingTheGlobalGainSetsAllFourColourGains) {
    Type(Edit(1015), "40");
    for (int slot : {kGlobalGain, kGainG1, kGainR, kGainB, kGainG2}) EXPECT_EQ(camera.analog[slot], 40) << slot;
    EXPECT_EQ(camera.sensor.global, 40);
    EXPECT_EQ(camera.sensor.g1, 40);
    EXPECT_EQ(camera.sensor.r, 40);
    EXPECT_EQ(camera.sensor.b, 40);
    EXPECT_EQ(camera.sensor.g2, 40);
    for (int edit : {1019, 1021, 1023, 1025}) EXPECT_EQ(Edit(edit)->text(), "40") << edit;
    for (int trackbar : {1014, 1018, 1020, 1022, 1024}) EXPECT_EQ(Trackbar(trackbar)->value(), 40) << trackbar;
}

TEST_F(AnalogSheetTest, EachColourGainGoesToItsOwnRegister) {
    struct Case {
        int edit;
        int slot;
        int FakeDialogCamera::Sensor::*sensor;
    } cases[] = {
        {1019, kGainG1, &FakeDialogCamera::Sensor::g1},
        {1021, kGainR, &FakeDialogCamera::Sensor::r},
        {1023, kGainB, &FakeDialogCamera::Sensor::b},
        {1025, kGainG2, &FakeDialogCamera::Sensor::g2},
    };
    int value = 30;
    for (const Case& c : cases) {
        Type(Edit(c.edit), QString::number(++value));
        EXPECT_EQ(camera.analog[c.slot], value) << c.edit;
        EXPECT_EQ(camera.sensor.*c.sensor, value) << c.edit;
    }
    EXPECT_EQ(camera.analog[kGlobalGain], 16) << "the global gain does not follow its colour gains";
}

TEST_F(AnalogSheetTest, TypedValuesAreStoredUnclampedAndTheTrackbarShowsTheNearestEnd) {
    Type(Edit(1015), "100");
    EXPECT_EQ(camera.analog[kGlobalGain], 100);
    EXPECT_EQ(camera.sensor.global, 100) << "the device clamps, not the dialog";
    EXPECT_EQ(Trackbar(1014)->value(), 63);
    Type(Edit(1027), "");
    EXPECT_EQ(camera.analog[kExposure], 0) << "text that is not a number reads as 0";
    EXPECT_EQ(Trackbar(1026)->value(), 1);
}

TEST_F(AnalogSheetTest, MovingTheExposureTrackbarWritesTheSensorAndTheTime) {
    Drag(Trackbar(1026), 2000);
    EXPECT_EQ(Edit(1027)->text(), "2000");
    EXPECT_EQ(camera.analog[kExposure], 2000);
    EXPECT_EQ(camera.sensor.exposure, 2000);
    // (2000 lines x 3508 clocks - 426) x (1/96 us) = 73.0788 ms
    EXPECT_EQ(Get<QLabel>(Page(), 1048)->text(), "=73.08ms");
}

TEST_F(AnalogSheetTest, UpDownAndArrowKeysStepWithinTheRange) {
    UpDown* spin = Get<UpDown>(Page(), 1038);
    Click(spin->UpButton());
    EXPECT_EQ(Edit(1015)->text(), "17");
    EXPECT_EQ(camera.sensor.global, 17);
    Type(Edit(1015), "63");
    Click(spin->UpButton());
    EXPECT_EQ(Edit(1015)->text(), "63") << "no step past the end";
    QTest::keyClick(Edit(1015), Qt::Key_Down);
    EXPECT_EQ(Edit(1015)->text(), "62");
    Type(Edit(1015), "-5a");
    EXPECT_EQ(Edit(1015)->text(), "5") << "the keyboard gives only digits";
}

TEST_F(AnalogSheetTest, AutoIrisCheckPairAllowsOneChoice) {
    Click(Check(1037));
    EXPECT_EQ(camera.analog[kAutoIris], 1);
    Click(Check(1036));
    EXPECT_TRUE(Check(1036)->isChecked());
    EXPECT_FALSE(Check(1037)->isChecked());
    EXPECT_EQ(camera.analog[kAutoIris], 2);
    Click(Check(1036));
    EXPECT_FALSE(Check(1036)->isChecked());
    EXPECT_EQ(camera.analog[kAutoIris], 0);
}

TEST_F(AnalogSheetTest, MirrorsWriteTheSensorAndFlipTheBayerPhase) {
    struct Case {
        int checkBox;
        int bayerBefore, bayerAfter;
    } cases[] = {
        {1029, 0, 1}, {1029, 2, 3}, {1029, 3, 2}, {1030, 0, 2}, {1030, 1, 3}, {1030, 3, 1}, {1029, 7, 7}, {1030, -1, -1},
    };
    for (const Case& c : cases) {
        camera.image[kBayerMode] = c.bayerBefore;
        const bool on = !Check(c.checkBox)->isChecked();
        Click(Check(c.checkBox));
        EXPECT_EQ(camera.image[kBayerMode], c.bayerAfter) << c.checkBox << " from " << c.bayerBefore;
        const int slot = c.checkBox == 1029 ? kMirrorV : kMirrorH;
        EXPECT_EQ(camera.analog[slot], on ? 1 : 0);
        EXPECT_EQ(c.checkBox == 1029 ? camera.sensor.mirrorV : camera.sensor.mirrorH, on ? 1 : 0);
    }
}

TEST_F(AnalogSheetTest, DefaultResetsGainsAndExposureButNotMirrorsOrAutoIris) {
    Type(Edit(1015), "50");
    Type(Edit(1027), "3000");
    Click(Check(1029));
    Click(Check(1036));
    Click(Get<QPushButton>(sheet->Controls(), 3));
    for (int slot : {kGlobalGain, kGainG1, kGainR, kGainB, kGainG2}) EXPECT_EQ(camera.analog[slot], 16) << slot;
    EXPECT_EQ(camera.analog[kExposure], 1100);
    EXPECT_EQ(camera.sensor.global, 16);
    EXPECT_EQ(camera.sensor.g2, 16);
    EXPECT_EQ(camera.sensor.exposure, 1100);
    EXPECT_EQ(Edit(1015)->text(), "16");
    EXPECT_EQ(Trackbar(1026)->value(), 1100);
    EXPECT_EQ(camera.analog[kMirrorV], 1);
    EXPECT_TRUE(Check(1029)->isChecked());
    EXPECT_EQ(camera.analog[kAutoIris], 2);
    EXPECT_TRUE(Check(1036)->isChecked());
}

TEST_F(AnalogSheetTest, OkTakesTheValuesTheEditsShow) {
    camera.analog[kGainR] = 50;  // changed behind the dialog's back
    Click(Get<QPushButton>(sheet->Controls(), 1));
    EXPECT_EQ(sheet->result(), kDialogOk);
    EXPECT_EQ(camera.analog[kGainR], 16);
}

// Every slider triple of the three pages: ids, label, range and tick frequency.
TEST(SliderTriples, HaveTheirIdsRangesAndTickFrequencies) {
    struct Triple {
        int trackbar, edit, updown;
        const char* label;
        int minimum, maximum, tick;
    };
    const Triple analog[] = {
        {1014, 1015, 1038, "&Global Gain", 0, 63, 7},    {1018, 1019, 1039, "&Color Gain G1", 0, 63, 7},
        {1020, 1021, 1040, "&Color Gain R", 0, 63, 7},   {1022, 1023, 1041, "&Color Gain B", 0, 63, 7},
        {1024, 1025, 1042, "&Color Gain G2", 0, 63, 7},  {1026, 1027, 1043, "&Exposure", 1, 16383, 2047},
    };
    const Triple image[] = {
        {2001, 2002, 2004, "&Brightness", -255, 255, 64}, {2011, 2012, 2014, "&Contrast", -127, 127, 32},
        {2021, 2022, 2024, "&Hue", -360, 360, 90},        {2031, 2032, 2034, "&Saturation", -255, 255, 64},
        {2041, 2042, 2044, "Shar&pness", 0, 30, 4},       {2051, 2052, 2054, "&R Gain", 0, 200, 32},
        {2061, 2062, 2063, "&G Gain", 0, 200, 32},        {2071, 2072, 2073, "&B Gain", 0, 200, 32},
        {2081, 2082, 2084, "&Gamma", 0, 200, 32},
    };
    const Triple gray[] = {
        {2100, 2101, 2102, "Red", 0, 200, 32},       {2103, 2104, 2105, "Green1", 0, 200, 32},
        {2106, 2107, 2108, "Green2", 0, 200, 32},    {2109, 2110, 2111, "Blue", 0, 200, 32},
        {2112, 2113, 2114, "Red", -255, 255, 32},    {2115, 2116, 2117, "Green1", -255, 255, 32},
        {2118, 2119, 2120, "Green2", -255, 255, 32}, {2121, 2122, 2123, "Blue", -255, 255, 32},
    };
    FakeDialogCamera camera;
    camera.colorMode = 0;
    AnalogSheet analogSheet(camera, Language(false));
    ImageSheet imageSheet(camera, Language(false));
    ASSERT_NE(imageSheet.Gray(), nullptr);
    auto check = [](const ControlRegistry& controls, const Triple& t) {
        QSlider* trackbar = Get<QSlider>(controls, t.trackbar);
        QLineEdit* edit = Get<QLineEdit>(controls, t.edit);
        UpDown* spin = Get<UpDown>(controls, t.updown);
        ASSERT_TRUE(trackbar && edit && spin);
        EXPECT_EQ(trackbar->minimum(), t.minimum) << t.trackbar;
        EXPECT_EQ(trackbar->maximum(), t.maximum) << t.trackbar;
        EXPECT_EQ(trackbar->tickInterval(), t.tick) << t.trackbar;
        EXPECT_EQ(trackbar->tickPosition(), QSlider::NoTicks) << t.trackbar;
        EXPECT_EQ(spin->Minimum(), t.minimum) << t.updown;
        EXPECT_EQ(spin->Maximum(), t.maximum) << t.updown;
        bool labelled = false;
        for (QLabel* l : edit->parentWidget()->findChildren<QLabel*>())
            if (l->buddy() == edit) labelled = l->text() == QString::fromLatin1(t.label);
        EXPECT_TRUE(labelled) << t.edit << " labelled " << t.label;
    };
    for (const Triple& t : analog) check(analogSheet.Page()->Controls(), t);
    for (const Triple& t : image) check(imageSheet.Image()->Controls(), t);
    for (const Triple& t : gray) check(imageSheet.Gray()->Controls(), t);
}

class ImageSheetTest : public ::testing::Test {
protected:
    void Open(int colorMode) {
        camera.colorMode = colorMode;
        sheet = std::make_unique<ImageSheet>(camera, Language(false));
        sheet->show();
    }
    const ControlRegistry& Image() { return sheet->Image()->Controls(); }
    const ControlRegistry& Gray() { return sheet->Gray()->Controls(); }

    FakeDialogCamera camera;
    std::unique_ptr<ImageSheet> sheet;
};

TEST_F(ImageSheetTest, StreamFormatChoosesTheEnabledControlsAndTheGrayPage) {
    const int colourOnly[] = {2021, 2031, 2051, 2061, 2071};  // hue, saturation, R, G, B gain trackbars
    const int always[] = {2001, 2011, 2041, 2081};            // brightness, contrast, sharpness, gamma
    const int balanceAndBayer[] = {2074, 1035, 1030, 1031, 1032, 1033};
    for (int mode = 0; mode <= 5; ++mode) {
        Open(mode);
        const bool colour = mode >= 2;
        auto* tabs = Get<QTabWidget>(sheet->Controls(), 1001);
        EXPECT_EQ(tabs->count(), colour ? 1 : 2) << mode;
        EXPECT_EQ(tabs->tabText(0), "Image Filter");
        if (!colour) {
            EXPECT_EQ(tabs->tabText(1), "Gray Filter");
        }
        for (int id : colourOnly) {
            EXPECT_EQ(Image().Find(id)->isEnabled(), colour) << mode << " " << id;
            EXPECT_EQ(Image().Find(id + 1)->isEnabled(), colour) << mode << " edit " << id + 1;
        }
        for (int id : always) EXPECT_TRUE(Image().Find(id)->isEnabled()) << mode << " " << id;
        for (int id : balanceAndBayer) EXPECT_EQ(Image().Find(id)->isEnabled(), colour) << mode << " " << id;
        if (!colour) {
            for (int id : {2100, 2112, 1045, 2074, 1035, 1030})
                EXPECT_TRUE(Gray().Find(id)->isEnabled()) << mode << " gray " << id;
        }
    }
}

TEST_F(ImageSheetTest, TrackbarsAndEditsChangeTheirSlotsAtOnce) {
    Open(0);
    Drag(Get<QSlider>(Image(), 2001), -100);
    EXPECT_EQ(camera.image[kBrightness], -100);
    EXPECT_EQ(Get<QLineEdit>(Image(), 2002)->text(), "-100");
    Type(Get<QLineEdit>(Image(), 2082), "150");
    EXPECT_EQ(camera.image[kGamma], 150);
    EXPECT_EQ(Get<QSlider>(Image(), 2081)->value(), 150);
    Drag(Get<QSlider>(Gray(), 2112), -30);
    EXPECT_EQ(camera.image[kGrayOffsetR], -30);
    Type(Get<QLineEdit>(Gray(), 2110), "300");
    EXPECT_EQ(camera.image[kGrayGainB], 300);
    EXPECT_EQ(Get<QSlider>(Gray(), 2109)->value(), 200);
    Click(Get<QRadioButton>(Gray(), 1047));
    EXPECT_EQ(camera.image[kGrayMode], 2);
}

TEST_F(ImageSheetTest, WhiteBalanceOnceAndAllFrames) {
    Open(2);
    auto* all = Get<QCheckBox>(Image(), 1035);
    Click(all);
    EXPECT_EQ(camera.image[kAutoBayerGain], 1);
    EXPECT_EQ(camera.image[kOneShot1], 0);
    EXPECT_EQ(camera.image[kOneShot2], 0);
    Click(Get<QPushButton>(Image(), 2074));
    EXPECT_EQ(camera.image[kAutoBayerGain], 1);
    EXPECT_EQ(camera.image[kOneShot1], 1);
    EXPECT_EQ(camera.image[kOneShot2], 1);
    EXPECT_FALSE(all->isChecked());
    Click(all);
    Click(all);
    EXPECT_EQ(camera.image[kAutoBayerGain], 0);
    EXPECT_EQ(camera.image[kOneShot1], 0);
}

TEST_F(ImageSheetTest, GrayAllFramesTwiceReturnsTheCountdownToZero) {
    Open(0);
    auto* all = Get<QCheckBox>(Gray(), 1035);
    Click(all);
    EXPECT_EQ(camera.image[kGrayAutoCountdown], -1);
    Click(all);
    EXPECT_EQ(camera.image[kGrayAutoCountdown], 0);
    // "Once" measures one frame and leaves the every-frame box unchecked; checking it then means every frame.
    Click(all);
    Click(Get<QPushButton>(Gray(), 2074));
    EXPECT_EQ(camera.image[kGrayAutoCountdown], 1);
    EXPECT_FALSE(all->isChecked());
    Click(all);
    EXPECT_EQ(camera.image[kGrayAutoCountdown], -1);
}

TEST_F(ImageSheetTest, AllFramesOpensShowingWhetherItRuns) {
    struct Case {
        int autoBalance, oneShot, grayCountdown;
        bool imageChecked, grayChecked;
    } cases[] = {
        {0, 0, 0, false, false},
        {1, 0, -1, true, true},   // every frame
        {1, 1, 1, false, false},  // a pending one-shot
    };
    for (const Case& c : cases) {
        camera.image[kAutoBayerGain] = c.autoBalance;
        camera.image[kOneShot1] = camera.image[kOneShot2] = c.oneShot;
        camera.image[kGrayAutoCountdown] = c.grayCountdown;
        Open(0);
        EXPECT_EQ(Get<QCheckBox>(Image(), 1035)->isChecked(), c.imageChecked) << c.autoBalance << c.oneShot;
        EXPECT_EQ(Get<QCheckBox>(Gray(), 1035)->isChecked(), c.grayChecked) << c.grayCountdown;
    }
}

TEST_F(ImageSheetTest, BayerModeChosenOnEitherPageSurvivesOk) {
    camera.image[kBayerMode] = 3;
    Open(2);
    EXPECT_TRUE(Get<QRadioButton>(Image(), 1033)->isChecked());
    Click(Get<QRadioButton>(Image(), 1031));
    EXPECT_EQ(camera.image[kBayerMode], 1);

    Open(0);  // monochrome: the image page's radios are disabled, the gray page's are not
    Click(Get<QRadioButton>(Gray(), 1032));
    EXPECT_EQ(camera.image[kBayerMode], 2);
    EXPECT_TRUE(Get<QRadioButton>(Image(), 1032)->isChecked());
    Click(Get<QPushButton>(sheet->Controls(), 1));
    EXPECT_EQ(sheet->result(), kDialogOk);
    EXPECT_EQ(camera.image[kBayerMode], 2);
}

TEST_F(ImageSheetTest, BayerModeOutsideTheRangeChecksNoRadioAndOkKeepsIt) {
    camera.image[kBayerMode] = 9;
    Open(2);
    for (int id = 1030; id <= 1033; ++id) EXPECT_FALSE(Get<QRadioButton>(Image(), id)->isChecked()) << id;
    Click(Get<QPushButton>(sheet->Controls(), 1));
    EXPECT_EQ(camera.image[kBayerMode], 9);
}

TEST_F(ImageSheetTest, DefaultRestoresFiltersAndGrayGainsButNotTheGrayMode) {
    Open(1);
    Drag(Get<QSlider>(Image(), 2011), 50);
    Drag(Get<QSlider>(Image(), 2081), 20);
    Drag(Get<QSlider>(Gray(), 2100), 10);
    Drag(Get<QSlider>(Gray(), 2121), 10);
    Click(Get<QRadioButton>(Gray(), 1046));
    Click(Get<QRadioButton>(Gray(), 1030));
    Click(Get<QPushButton>(sheet->Controls(), 3));
    const int expected[20] = {0, 0, 0, 0, 0, 100, 100, 100, 100, 3, 0, 1, 128, 128, 128, 128, 0, 0, 0, 0};
    for (int slot = 0; slot < 20; ++slot)
        if (slot != 10) {
            EXPECT_EQ(camera.image[slot], expected[slot]) << slot;
        }
    EXPECT_EQ(Get<QLineEdit>(Image(), 2012)->text(), "0");
    EXPECT_EQ(Get<QSlider>(Gray(), 2100)->value(), 128);
    EXPECT_TRUE(Get<QRadioButton>(Gray(), 1046)->isChecked());
}

// ---- The exports' part around the sheets: undo on Cancel ----

// Runs the dialog the way the module does, with `act` standing for the person at the dialog.
template <typename Act>
DialogRunner Person(Act act) {
    return [act](DialogKind kind, DialogHost& host, uintptr_t) {
        std::unique_ptr<QDialog> d = dialogs::CreateDialog(kind, host, Language(false));
        d->show();
        act(*d);
        return d->result();
    };
}

TEST(ImageDialogExport, BrightnessMovedThenCancelIsRestored) {
    FakeDialogCamera camera;
    camera.image[kBrightness] = 12;
    camera.image[kAutoBayerGain] = 0;
    int seenWhileOpen = 0;
    const int result = RunImageDialog(camera, 0, Person([&](QDialog& d) {
        auto& sheet = static_cast<ImageSheet&>(d);
        Drag(Get<QSlider>(sheet.Image()->Controls(), 2001), -100);
        Click(Get<QCheckBox>(sheet.Image()->Controls(), 1035));
        seenWhileOpen = camera.image[kBrightness];
        Click(Get<QPushButton>(sheet.Controls(), 2));
    }));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seenWhileOpen, -100) << "the change is live while the dialog is open";
    EXPECT_EQ(camera.image[kBrightness], 12);
    EXPECT_EQ(camera.image[kAutoBayerGain], 0);
    EXPECT_TRUE(camera.errors.empty());
}

TEST(AnalogDialogExport, CancelWritesThePreviousValuesBackToTheSensor) {
    FakeDialogCamera camera;
    camera.image[kBayerMode] = 0;
    RunAnalogDialog(camera, 0, Person([&](QDialog& d) {
        auto& sheet = static_cast<AnalogSheet&>(d);
        Type(Get<QLineEdit>(sheet.Page()->Controls(), 1015), "40");
        Type(Get<QLineEdit>(sheet.Page()->Controls(), 1027), "5000");
        Click(Get<QCheckBox>(sheet.Page()->Controls(), 1029));
        camera.writes.clear();
        d.reject();  // closing the window
    }));
    EXPECT_EQ(camera.writes, (std::vector<std::string>{"global 16", "color43 16", "color45 16", "color44 16",
                                                       "color46 16", "exposure 1100", "mirrorV 0", "mirrorH 0"}));
    EXPECT_EQ(camera.analog[kGlobalGain], 16);
    EXPECT_EQ(camera.analog[kMirrorV], 0);
    EXPECT_EQ(camera.image[kBayerMode], 0);
}

TEST(AnalogDialogExport, OkKeepsTheNewValues) {
    FakeDialogCamera camera;
    RunAnalogDialog(camera, 0, Person([&](QDialog& d) {
        auto& sheet = static_cast<AnalogSheet&>(d);
        Type(Get<QLineEdit>(sheet.Page()->Controls(), 1015), "40");
        camera.writes.clear();
        Click(Get<QPushButton>(sheet.Controls(), 1));
    }));
    EXPECT_TRUE(camera.writes.empty());
    EXPECT_EQ(camera.analog[kGainB], 40);
}

// ---- Live refresh from another thread (the capture thread's part) ----

// Runs `kind` modally; `fromAnotherThread` gets the open dialog's view once it is open.
template <typename F>
int RunWithCaptureThread(FakeDialogCamera& camera, DialogKind kind, F fromAnotherThread) {
    std::thread capture([&] {
        while (camera.opened == 0) std::this_thread::yield();
        std::lock_guard lock(camera.viewMutex);
        fromAnotherThread(*camera.view);
    });
    const int result = dialogs::RunModal(kind, camera, 0);
    capture.join();
    return result;
}

TEST(LiveRefresh, ImageSettingsChangedByTheFramePathReachTheOpenPages) {
    FakeDialogCamera camera;
    camera.colorMode = 0;
    const int result = RunWithCaptureThread(camera, DialogKind::kImage, [&](DialogView& view) {
        camera.image[kBayerGainRed] = 150;  // as the white balance measures
        camera.image[kGrayGainG2] = 77;     // as the one-shot gray gain measures
        view.ShowCurrentSettings();
        view.Close(kDialogOk);  // OK collects the edits: they hold the new values only if they were shown
    });
    EXPECT_EQ(result, kDialogOk);
    EXPECT_EQ(camera.image[kBayerGainRed], 150);
    EXPECT_EQ(camera.image[kGrayGainG2], 77);
}

TEST(LiveRefresh, WhatTheFramePathChangedBeforeTheDialogWasRegisteredIsShown) {
    // OK collects the edits: without a look after the registration they hold what the pages read first.
    FakeDialogCamera analog;
    analog.whileRegistering = [&] {
        analog.analog[kExposure] = 2475;  // as the automatic exposure/gain control writes
        analog.analog[kGlobalGain] = 30;
    };
    EXPECT_EQ(RunWithCaptureThread(analog, DialogKind::kAnalog, [](DialogView& view) { view.Close(kDialogOk); }),
              kDialogOk);
    EXPECT_EQ(analog.analog[kExposure], 2475);
    EXPECT_EQ(analog.analog[kGlobalGain], 30);
    EXPECT_EQ(analog.analog[kGainB], 30) << "the colour gains follow the global gain";

    FakeDialogCamera image;
    image.whileRegistering = [&] { image.image[kBayerGainRed] = 150; };  // as the white balance measures
    EXPECT_EQ(RunWithCaptureThread(image, DialogKind::kImage, [](DialogView& view) { view.Close(kDialogOk); }),
              kDialogOk);
    EXPECT_EQ(image.image[kBayerGainRed], 150);
}

TEST(LiveRefresh, AutoIrisValuesActAsTypedIntoTheAnalogPage) {
    FakeDialogCamera camera;
    const int result = RunWithCaptureThread(camera, DialogKind::kAnalog, [&](DialogView& view) {
        // Reported every frame, faster than the dialog shows them: the last value is the one that counts.
        for (int gain = 1; gain <= 200; ++gain) view.TypeValue(1015, gain);
        view.TypeValue(1015, 40);
        view.TypeValue(1027, 2500);
        view.TypeValue(1019, 7);  // not an edit the automatic control writes
        view.Close(kDialogCancel);
    });
    EXPECT_EQ(result, kDialogCancel);
    EXPECT_EQ(camera.sensor.global, 40);
    EXPECT_EQ(camera.sensor.b, 40);
    EXPECT_EQ(camera.sensor.exposure, 2500);
    EXPECT_EQ(camera.analog[kExposure], 2500);
    EXPECT_EQ(camera.sensor.g1, 40);
}

}  // namespace
}  // namespace zelvik::test
