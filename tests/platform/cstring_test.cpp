#include <gtest/gtest.h>

#include <string>

#include "app/resource.h"
#include "platform/CString.h"

namespace {

struct TrimCase {
    char const* name;
    char const* input;
    char const* expected;
};

TrimCase const trim_cases[] = {
    { "Empty", "", "" },
    { "OnlyWhiteSpace", " \t\n\v\f\r", "" },
    { "NothingToTrim", "a.txt", "a.txt" },
    { "BothEnds", " \t a.txt\r\n", "a.txt" },
    { "InnerSpaceStays", "  my file.txt  ", "my file.txt" },
    { "OtherControlBytesStay",
        "\x1a"
        "a\x01",
        "\x1a"
        "a\x01" },
    { "HighBytesAreNotWhiteSpace", "\xa0x\xa0", "\xa0x\xa0" },
};

void PrintTo(TrimCase const& row, std::ostream* out) { *out << row.name; }

class Trim : public testing::TestWithParam<TrimCase> {};

TEST_P(Trim, RemovesAsciiWhiteSpaceAtBothEnds)
{
    CString text(GetParam().input);
    text.TrimLeft();
    text.TrimRight();
    EXPECT_EQ(std::string(text), GetParam().expected);
    EXPECT_EQ(text.GetLength(), static_cast<int>(std::string(GetParam().expected).size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Trim, testing::ValuesIn(trim_cases), [](auto const& info) { return std::string(info.param.name); });

TEST(CString, TrimLeftKeepsTrailingAndTrimRightKeepsLeading)
{
    CString left(" x ");
    left.TrimLeft();
    EXPECT_EQ(std::string(left), "x ");
    CString right(" x ");
    right.TrimRight();
    EXPECT_EQ(std::string(right), " x");
}

TEST(CString, NullTextMakesAnEmptyString) { EXPECT_EQ(CString(nullptr).GetLength(), 0); }

TEST(CString, LoadStringReadsTheGreeting)
{
    CString greeting;
    EXPECT_TRUE(greeting.LoadString(IDS_GREETING));
    EXPECT_EQ(std::string(greeting), "Hello from MFC!");
}

TEST(CString, LoadStringOfAnUnknownIdLeavesItEmpty)
{
    CString text("previous");
    EXPECT_FALSE(text.LoadString(999));
    EXPECT_EQ(text.GetLength(), 0);
}

}  // namespace
