// The dialogs' language choice, and Japanese texts that a person can read (a font with their glyphs).
#include <cstdlib>
#include <optional>
#include <string>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>
#include <gtest/gtest.h>

#include "dialogs/widgets/Controls.h"
#include "dialogs/widgets/Texts.h"

namespace zelvik::test {
namespace {

using dialogs::LocaleIsJapanese;

// Sets or clears the three locale variables for one case, restoring them afterwards.
class LocaleEnvironment {
public:
    LocaleEnvironment() {
        for (int i = 0; i < 3; ++i)
            if (const char* v = std::getenv(kNames[i])) saved_[i] = v;
    }
    ~LocaleEnvironment() {
        for (int i = 0; i < 3; ++i) Set(i, saved_[i] ? saved_[i]->c_str() : nullptr);
    }
    static void Set(int i, const char* value) {
        if (value) ::setenv(kNames[i], value, 1);
        else ::unsetenv(kNames[i]);
    }
    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};

private:
    std::optional<std::string> saved_[3];
};

TEST(DialogLanguage, FollowsTheLocaleThatGovernsMessages) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        bool japanese;
    } cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", true},
        {nullptr, nullptr, "ja", true},
        {nullptr, nullptr, "en_US.UTF-8", false},
        {nullptr, nullptr, nullptr, false},
        {"C", nullptr, "ja_JP.UTF-8", false},       // LC_ALL overrides LANG
        {nullptr, "ja_JP.UTF-8", "en_US.UTF-8", true},
        {"", "ja_JP.eucJP", "C", true},             // an empty variable counts as unset
        {"ja_JP.UTF-8", "C", "C", true},
        {nullptr, nullptr, "jam", true},
        {nullptr, nullptr, "de_DE", false},
    };
    LocaleEnvironment restore;
    for (const Case& c : cases) {
        LocaleEnvironment::Set(0, c.lcAll);
        LocaleEnvironment::Set(1, c.lcMessages);
        LocaleEnvironment::Set(2, c.lang);
        EXPECT_EQ(LocaleIsJapanese(), c.japanese)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST(DialogLanguage, JapaneseTextsHaveGlyphsInAnInstalledFont) {
    namespace t = dialogs::text;
    QString all;
    for (const dialogs::Text* text : {&t::kCaption, &t::kCancel, &t::kApply, &t::kDefault, &t::kStreamFormat,
                                      &t::kVideoFormat, &t::kColorCompression, &t::kSize, &t::kSubSample,
                                      &t::kCameraSize, &t::kHTotal, &t::kVTotal, &t::kHEffective, &t::kVEffective,
                                      &t::kHStart, &t::kVStart, &t::kFrameRate, &t::kWaitTime, &t::kClock,
                                      &t::kClockNote, &t::kCustom, &t::kListFull, &t::kClocks[0]})
        all += QString::fromUtf8(text->ja);
    for (const dialogs::Text& text : t::kColorModes) all += QString::fromUtf8(text.ja);

    const QStringList families = QFontDatabase::families(QFontDatabase::Japanese);
    ASSERT_FALSE(families.isEmpty()) << "no Japanese font installed (fonts-noto-cjk)";
    QString missing;
    for (QChar c : all) {
        bool found = false;
        for (const QString& family : families)
            if (QRawFont::fromFont(QFont(family), QFontDatabase::Japanese).supportsCharacter(c)) {
                found = true;
                break;
            }
        if (!found && !missing.contains(c)) missing += c;
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.toStdString();
}

TEST(DialogItemNumbers, ReadLikeTheDialogItemFunctions) {
    struct Case {
        const char* text;
        int32_t asSigned;
        uint32_t asUnsigned;
    } cases[] = {
        {"0", 0, 0},
        {"42", 42, 42},
        {"  42", 42, 42},
        {"-42", -42, 0},
        {"42 ", 0, 0},
        {"4x", 0, 0},
        {"", 0, 0},
        {"-", 0, 0},
        {"+5", 0, 0},
        {"2147483647", 2147483647, 2147483647u},
        {"2147483648", 0, 2147483648u},
        {"-2147483648", INT32_MIN, 0},
        {"-2147483649", 0, 0},
        {"4294967295", 0, 4294967295u},
        {"4294967296", 0, 0},
        {"99999999999999999999", 0, 0},
        {"１２", 0, 0},  // full-width digits are not digits here
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dialogs::ParseSigned(QString::fromUtf8(c.text)), c.asSigned) << '"' << c.text << '"';
        EXPECT_EQ(dialogs::ParseUnsigned(QString::fromUtf8(c.text)), c.asUnsigned) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace zelvik::test
