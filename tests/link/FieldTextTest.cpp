#include <gtest/gtest.h>

#include <string>

#include "link/FieldText.h"

TEST(FieldText, StoreCutsToTheFieldAndTerminates) {
    struct Case {
        std::u16string text;
        std::u16string stored;
    };
    const Case cases[] = {
        {u"", u""},
        {u"COM8", u"COM8"},
        {u"ABCDE", u"ABCD"},  // five units into a field of five: four and the terminator
        {std::u16string(u"AB\0CD", 5), u"AB"},
        // A pair that the cut would split goes as a whole.
        {u"ABC\U0001F4F7", u"ABC"},
        {u"AB\U0001F4F7", u"AB\U0001F4F7"},
    };
    for (const auto& c : cases) {
        char16_t field[7];
        std::fill(std::begin(field), std::end(field), u'x');
        fieldtext::Store(field, 5, c.text);
        EXPECT_EQ(fieldtext::Read(field, 5), c.stored);
        EXPECT_EQ(field[4], u'\0');
        EXPECT_EQ(field[5], u'x') << "written past the field";
    }
}

TEST(FieldText, ReadStopsAtTheFieldsEndWithoutATerminator) {
    const char16_t full[4] = {u'A', u'B', u'C', u'D'};
    EXPECT_EQ(fieldtext::Read(full, 4), u"ABCD");
    EXPECT_EQ(fieldtext::Read(full, 2), u"AB");
}
