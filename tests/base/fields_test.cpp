#include "base/fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace zrx {
namespace {

std::vector<std::string> Fields(const FieldList& list) {
    std::vector<std::string> out;
    for (int i = 1; i <= list.Count(); ++i) out.emplace_back(list.Field(i));
    return out;
}

using V = std::vector<std::string>;

void ExpectSameSplit(const PlainFieldList& plain, const FieldList& list) {
    EXPECT_EQ(plain.Count(), list.Count());
    for (int i = 0; i <= std::min(list.Count() + 1, PlainFieldList::kReadable); ++i) {
        EXPECT_EQ(plain.Field(i), list.Field(i)) << "field " << i;
        EXPECT_EQ(plain.Value(i), list.Value(i)) << "field " << i;
    }
}

struct SplitCase {
    const char* name;
    const char* text;
    char separator;
    V expected;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, GivesTheFieldsOfTheLine) {
    const SplitCase& c = GetParam();
    const FieldList list = SplitBySeparator(c.text, c.separator);
    EXPECT_EQ(Fields(list), c.expected);
    EXPECT_EQ(list.Value(0), static_cast<float>(c.expected.size()));
    // The one-field reader agrees wherever it answers, and answers whenever there is no quote.
    const bool quoted = std::string_view(c.text).find('"') != std::string_view::npos;
    for (int i = 0; i <= list.Count() + 1; ++i) {
        const auto field = PlainField(c.text, c.separator, i);
        EXPECT_EQ(field.has_value(), !quoted);
        if (field) {
            EXPECT_EQ(*field, list.Field(i)) << "field " << i;
        }
    }
    // So does the split of lines without quotes.
    PlainFieldList plain;
    EXPECT_EQ(plain.Split(c.text, c.separator), !quoted);
    if (!quoted) ExpectSameSplit(plain, list);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SplitTest,
    ::testing::Values(SplitCase{"plain", "a,b,c", ',', V{"a", "b", "c"}},
                      SplitCase{"trailing_separator", "a,b,", ',', V{"a", "b", ""}},
                      SplitCase{"empty_text", "", ',', V{""}},
                      SplitCase{"leading_separator", ",a", ',', V{"", "a"}},
                      SplitCase{"quoted_keeps_separator", "\"x,y\",z", ',', V{"x,y", "z"}},
                      SplitCase{"char_after_quote_skipped", "\"x\"q,z", ',', V{"x", "", "z"}},
                      SplitCase{"empty_quotes", "\"\",x", ',', V{"", "x"}},
                      SplitCase{"quote_last_char", "a,\"", ',', V{"a", "\""}},
                      SplitCase{"quoted_at_end_swallows_comma", "\"x\",", ',', V{"x"}},
                      SplitCase{"unclosed_quote_takes_rest", "a,\"b,c", ',', V{"a", "b,c"}},
                      SplitCase{"fields_not_trimmed", " a , b ", ',', V{" a ", " b "}},
                      SplitCase{"bar_trailing", "A|B|", '|', V{"A", "B", ""}},
                      SplitCase{"lone_bar", "|", '|', V{"", ""}},
                      SplitCase{"bar_ignores_commas", "a,b|c", '|', V{"a,b", "c"}},
                      SplitCase{"quote_mid_field_is_plain", "a\"b,c", ',', V{"a\"b", "c"}}),
    [](const auto& p) { return std::string(p.param.name); });

// The plain split looks at eight characters at a time: separators and quotes anywhere in a long
// line, bytes with the high bit set and many fields read as the full split reads them.
TEST(SplitTest, ThePlainSplitOfLongLinesIsTheFullSplit) {
    const std::string high = "\x80\xac\xff,\xae\xac";
    const std::vector<std::string> lines = {
        "1,0,1,PART100001,Logic.PART",    "2,0,1,SYM100000,Logic.SYMBOL,A_Upg.SYMBOL",
        "12345678,abcdefgh,,,,,,,,,,,z",  ",,,,,,,,",
        "abcdefgh" + high + "ijklmnop,q", "a|b,c|" + high,
        "abcdefghijklmnop\"q,r",          "abcdefghijklmno,"};
    PlainFieldList plain;
    for (const char separator : {',', '|'}) {
        for (const std::string& line : lines) {
            FieldList list;
            SplitInto(line, separator, list);
            const bool quoted = line.find('"') != std::string::npos;
            ASSERT_EQ(plain.Split(line, separator), !quoted) << line;
            if (!quoted) ExpectSameSplit(plain, list);
        }
    }
}

TEST(SplitTest, FieldsBeyondTheCountAreEmptyAndZero) {
    const FieldList list = SplitByComma("7,12");
    EXPECT_FALSE(list.Has(3));
    EXPECT_EQ(list.Field(3), "");
    EXPECT_EQ(list.Field(0), "");
    EXPECT_EQ(list.Value(3), 0.0f);
    EXPECT_EQ(list.Value(1), 7.0f);
    EXPECT_EQ(list.Value(2), 12.0f);
}

TEST(SplitTest, AReusedListHoldsOnlyTheLastLine) {
    FieldList list;
    SplitInto("9,\"long, quoted\",3.5,x", ',', list);
    EXPECT_EQ(list.Value(3), 3.5f);  // values worked out for the first line ...
    SplitInto("2,7", ',', list);
    EXPECT_EQ(list.Count(), 2);  // ... are not those of the next
    EXPECT_EQ(list.Field(2), "7");
    EXPECT_EQ(list.Value(2), 7.0f);
    EXPECT_EQ(list.Field(3), "");
    EXPECT_EQ(list.Value(3), 0.0f);
    SplitInto("1,2,8", ',', list);
    EXPECT_EQ(list.Value(3), 8.0f);
}

TEST(SplitTest, ValuesAreSinglePrecision) {
    const FieldList list = SplitByBar("0.1");
    EXPECT_EQ(list.Value(1), 0.1f);
}

TEST(FieldValueTest, ReadsTheLeadingNumberAsTheListFormatNeedsIt) {
    EXPECT_DOUBLE_EQ(FieldValue(""), 0.0);
    EXPECT_DOUBLE_EQ(FieldValue("1,5"), 1.5);    // decimal comma
    EXPECT_DOUBLE_EQ(FieldValue("1,5,7"), 1.5);  // only the first comma becomes a point
    EXPECT_DOUBLE_EQ(FieldValue("12abc"), 12.0);
    EXPECT_DOUBLE_EQ(FieldValue("abc"), 0.0);
    EXPECT_DOUBLE_EQ(FieldValue(" 7"), 7.0);
    EXPECT_DOUBLE_EQ(FieldValue("1 2 3"), 123.0);  // blanks inside the number are skipped
    EXPECT_DOUBLE_EQ(FieldValue("01"), 1.0);
    EXPECT_DOUBLE_EQ(FieldValue("1.0"), 1.0);
    EXPECT_DOUBLE_EQ(FieldValue("-4.25"), -4.25);
    EXPECT_DOUBLE_EQ(FieldValue("1.2.3"), 1.2);  // a second point ends the number
    EXPECT_DOUBLE_EQ(FieldValue("2E3"), 2000.0);
    EXPECT_DOUBLE_EQ(FieldValue("2e-1x"), 0.2);
    EXPECT_DOUBLE_EQ(FieldValue("5E"), 5.0);  // an exponent without digits is not part of it
    EXPECT_DOUBLE_EQ(FieldValue(".5"), 0.5);
    EXPECT_DOUBLE_EQ(FieldValue("-"), 0.0);
}

TEST(LeadingNumberTest, ACommaEndsTheNumber) {
    EXPECT_DOUBLE_EQ(LeadingNumber("1,5"), 1.0);
    EXPECT_DOUBLE_EQ(LeadingNumber(" 9"), 9.0);
    EXPECT_DOUBLE_EQ(LeadingNumber(""), 0.0);
}

TEST(LeadingNumberTest, WholeNumbersOfAnyLengthAreRead) {
    const struct {
        const char* text;
        double value;
    } cases[] = {{"0", 0.0},
                 {"+12", 12.0},
                 {"007", 7.0},
                 {" 4 2", 42.0},
                 {"-99", -99.0},
                 {"12.", 12.0},
                 {"3e2", 300.0},
                 {"-5E-1", -0.5},
                 {"123456789012345", 123456789012345.0},
                 {"1234567890123456", 1234567890123456.0},
                 {"99999999999999999999", 1e20},
                 {"18446744073709551617", 18446744073709551617.0}};
    for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
    EXPECT_TRUE(std::signbit(LeadingNumber("-0")));
}

TEST(LeadingNumberTest, RoundsHalvesToEven) {
    EXPECT_EQ(LeadingInteger("2.5"), 2);
    EXPECT_EQ(LeadingInteger("3.5"), 4);
    EXPECT_EQ(LeadingInteger("-0.5"), 0);
    EXPECT_EQ(LeadingInteger("-1.5"), -2);
    EXPECT_EQ(LeadingInteger("0.6"), 1);
    EXPECT_EQ(LeadingInteger("1,9"), 1);
    EXPECT_EQ(LeadingInteger("x"), 0);
}

TEST(LeadingNumberTest, NumbersBeyond32BitsHaveNoValue) {
    EXPECT_EQ(LeadingInteger("2147483647"), 2147483647);
    EXPECT_EQ(LeadingInteger("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(LeadingInteger("2147483648").has_value());
    EXPECT_FALSE(LeadingInteger("1e400").has_value());
}

}  // namespace
}  // namespace zrx
