// File read: the header block and the data blocks.
#include <gtest/gtest.h>

#include "ProtocolTestUtil.h"
#include "protocol/ReadBlock.h"

namespace {

std::string Header(std::string_view type, std::string_view size, std::string_view crc,
                   std::string_view name = "tune.mmf")
{
    return "\r\n+FSFR: 0,\"" + std::string(name) + "\"," + std::string(type) + ",0,0," +
           std::string(size) + ",0,0,\"dd\",0," + std::string(crc) + "\r\n#OK#\r\n";
}

TEST(ParseReadHeader, Fields)
{
    const ReadHeader h = ParseReadHeader(Header("302", "2048", "3421780262"));
    ASSERT_TRUE(h.Ok) << h.Error;
    EXPECT_EQ(h.Info.Name, "tune.mmf");
    EXPECT_EQ(h.Info.FileType, 302);
    EXPECT_EQ(h.Info.Size, 2048);
    EXPECT_EQ(h.Info.Date, "dd");
    EXPECT_EQ(h.Info.Kind, 1);
    EXPECT_EQ(h.Info.Crc, 0xCBF43926u);
    // A comma inside the quoted name stays in the name.
    EXPECT_EQ(ParseReadHeader(Header("302", "2048", "1", "photo 1,2.jpg")).Info.Name, "photo 1,2.jpg");
}

TEST(ParseReadHeader, EmptyFileWithZeroCrc)
{
    const ReadHeader h = ParseReadHeader(Header("0", "0", "0", "empty.txt"));
    ASSERT_TRUE(h.Ok) << h.Error;
    EXPECT_EQ(h.Info.Size, 0);
    EXPECT_EQ(h.Info.Kind, 2);
    EXPECT_EQ(h.Info.Crc, 0u);
}

TEST(ParseReadHeader, Limits)
{
    EXPECT_TRUE(ParseReadHeader(Header("1", "524289", "4294967295")).Ok);
    EXPECT_EQ(ParseReadHeader(Header("1", "1", "4294967295")).Info.Crc, 0xFFFFFFFFu);
    EXPECT_EQ(ParseReadHeader(Header("-1", "1", "1")).Info.FileType, -1);
}

TEST(ParseReadHeader, RefusesWhatCannotBeRead)
{
    const std::pair<const char*, std::string> cases[] = {
        {"no +FSFR:", "\r\n+FSDL: 0,\"a\",1,0,0,5,0,0,\"d\",0,1\r\n#OK#\r\n"},
        {"nothing", ""},
        {"type not a number", Header("abc", "5", "1")},
        {"size not a number", Header("1", "5x", "1")},
        {"size empty", Header("1", "", "1")},
        {"size negative", Header("1", "-5", "1")},
        {"size above the limit", Header("1", "524290", "1")},
        {"size beyond 32 bits", Header("1", "99999999999", "1")},
        {"CRC above 32 bits", Header("1", "5", "4294967296")},
        {"CRC negative", Header("1", "5", "-1")},
        {"CRC not a number", Header("1", "5", "0x1F")},
        {"CRC missing", Header("1", "5", "")},
    };
    for (const auto& [what, reply] : cases) {
        const ReadHeader h = ParseReadHeader(reply);
        EXPECT_FALSE(h.Ok) << what;
        EXPECT_FALSE(h.Error.empty()) << what;
        EXPECT_EQ(h.Error.back(), '.') << what;
    }
}

TEST(ExtractReadData, Framing)
{
    const std::string data("\x00\x01payload\r\n", 11);
    const std::string cases[] = {
        DataBlock(data),
        DataBlock(data, ""),
        DataBlock(data, std::string(41, '\r')),
        DataBlock(data, "\r\n", ""),
        DataBlock(data, "\r\n", "\r\n\r\n\n"),
    };
    for (const std::string& block : cases) {
        const ReadData d = ExtractReadData(Bytes(block));
        ASSERT_EQ(d.Code, 0) << block;
        // Line breaks at the end of the data are data.
        EXPECT_EQ(block.substr(static_cast<std::size_t>(d.Offset), static_cast<std::size_t>(d.Length)),
                  data);
    }
}

TEST(ExtractReadData, LengthWithLeadingBlanks)
{
    const std::string data(1024, 'z');
    const std::string block = "\r\n+FSFR:   1024,  12," + data + "#OK#\r\n";
    const ReadData d = ExtractReadData(Bytes(block));
    EXPECT_EQ(d.Code, 0);
    EXPECT_EQ(d.Offset, 21);
    EXPECT_EQ(d.Length, 1024);
}

TEST(ExtractReadData, ErrorCodes)
{
    auto code = [](const std::string& block) {
        return ExtractReadData(Bytes(block)).Code;
    };
    std::string shortBlock = DataBlock("abcd");
    shortBlock.replace(2 + 6, 7, "      5");
    std::string longBlock = DataBlock("abcd");
    longBlock.replace(2 + 6, 7, "      3");
    std::string badLength = DataBlock("abcd");
    badLength.replace(2 + 6, 7, "   4x  ");
    std::string blankLength = DataBlock("abcd");
    blankLength.replace(2 + 6, 7, "       ");
    std::string trailingBlank = DataBlock("abcd");
    trailingBlank.replace(2 + 6, 7, "     4 ");
    std::string badSecond = DataBlock("abcd");
    badSecond.replace(2 + 14, 4, " 1a ");
    std::string noEnd = DataBlock("abcd");
    noEnd.replace(noEnd.size() - 6, 4, "#OK!");

    EXPECT_EQ(code(DataBlock("abcd", std::string(42, '\n'))), -1);
    EXPECT_EQ(code(noEnd), -1);
    EXPECT_EQ(code("\r\nOK\r\n"), -1);
    EXPECT_EQ(code("#OK"), -1);
    EXPECT_EQ(code(""), -1);
    EXPECT_EQ(code("\r\n+FSFR:  4,#OK#\r\n"), -1);   // header cut short
    EXPECT_EQ(code(shortBlock), -2);
    EXPECT_EQ(code(longBlock), -2);
    EXPECT_EQ(code(badLength), -3);
    EXPECT_EQ(code(blankLength), -3);
    EXPECT_EQ(code(trailingBlank), -3);
    EXPECT_EQ(code(badSecond), -4);
    EXPECT_EQ(code(DataBlock("")), 0);
}

TEST(DataBlockExtent, CountsUpToTheBlockEnd)
{
    auto extent = [](const std::string& bytes) { return DataBlockExtent(Bytes(bytes)); };
    const std::string block = DataBlock(std::string(100, 'q'));
    EXPECT_EQ(extent(block), 2 + 19 + 100 + 4);
    EXPECT_EQ(extent(block.substr(0, 21)), 2 + 19 + 100 + 4);   // the header alone suffices
    EXPECT_EQ(extent(block.substr(0, 20)), -1);
    EXPECT_EQ(extent(DataBlock("x", std::string(41, '\n'))), 41 + 19 + 1 + 4);
    EXPECT_EQ(extent(DataBlock("x", std::string(42, '\n'))), -1);
    EXPECT_EQ(extent("\r\nOK\r\n"), -1);
    std::string negative = block;
    negative.replace(2 + 6, 7, "     -1");
    EXPECT_EQ(extent(negative), -1);
}

} // namespace
