// The W exports' path conversion: UTF-32 wide text to UTF-8, refusing what is not text or does not fit.
#include <gtest/gtest.h>

#include <string>

#include "platform/WideText.h"

namespace zelvik::test {
namespace {

TEST(WideToUtf8, EncodesEveryLengthAndRefusesWhatIsNotText) {
    const struct {
        const wchar_t* text;
        bool ok;
        std::string utf8;
    } cases[] = {
        {L"/tmp/a.png", true, "/tmp/a.png"},
        {L"", true, ""},
        {L"\u00DF\u03A9", true, "\xC3\x9F\xCE\xA9"},                     // two-byte forms
        {L"\u753B\u50CF.bmp", true, "\xE7\x94\xBB\xE5\x83\x8F.bmp"},     // three-byte forms
        {L"\U0001F4F7", true, "\xF0\x9F\x93\xB7"},                       // four-byte form
        {L"a\xD800z", false, ""},                                        // a surrogate is no code point
        {L"\x110000", false, ""},                                        // beyond Unicode
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(WideToUtf8(c.text, out, sizeof out), c.ok) << c.utf8;
        EXPECT_EQ(std::string(out), c.utf8);
    }
    char out[1024];
    EXPECT_FALSE(WideToUtf8(nullptr, out, sizeof out));
    // 1023 bytes and the terminator fit the 1024-byte buffer; one byte more does not.
    const std::wstring fits(341, L'\u753B'), tooLong(1024, L'a');
    EXPECT_TRUE(WideToUtf8(fits.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out).size(), 1023u);
    EXPECT_FALSE(WideToUtf8(tooLong.c_str(), out, sizeof out));
    EXPECT_EQ(out[0], '\0');
}

}  // namespace
}  // namespace zelvik::test
