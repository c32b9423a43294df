#include "base/command_line.h"

#include <gtest/gtest.h>

namespace zrx {
namespace {

struct TokenCase {
    const char* name;
    const char* text;
    const char* token;
    const char* rest;
    int16_t error;
};

class NextCommandTokenTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(NextCommandTokenTest, SplitsOffTheFirstToken) {
    const TokenCase& c = GetParam();
    std::string text = c.text;
    int16_t error = 99;
    EXPECT_EQ(NextCommandToken(text, error), c.token);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(text, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, NextCommandTokenTest,
    ::testing::Values(TokenCase{"stops_at_slash", "   C:\\Zarnix32,B  /x", "C:\\Zarnix32,B", "/x", 0},
                      TokenCase{"quoted", "\"C:\\My Suite\",x", "C:\\My Suite", ",x", 0},
                      TokenCase{"stops_at_blank", "C:\\My Suite\\Zarnix32", "C:\\My", "Suite\\Zarnix32", 0},
                      TokenCase{"stops_at_quote", "abc\"def\"", "abc", "\"def\"", 0},
                      TokenCase{"whole_text", "/opt/zarnix", "", "/opt/zarnix", -1},
                      TokenCase{"single_token", "dir,TRELM", "dir,TRELM", "", 0},
                      TokenCase{"unclosed_quote", "\"abc", "", "\"abc", -1},
                      TokenCase{"empty", "   ", "", "", -1},
                      TokenCase{"quoted_blank_token", "\"  \" x", "", " x", -1},
                      TokenCase{"quoted_token_trimmed", "\" a b \"  rest ", "a b", "rest", 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NextCommandTokenTest, RefusesTextsBeyondSixteenBitPositions) {
    std::string text(40000, 'a');
    int16_t error = 0;
    EXPECT_EQ(NextCommandToken(text, error), "");
    EXPECT_EQ(error, -1);
}

}  // namespace
}  // namespace zrx
