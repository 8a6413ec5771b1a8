// Text helpers: UTF-8 names, trimming, numbers, the model line, grouping and progress.
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/Text.h"

namespace {

TEST(Utf8, ValidationAndCutting)
{
    EXPECT_TRUE(IsValidBmpUtf8(""));
    EXPECT_TRUE(IsValidBmpUtf8("plain"));
    EXPECT_TRUE(IsValidBmpUtf8("Привет €"));
    EXPECT_TRUE(IsValidBmpUtf8("\xEF\xBF\xBF"));          // U+FFFF, last of the plane
    EXPECT_FALSE(IsValidBmpUtf8("\xF0\x9F\x98\x80"));     // beyond the plane
    EXPECT_FALSE(IsValidBmpUtf8("\xE0\x80\x80"));         // overlong
    EXPECT_FALSE(IsValidBmpUtf8("\xC1\xBF"));             // overlong
    EXPECT_FALSE(IsValidBmpUtf8("\xED\xBF\xBF"));         // surrogate
    EXPECT_FALSE(IsValidBmpUtf8("\x80"));                 // stray continuation
    EXPECT_FALSE(IsValidBmpUtf8("\xE2\x82"));             // cut short
    EXPECT_FALSE(IsValidBmpUtf8("\xE2\x82x"));

    EXPECT_EQ(CutToChars("Привет", 3), "При");
    EXPECT_EQ(CutToChars("a€b", 2), "a€");
    EXPECT_EQ(CutToChars("abc", 0), "");
    EXPECT_EQ(CutToChars("abc", 10), "abc");

    EXPECT_EQ(NameFromWire(std::string(57, 'n')), std::string(57, 'n'));
    EXPECT_EQ(NameFromWire("a\xFF"), "a\xFF");
}

TEST(HandsetNames, TheHeaderNamesTheFileAskedFor)
{
    const std::string whole = std::string(56, 'n') + "tail.txt";
    EXPECT_TRUE(SameHandsetName("a.txt", "a.txt"));
    EXPECT_TRUE(SameHandsetName(whole, std::string(56, 'n')));   // the header gives the shown cut
    EXPECT_TRUE(SameHandsetName(std::string(56, 'n'), whole));
    EXPECT_FALSE(SameHandsetName("a.txt", "b.txt"));
    EXPECT_FALSE(SameHandsetName(whole, std::string(55, 'n')));
    EXPECT_FALSE(SameHandsetName(std::string(56, 'n') + "x", std::string(56, 'n') + "y"));
    EXPECT_FALSE(SameHandsetName("a.txt", ""));

    for (const std::string name : {"a.txt", ".hidden", "a\xEF\xBF\xBD"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const std::string& name : std::vector<std::string>{"", ".", "..", "a/b", "a\\b", std::string("a\0b", 3)})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

TEST(HandsetNames, PcNamesOneToOneAndPrintedNamesWithoutControls)
{
    // Handset name, its PC file name, its printed form.
    const std::vector<std::vector<std::string>> table = {
        {"tune.mmf", "tune.mmf", "tune.mmf"},
        {"Привет.txt", "Привет.txt", "Привет.txt"},
        {"r\xFE.txt", "r%FE.txt", "r\xEF\xBF\xBD.txt"},
        {"a\nb\x1B[2J", "a%0Ab%1B[2J", "a\\x0Ab\\x1B[2J"},
        {"c1\xC2\x9B", "c1\xC2\x9B", "c1\\u009B"},
        {"100%", "100%", "100%"},
        {"%FE.txt", "%25FE.txt", "%FE.txt"},
        {"a/b\\c", "a%2Fb%5Cc", "a/b\\c"},
        {"..", "%2E%2E", ".."},
    };
    for (const auto& row : table) {
        EXPECT_EQ(PcFileName(row[0]), row[1]) << row[0];
        EXPECT_EQ(PercentDecoded(row[1]), row[0]) << row[0];
        EXPECT_EQ(PrintableName(row[0]), row[2]) << row[0];
    }
}

TEST(TrimCtl, BothEnds)
{
    EXPECT_EQ(TrimCtl(" \r\n\t x y \x01\x1F "), "x y");
    EXPECT_EQ(TrimCtl("\r\n"), "");
    EXPECT_EQ(TrimCtl("é"), "é");   // bytes above 127 are not blanks
}

TEST(ParseNumbers, Int32)
{
    const std::pair<const char*, std::int32_t> good[] = {
        {"0", 0}, {"+5", 5}, {"-5", -5}, {"007", 7},
        {"2147483647", 2147483647}, {"-2147483648", std::numeric_limits<std::int32_t>::min()},
    };
    for (const auto& [text, value] : good) {
        std::int32_t out = 1;
        EXPECT_TRUE(ParseInt32(text, out)) << text;
        EXPECT_EQ(out, value) << text;
    }
    for (const char* text : {"", "-", "+", " 5", "5 ", "1e3", "0x10", "2147483648", "-2147483649",
                             "99999999999999999999999"}) {
        std::int32_t out = 0;
        EXPECT_FALSE(ParseInt32(text, out)) << text;
    }
}

TEST(ParseNumbers, UInt32)
{
    std::uint32_t out = 0;
    EXPECT_TRUE(ParseUInt32("4294967295", out));
    EXPECT_EQ(out, 4294967295u);
    EXPECT_TRUE(ParseUInt32("3421780262", out));
    EXPECT_EQ(out, 0xCBF43926u);
    for (const char* text : {"", "-1", "4294967296", "12a"})
        EXPECT_FALSE(ParseUInt32(text, out)) << text;
}

TEST(ExtractModel, ModelLineOrError)
{
    EXPECT_EQ(ExtractModel("\nSGH-X100\r\n\r\nOK"), "SGH-X100");
    EXPECT_EQ(ExtractModel("\r\n  Model 5 \r\n\r\nOK\r\n"), "Model 5");
    EXPECT_EQ(ExtractModel("OK"), "Extract Err");
    EXPECT_EQ(ExtractModel("\r\nOK\r\n"), "Extract Err");
    EXPECT_EQ(ExtractModel(""), "Extract Err");
}

TEST(FormatGrouped, Groups)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {2048, "2,048"}, {12345, "12,345"},
        {1234567, "1,234,567"}, {-2048, "-2,048"}, {-999, "-999"},
        {std::numeric_limits<std::int64_t>::min(), "-9,223,372,036,854,775,808"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatGrouped(value, ","), text) << value;
    EXPECT_EQ(FormatGrouped(524289, "\xC2\xA0"), "524\xC2\xA0" "289");
}

TEST(ProgressPercent, RoundsHalfToEven)
{
    struct Case {
        std::int64_t done, total;
        int percent;
    };
    const Case cases[] = {
        {2048, 4096, 50}, {0, 4096, 0}, {4096, 4096, 100}, {0, 0, 100},
        {1, 8, 12},      // 12.5
        {3, 8, 38},      // 37.5
        {1, 200, 0},     // 0.5
        {3, 200, 2},     // 1.5
        {1, 3, 33}, {2, 3, 67}, {199, 200, 100},   // 99.5
        {5000, 4096, 100},   // more than announced stays at the end of the bar
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

} // namespace
