#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text/Text.h"

using namespace platform;

namespace {
// The default picture folder, as the handset writes it.
const std::u16string kPictures = u"\\My Documents\\\u30DE\u30A4 \u30D4\u30AF\u30C1\u30E3\\";
}  // namespace

TEST(TextTest, DefaultPictureFolderIs28BytesInCp932AndRoundTrips) {
    const int needed =
        WideToAnsi(kPictures.c_str(), static_cast<int>(kPictures.size()), nullptr, 0);
    EXPECT_EQ(needed, 28);
    char narrow[64] = {};
    ASSERT_EQ(WideToAnsi(kPictures.c_str(), static_cast<int>(kPictures.size()), narrow, 64), 28);
    // U+30DE KATAKANA MA is 0x83 0x7D in CP932.
    EXPECT_EQ(static_cast<unsigned char>(narrow[14]), 0x83);
    EXPECT_EQ(static_cast<unsigned char>(narrow[15]), 0x7D);

    const int units = AnsiToWide(narrow, 28, nullptr, 0);
    EXPECT_EQ(units, static_cast<int>(kPictures.size()));
    char16_t wide[64] = {};
    ASSERT_EQ(AnsiToWide(narrow, 28, wide, 64), units);
    EXPECT_EQ(std::u16string(wide, static_cast<size_t>(units)), kPictures);
}

TEST(TextTest, TerminatedInputCountsTheTerminator) {
    EXPECT_EQ(AnsiToWide("abc", -1, nullptr, 0), 4);
    char16_t wide[4] = {u'x', u'x', u'x', u'x'};
    ASSERT_EQ(AnsiToWide("abc", -1, wide, 4), 4);
    EXPECT_EQ(wide[3], 0);
    EXPECT_EQ(WideToAnsi(u"abc", -1, nullptr, 0), 4);
}

TEST(TextTest, ConversionNeverWritesPastTheCallersBuffer) {
    char16_t wide[8];
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(AnsiToWide("abcdef", 6, wide, 3), 0);
    EXPECT_EQ(wide[3], u'#');
    char narrow[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(WideToAnsi(kPictures.c_str(), -1, narrow, 3), 0);
    EXPECT_EQ(narrow[3], '#');
}

TEST(TextTest, CharactersCp932LacksBecomeQuestionMarks) {
    const std::u16string text = u"a\u00E9b";  // e acute has no CP932 form
    char narrow[8] = {};
    ASSERT_EQ(WideToAnsi(text.c_str(), 3, narrow, 8), 3);
    EXPECT_EQ(std::string(narrow, 3), "a?b");
}

TEST(TextTest, Utf8AndUtf16RoundTripIncludingSurrogatePairs) {
    const std::u16string text = u"My Documents/\u30DE\u30A4 \U0001F4F7";
    const std::string utf8 = Utf16ToUtf8(text);
    EXPECT_EQ(utf8, "My Documents/\xE3\x83\x9E\xE3\x82\xA4 \xF0\x9F\x93\xB7");
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(TextTest, BrokenUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xE3\x83"), u"a\uFFFD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}
