// Folder listings: entry fields and the lines of a listing block.
#include <gtest/gtest.h>

#include "ProtocolTestUtil.h"
#include "protocol/Listing.h"
#include "protocol/Text.h"

namespace {

std::vector<TFileInfo> Parse(std::string_view block)
{
    return ParseListingBlock(Bytes(block));
}

std::string Line(std::string_view name, std::string_view type = "302",
                 std::string_view size = "2048")
{
    return "+FSDL: 0,\"" + std::string(name) + "\"," + std::string(type) + ",0,0,0," +
           std::string(size) + ",0,\"dd\",0\r\n";
}

TEST(ParseListingBlock, ExampleLine)
{
    const auto entries = Parse("+FSDL: 0,\"tune.mmf\",302,0,0,0,2048,0,\"dd\",0\r\n#OK#\r\n");
    ASSERT_EQ(entries.size(), 1u);
    TFileInfo expected;
    expected.Name = "tune.mmf";
    expected.FileType = 302;
    expected.Size = 2048;
    expected.Date = "dd";
    expected.Kind = 1;
    EXPECT_EQ(entries[0], expected);
}

TEST(ParseListingBlock, LinesInOrderAndSkippedLines)
{
    const std::string block = "\r\n" + Line("a.jpg", "106", "10") + "junk line\r\n" +
                              "   " + Line("b.mid", "306", "0") + "\r\n#OK#\r\n";
    const auto entries = Parse(block);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, "a.jpg");
    EXPECT_EQ(entries[0].FileType, 106);
    EXPECT_EQ(entries[0].Kind, 1);
    EXPECT_EQ(entries[1].Name, "b.mid");
    EXPECT_EQ(entries[1].Size, 0);
    EXPECT_EQ(entries[1].Kind, 2);
}

TEST(ParseListingBlock, EntryAsLastLineWithoutCarriageReturnIsNotListed)
{
    std::string block = Line("one") + Line("two");
    block.resize(block.size() - 2);   // the second line loses its CR LF
    const auto entries = Parse(block);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "one");
    // A line ended by CR alone (no LF) is complete.
    EXPECT_EQ(Parse(block + "\r").size(), 2u);
}

TEST(ParseListingBlock, BadEntriesAreRefusedAndTheRestParsed)
{
    const std::string block = Line("c.txt", "x") +         // type not a number
                              Line("d.txt", "1", "12k") +  // size not a number
                              "+FSDL:\r\n+FSDL: \r\n" +    // nothing after the tag
                              Line("ok.txt") + "#OK#\r\n";
    std::vector<std::string> refused;
    const auto entries = ParseListingBlock(Bytes(block), &refused);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "ok.txt");
    EXPECT_EQ(refused, (std::vector<std::string>{"+FSDL: 0,\"c.txt\",x,0,0,0,2048,0,\"dd\",0",
                                                 "+FSDL: 0,\"d.txt\",1,0,0,0,12k,0,\"dd\",0", "+FSDL:", "+FSDL:"}));
}

TEST(ParseListingBlock, NothingToList)
{
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("#OK#\r\n").empty());
    EXPECT_TRUE(ParseListingBlock({}).empty());
}

struct NameCase {
    const char* what;
    std::string wire;
    std::string listed;   // the record keeps the wire bytes whole; the list shows this
};

TEST(ParseDirEntry, NamesAreKeptWholeAndOnlyTheirShowingIsCut)
{
    std::string cyr60;
    for (int i = 0; i < 60; ++i)
        cyr60 += "ж";
    const std::string bad = "\xEF\xBF\xBD";   // U+FFFD
    const NameCase cases[] = {
        {"plain", "tune.mmf", "tune.mmf"},
        {"commas inside the quotes", "photo 1,2.jpg", "photo 1,2.jpg"},
        {"quotes and a comma inside", "a \"b\" ,c", "a \"b\" ,c"},
        {"56 characters stay", std::string(56, 'a'), std::string(56, 'a')},
        {"longer names are cut", std::string(70, 'b'), std::string(56, 'b')},
        {"cut counts characters, not bytes", cyr60, cyr60.substr(0, 112)},
        {"three-byte characters", "€uro", "€uro"},
        {"invalid byte", "bad\xFF.txt", "bad" + bad + ".txt"},
        {"truncated sequence", "bad\xD0", "bad" + bad},
        {"overlong form", "\xC0\xAF", bad + bad},
        {"surrogate", "\xED\xA0\x80", bad + bad + bad},
        {"four-byte character", "\xF0\x9F\x8E\xB5.mmf", bad + bad + bad + bad + ".mmf"},
        {"empty", "", ""},
    };
    for (const NameCase& c : cases) {
        const auto info = ParseDirEntry("0,\"" + c.wire + "\",1,0,0,0,5,0,\"d\",");
        ASSERT_TRUE(info) << c.what;
        EXPECT_EQ(info->Name, c.wire) << c.what;
        EXPECT_EQ(ListedName(info->Name), c.listed) << c.what;
    }
}

TEST(ParseDirEntry, Fields)
{
    auto info = ParseDirEntry("0,\"a\",-3,0,0,0,-7,0,\"2024-01-02 10:00\",");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->FileType, -3);
    EXPECT_EQ(info->Size, -7);
    EXPECT_EQ(info->Kind, 1);
    EXPECT_EQ(info->Date, "2024-01-02 10:00");
    EXPECT_EQ(info->Crc, 0u);

    // Without a comma after the date, the date is empty.
    info = ParseDirEntry("0,\"a\",1,0,0,0,5,0,\"dd\"");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Date, "");

    // Numbers that do not fit are not numbers.
    EXPECT_FALSE(ParseDirEntry("0,\"a\",1,0,0,0,2147483648,0,\"d\","));
    EXPECT_FALSE(ParseDirEntry(""));
}

TEST(TakeField, QuotedFieldsRunToTheirClosingQuote)
{
    std::string text = "a,\"b,c\",\"d";
    EXPECT_EQ(TakeField(text), "a");
    EXPECT_EQ(TakeField(text), "\"b,c\"");
    EXPECT_EQ(text, "\"d");
    // A quote never closed: cut at the first comma.
    text = "\"e,f";
    EXPECT_EQ(TakeField(text), "\"e");
    // No comma after the field: empty, the text untouched.
    for (const char* tail : {"tail", "\"g,h\""}) {
        text = tail;
        EXPECT_EQ(TakeField(text), "");
        EXPECT_EQ(text, tail);
    }
}

} // namespace
