// The camera dialog over the real settings store: size list, "Custom", relabelling, Apply, totals, wait time.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "dialogs/widgets/CameraDialog.h"
#include "settings/Persistence.h"
#include "tests/dialogs/FakeDialogCamera.h"
#include "tests/dialogs/Person.h"
#include "tests/support/ConfigHome.h"

namespace zelvik::test {
namespace {

using dialogs::CameraDialog;
using dialogs::Language;

class CameraDialogTest : public ::testing::Test {
protected:
    // Stores `sizes` (EH x EV at the origin, totals 2592 x 1944, Buf 5) with `selected` and wait time 10.
    void Store(std::initializer_list<std::pair<int, int>> sizes, int selected = 0) {
        SizeListData data;
        for (auto [w, h] : sizes) data.entries[data.count++] = CaptureWindow{2592, 1944, w, h, 0, 0, 5};
        data.size = selected;
        data.color = 2;
        ASSERT_EQ(SaveSizeList(data), 1);
    }
    static SizeListData Stored() {
        SizeListData data;
        LoadSizeList(data);
        return data;
    }
    std::unique_ptr<CameraDialog> Open(bool japanese = false) {
        auto d = std::make_unique<CameraDialog>(camera, Language(japanese));
        d->show();
        return d;
    }
    static QStringList Items(QComboBox* list) {
        QStringList items;
        for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
        return items;
    }
    static QLineEdit* Edit(CameraDialog& d, int id) { return d.Controls().Get<QLineEdit>(id); }
    static QComboBox* List(CameraDialog& d, int id) { return d.Controls().Get<QComboBox>(id); }
    static QPushButton* Button(CameraDialog& d, int id) { return d.Controls().Get<QPushButton>(id); }

    ConfigHome home;
    FakeDialogCamera camera;
};

TEST_F(CameraDialogTest, OpensWithTheStoredChoicesAndTheSelectedEntry) {
    Store({{2592, 1944}, {1296, 972}, {640, 480}}, 1);
    auto d = Open();
    EXPECT_EQ(Items(List(*d, 1010)), (QStringList{"2592 x 1944", "1296 x 972", "640 x 480", "Custom"}));
    EXPECT_EQ(List(*d, 1010)->currentIndex(), 1);
    EXPECT_EQ(List(*d, 1009)->currentText(), "Color 24bit");
    EXPECT_EQ(Items(List(*d, 1012)), (QStringList{"1/1", "1/2", "1/4"}));
    EXPECT_EQ(Items(List(*d, 1014)), QStringList{"Nomal"});
    const char* shown[] = {"2592", "1944", "1296", "972", "0", "0"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Edit(*d, 1039 + i)->text(), shown[i]) << 1039 + i;
    EXPECT_EQ(Edit(*d, 1045)->text(), "10");
    EXPECT_FALSE(Button(*d, 1002)->isEnabled()) << "Apply waits for a change";
    EXPECT_EQ(d->windowTitle(), "Property");
    EXPECT_EQ(d->Controls().Get<QTabWidget>(1001)->tabText(0), "Stream Format");
}

TEST_F(CameraDialogTest, CustomSizeBecomesTheFourthEntryOnApply) {
    Store({{2592, 1944}, {1296, 972}, {640, 480}});
    auto d = Open();
    Choose(List(*d, 1010), 3);
    ASSERT_EQ(List(*d, 1010)->currentText(), "Custom");
    EXPECT_EQ(Edit(*d, 1041)->text(), "640") << "Custom keeps the values shown last as the starting point";
    Type(Edit(*d, 1041), "1280");
    Type(Edit(*d, 1042), "960");
    EXPECT_TRUE(Button(*d, 1002)->isEnabled());
    Click(Button(*d, 1002));

    EXPECT_EQ(Items(List(*d, 1010)),
              (QStringList{"2592 x 1944", "1296 x 972", "640 x 480", "1280 x 960", "Custom"}));
    EXPECT_EQ(List(*d, 1010)->currentIndex(), 3);
    EXPECT_FALSE(Button(*d, 1002)->isEnabled());
    const SizeListData stored = Stored();
    ASSERT_EQ(stored.count, 4);
    EXPECT_EQ(stored.size, 3);
    EXPECT_EQ(stored.entries[3], (CaptureWindow{2592, 1944, 1280, 960, 0, 0, 10})) << "Buf of a new entry is 10";
    EXPECT_EQ(stored.entries[2], (CaptureWindow{2592, 1944, 640, 480, 0, 0, 5})) << "older entries kept";

    // A second Apply changes the new entry in place rather than adding another.
    Type(Edit(*d, 1043), "16");
    Click(Button(*d, 1002));
    EXPECT_EQ(Stored().count, 4);
    EXPECT_EQ(Stored().entries[3].EHS, 16);
}

TEST_F(CameraDialogTest, EditingTheSelectedEntryRelabelsItInPlaceOnOk) {
    Store({{2592, 1944}, {1296, 972}, {640, 480}}, 0);
    auto d = Open();
    Choose(List(*d, 1010), 1);
    EXPECT_EQ(Edit(*d, 1041)->text(), "1296") << "choosing an entry shows it";
    Type(Edit(*d, 1041), "1200");
    Click(Button(*d, 1));

    EXPECT_EQ(d->result(), kDialogOk);
    EXPECT_EQ(Items(List(*d, 1010)), (QStringList{"2592 x 1944", "1200 x 972", "640 x 480", "Custom"}));
    const SizeListData stored = Stored();
    EXPECT_EQ(stored.count, 3);
    EXPECT_EQ(stored.size, 1);
    EXPECT_EQ(stored.entries[1], (CaptureWindow{2592, 1944, 1200, 972, 0, 0, 5})) << "Buf unchanged";
}

TEST_F(CameraDialogTest, ApplyThenCancelKeepsWhatWasApplied) {
    Store({{2592, 1944}});
    auto d = Open();
    Type(Edit(*d, 1045), "25");
    Choose(List(*d, 1012), 2);
    Click(Button(*d, 1002));
    Type(Edit(*d, 1045), "99");
    Click(Button(*d, 2));

    EXPECT_EQ(d->result(), kDialogCancel);
    EXPECT_EQ(Stored().waitTime, 25);
    EXPECT_EQ(Stored().subsample, 2);
    EXPECT_EQ(camera.saves, 1) << "Cancel saves nothing";
}

TEST_F(CameraDialogTest, TotalsCannotBeTypedAndAreStoredWithEveryEntry) {
    Store({{640, 480}});
    auto d = Open();
    Type(Edit(*d, 1039), "1234");
    Type(Edit(*d, 1040), "99");
    EXPECT_EQ(Edit(*d, 1039)->text(), "2592");
    EXPECT_EQ(Edit(*d, 1040)->text(), "1944");
    Choose(List(*d, 1010), 1);  // Custom
    Type(Edit(*d, 1041), "800");
    Type(Edit(*d, 1042), "600");
    Click(Button(*d, 1));
    const SizeListData stored = Stored();
    ASSERT_EQ(stored.count, 2);
    EXPECT_EQ(stored.entries[1].TH, 2592);
    EXPECT_EQ(stored.entries[1].TV, 1944);
}

TEST_F(CameraDialogTest, WaitTimeIsReadAsAnUnsignedNumber) {
    struct Case {
        const char* typed;
        int32_t stored;
    } cases[] = {
        {"40", 40}, {"abc", 0}, {"12x", 0}, {"", 0}, {"1.5", 0}, {"4294967295", -1}, {"4294967296", 0},
    };
    Store({{2592, 1944}});
    for (const Case& c : cases) {
        auto d = Open();
        Type(Edit(*d, 1045), c.typed);
        Click(Button(*d, 1));
        EXPECT_EQ(Stored().waitTime, c.stored) << '"' << c.typed << '"';
    }
}

TEST_F(CameraDialogTest, StoredIndexThatNamesNoEntryOpensOnCustomFromTheWholeSensor) {
    for (int selected : {2, 7, -1}) {
        Store({{640, 480}, {320, 240}}, selected);
        auto d = Open();
        EXPECT_EQ(List(*d, 1010)->currentText(), "Custom") << selected;
        EXPECT_EQ(Edit(*d, 1041)->text(), "2592") << selected;
        EXPECT_EQ(Edit(*d, 1042)->text(), "1944") << selected;
    }
}

TEST_F(CameraDialogTest, NothingStoredOpensWithOnlyCustomAndTheInitialChoices) {
    auto d = Open();
    EXPECT_EQ(Items(List(*d, 1010)), QStringList{"Custom"});
    EXPECT_EQ(List(*d, 1009)->currentIndex(), 0);
    EXPECT_EQ(Edit(*d, 1045)->text(), "10");
    Click(Button(*d, 1));
    EXPECT_EQ(Stored().count, 1) << "OK stores the custom size as the first entry";
}

TEST_F(CameraDialogTest, FullListOffersNoCustomSize) {
    SizeListData data;
    for (int i = 0; i < kMaxStoredSizes; ++i) data.entries[i] = CaptureWindow{2592, 1944, 100 + i, 100, 0, 0, 10};
    data.count = kMaxStoredSizes;
    data.size = 99;
    ASSERT_EQ(SaveSizeList(data), 1);

    auto d = Open();
    QComboBox* sizes = List(*d, 1010);
    ASSERT_EQ(sizes->count(), 101);
    QTest::keyClick(sizes, Qt::Key_End);
    EXPECT_EQ(sizes->currentIndex(), 99) << "\"Custom\" cannot be chosen with 100 sizes stored";
    Type(Edit(*d, 1041), "123");
    Click(Button(*d, 1));
    const SizeListData stored = Stored();
    EXPECT_EQ(stored.count, kMaxStoredSizes);
    EXPECT_EQ(stored.entries[99].EH, 123) << "the chosen entry takes the edit";
}

TEST_F(CameraDialogTest, JapaneseTexts) {
    Store({{2592, 1944}});
    auto d = Open(true);
    EXPECT_EQ(d->windowTitle(), "プロパティ");
    EXPECT_EQ(d->Controls().Get<QTabWidget>(1001)->tabText(0), "ストリーム形式");
    EXPECT_EQ(Items(List(*d, 1009)), (QStringList{"白黒 8bit", "白黒 10bit ※", "カラー 24bit", "カラー 32bit",
                                                  "カラー 48bit ※", "カラー 64bit ※"}));
    EXPECT_EQ(Items(List(*d, 1010)), (QStringList{"2592 x 1944", "カスタム"}));
    EXPECT_EQ(Items(List(*d, 1014)), QStringList{"標準"});
    EXPECT_EQ(Button(*d, 2)->text(), "キャンセル");
    EXPECT_EQ(Button(*d, 1002)->text(), "適用(&A)");
}

}  // namespace
}  // namespace zelvik::test
