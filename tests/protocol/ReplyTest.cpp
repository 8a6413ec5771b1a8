// Reply framing: classification, the echo check, command texts and write arguments.
#include <gtest/gtest.h>

#include "ProtocolTestUtil.h"
#include "protocol/CRC.h"
#include "protocol/Reply.h"

namespace {

TReplyClass Classify(std::string_view s, bool readData = false)
{
    ReplyContext ctx;
    ctx.ReadDataExpected = readData;
    return ClassifyReply(Bytes(s), ctx);
}

struct ClassCase {
    const char* what;
    std::string bytes;
    TReplyClass expected;
};

TEST(ClassifyReply, EndingsAndEdgeCases)
{
    const ClassCase cases[] = {
        {"nothing", "", rcEmpty},
        {"one byte", "K", rcIncomplete},
        {"one line feed", "\n", rcIncomplete},
        {"OK without CR LF", "OK", rcIncomplete},
        {"OK with LF only", "OK\n", rcIncomplete},
        {"OK with CR only", "OK\r", rcIncomplete},
        {"final", "OK\r\n", rcFinal},
        {"final after lines", "\r\nModel\r\n\r\nOK\r\n", rcFinal},
        {"trailing control bytes", "OK\r\n\r\n\r\n", rcFinal},
        {"trailing bytes not ending CR LF", "OK\r\n\r", rcIncomplete},
        {"blank is no control byte", "OK \r\n", rcIncomplete},
        {"prompt", "\r\n##>\r\n", rcPrompt},
        {"prompt, several line ends", "##>\r\n\r\n", rcPrompt},
        {"block", "+FSDL: x\r\n#OK#\r\n", rcBlock},
        {"block is not final", "#OK#\r\n", rcBlock},
        {"block with trailing bytes", "#OK#\r\n\n\r\n", rcBlock},
        {"error", "+CME ERROR: 4\r\n", rcError},
        {"error after line break", "\r\n+CME ERROR: 4\r\n", rcError},
        {"error after LF only", "x\n+CME ERROR\r\n", rcError},
        {"error outranks OK", "\r\n+CME ERROR: 3\r\nOK\r\n", rcError},
        {"error outranks block", "+CME ERROR: 3\r\n#OK#\r\n", rcError},
        {"error waits for CR LF", "\r\n+CME ERROR: 3", rcIncomplete},
        {"error inside a file name",
         "\r\n+FSDL: 0,\"x+CME ERROR.txt\",0,0,0,0,5,0,\"d\",0\r\n#OK#\r\n", rcBlock},
        {"error after a blank", "\r\n +CME ERROR\r\nOK\r\n", rcFinal},
        {"plain ERROR", "\r\nERROR\r\n", rcError},
        {"plain ERROR alone", "ERROR\r\n", rcError},
        {"ERROR is a whole line", "\r\nERRORS\r\nOK\r\n", rcFinal},
        {"ERROR starts its line", "\r\nNO ERROR\r\nOK\r\n", rcFinal},
        {"only line ends", "\r\n\r\n", rcIncomplete},
    };
    for (const ClassCase& c : cases)
        EXPECT_EQ(Classify(c.bytes), c.expected) << c.what;
}

TEST(ClassifyReply, RepliesOutsideDataBlocksAreClassifiedNormallyDuringARead)
{
    EXPECT_EQ(Classify("\r\nOK\r\n", true), rcFinal);
    EXPECT_EQ(Classify("\r\n+CME ERROR: 20\r\n", true), rcError);
    EXPECT_EQ(Classify("\r\nO", true), rcIncomplete);
    EXPECT_EQ(Classify("", true), rcEmpty);
}

// A data block whose data hold reply endings, delivered in two pieces split at every position:
// only the whole block is complete, and it is a block.
TEST(ClassifyReply, DataBlockIsCompleteOnlyWhenAllAnnouncedBytesAreIn)
{
    const std::string contents[] = {
        "OK\r\n",
        "#OK#\r\n",
        "##>\r\n",
        "+CME ERROR\r\n",
        "line\r\n+CME ERROR: 3\r\nOK\r\n",
        "\r\nOK\r\n#OK#\r\n##>\r\n",
    };
    for (const std::string& data : contents) {
        for (const std::string& where : {data, "abc" + data, data + "tail", data + data}) {
            const std::string block = DataBlock(where);
            for (std::size_t p = 1; p < block.size(); ++p)
                ASSERT_EQ(Classify(block.substr(0, p), true), rcIncomplete)
                    << "data " << where << " cut at " << p;
            EXPECT_EQ(Classify(block, true), rcBlock) << where;
        }
    }
}

TEST(ClassifyReply, DataBlockFramingCases)
{
    // The longest lead-in still counts as a data block; its data stay data.
    const std::string lead41(41, '\n');
    const std::string tricky = DataBlock("OK\r\n", lead41);
    EXPECT_EQ(Classify(tricky.substr(0, tricky.size() - 6), true), rcIncomplete);
    EXPECT_EQ(Classify(tricky, true), rcBlock);

    // Control bytes after "#OK#" must end in CR LF.
    EXPECT_EQ(Classify(DataBlock("abc", "\r\n", "\r\n\r"), true), rcIncomplete);
    EXPECT_EQ(Classify(DataBlock("abc", "\r\n", "\r\n\r\n"), true), rcBlock);
    EXPECT_EQ(Classify(DataBlock("abc", "", "\r\n"), true), rcBlock);
    EXPECT_EQ(Classify(DataBlock("", "\r\n", "\r\n"), true), rcBlock);

    // An error behind the block still counts.
    EXPECT_EQ(Classify(DataBlock("abc", "\r\n", "\r\n+CME ERROR: 1\r\n"), true), rcError);

    // More data than announced: the frame is broken, the ending decides (the extraction then
    // reports the wrong count).
    std::string surplus = DataBlock("abcd");
    surplus.replace(2 + 6, 7, "      3");
    EXPECT_EQ(Classify(surplus, true), rcBlock);

    // A length that cannot fit the receive buffer is no data block to wait for.
    std::string huge = DataBlock("abc");
    huge.replace(2 + 6, 7, "   5000");
    EXPECT_EQ(Classify(huge, true), rcBlock);
}

TEST(UnsolicitedLines, Table)
{
    const std::pair<std::string_view, int> cases[] = {
        {"RING", 1}, {"NO CARRIER", 1}, {"+CRING: VOICE", 1}, {"+CLIP: \"123\",129", 1},
        {"+CMTI: \"SM\",3", 1}, {"+CREG: 1", 1}, {"+CGREG: 5", 1}, {"+CIEV: 2,1", 1},
        {"+CUSD: 0", 1}, {"+CMT: ,23", 2}, {"+CDS: 25", 2}, {"+CBM: 88", 2},
        {"RINGTONE", 0}, {"RING ", 0}, {" RING", 0}, {"+CMTI", 0}, {"OK", 0}, {"ERROR", 0},
        {"+FSDL: 0,\"RING\",0,0,0,0,5,0,\"d\",0", 0}, {"+FSFR: 0", 0}, {"#OK#", 0}, {"", 0},
    };
    for (const auto& [line, lines] : cases)
        EXPECT_EQ(UnsolicitedLines(line), lines) << line;
}

TEST(DropUnsolicited, EveryLineThatIsNoPartOfTheReply)
{
    struct Case {
        const char* what;
        std::string bytes;
        TPhoneCommand command;   // pcNone: idle
        std::string echo;        // still due
        bool readData;
        std::string kept;
        std::vector<std::string> dropped;
    };
    const std::string block = DataBlock("\r\nRING\r\n");
    const std::string fsdl = CommandFSDL("/");
    const Case cases[] = {
        {"idle", "\r\nRING\r\n", pcNone, "", false, "\r\n", {"RING\r\n"}},
        {"idle, a code of no known kind", "\r\n+CSQ: 20,99\r\n^RSSI:3\r\n", pcNone, "", false, "\r\n",
         {"+CSQ: 20,99\r\n", "^RSSI:3\r\n"}},
        {"idle, a stray block stays", "\r\n#OK#\r\n", pcNone, "", false, "\r\n#OK#\r\n", {}},
        {"before the echo", "\r\nRING\r\n^MODE:5\r\nATZ\r\r\nOK\r\n", pcATZ, "ATZ\r", false, "\r\nATZ\r\r\nOK\r\n",
         {"RING\r\n", "^MODE:5\r\n"}},
        {"behind a final reply", "\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n+CSQ: 20,99\r\n", pcFSFE, "", false, "\r\nOK\r\n\r\n",
         {"+CMTI: \"SM\",3\r\n", "+CSQ: 20,99\r\n"}},
        {"with its message line", "\r\n+CMT: ,23\r\n0791\r\nOK\r\n", pcFSFE, "", false, "\r\nOK\r\n", {"+CMT: ,23\r\n0791\r\n"}},
        {"message line still to come", "\r\n+CMT: ,23\r\n07", pcFSFE, "", false, "\r\n+CMT: ,23\r\n07", {}},
        {"line not complete", "\r\n+CSQ: 2", pcNone, "", false, "\r\n+CSQ: 2", {}},
        {"the model is free text", "AT+CGMM\r\r\n+CSQ: 20,99\r\nx RING\r\n\r\nOK\r\n", pcCGMM, "AT+CGMM\r", false,
         "AT+CGMM\r\r\nx RING\r\n\r\nOK\r\n", {"+CSQ: 20,99\r\n"}},
        {"between entries", fsdl + "+FSDL: a\r\nNO CARRIER\r\n+CSQ: 20,99\r\n+FSDL: b\r\n#OK#\r\n", pcFSDL, fsdl, false,
         fsdl + "+FSDL: a\r\n+FSDL: b\r\n#OK#\r\n", {"NO CARRIER\r\n", "+CSQ: 20,99\r\n"}},
        {"inside read data", block, pcFSFR, "", true, block, {}},
        {"around read data", "\r\nRING\r\n+CSQ: 20,99\r\n" + block + "RING\r\n", pcFSFR, "", true, "\r\n" + block,
         {"RING\r\n", "+CSQ: 20,99\r\n", "RING\r\n"}},
        {"in front of a data block still coming", "\r\nRING\r\n" + block.substr(0, 25), pcFSFR, "", true,
         "\r\n" + block.substr(0, 25), {"RING\r\n"}},
        {"a data block whose length cannot be read", "\r\n+FSFR:    x1,   0,\r\nab\r\n#OK#\r\n", pcFSFR, "", true,
         "\r\n+FSFR:    x1,   0,\r\nab\r\n#OK#\r\n", {}},
    };
    for (const Case& c : cases) {
        std::string bytes = c.bytes;
        ReplyContext ctx;
        ctx.Command = c.command;
        ctx.Echo = c.echo;
        ctx.ReadDataExpected = c.readData;
        EXPECT_EQ(DropUnsolicited(bytes, ctx), c.dropped) << c.what;
        EXPECT_EQ(bytes, c.kept) << c.what;
    }
}

TEST(UnsolicitedPassDue, OnlyWhenALineMayHaveCompletedSinceTheLastPass)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t seen;        // bytes the last pass left, judged for the context below
        TPhoneCommand lastCommand;
        bool readData;
        bool due;
    };
    const std::string fsdl = CommandFSDL("/");
    const std::string block = DataBlock("ab\r\nRING\r\ncd");
    const std::string entries = fsdl + "+FSDL: a\r\n+FSD";
    const Case cases[] = {
        {"nothing seen, no line break", "\r", 0, pcFSDL, false, false},
        {"a line break behind the bytes seen", entries + "L: b\r\n", entries.size(), pcFSDL, false, true},
        {"line breaks only among the bytes seen", entries + "L: b", entries.size(), pcFSDL, false, false},
        {"the context changed: looked at from the start", entries + "L: b", entries.size(), pcNone, false, true},
        {"fewer bytes than seen: looked at from the start", "\r\nRING\r\n", 20, pcFSDL, false, true},
        {"inside a data block still coming, line breaks in its data", block.substr(0, block.size() - 5), 10, pcFSFR,
         true, false},
        {"the data block is complete", block, 10, pcFSFR, true, true},
    };
    for (const Case& c : cases) {
        ReplyContext ctx;
        ctx.Command = c.readData ? pcFSFR : pcFSDL;
        ctx.Echo = c.readData ? std::string_view() : std::string_view(fsdl);
        ctx.ReadDataExpected = c.readData;
        UnsolicitedScan last = ScannedUpTo(c.seen, ctx);
        last.Command = c.lastCommand;
        EXPECT_EQ(UnsolicitedPassDue(Bytes(c.bytes), ctx, last), c.due) << c.what;
        if (!c.due && c.lastCommand == ctx.Command) {
            std::string bytes = c.bytes;
            EXPECT_TRUE(DropUnsolicited(bytes, ctx).empty()) << c.what << ": a pass would have dropped a line";
        }
    }
}

struct EchoCase {
    const char* what;
    std::string bytes;
    std::string echo;
    bool match;
    std::int32_t strip;
};

TEST(CheckEcho, Cases)
{
    const std::string fsfr = CommandFSFR("a.jpg");
    const EchoCase cases[] = {
        {"model reply", "AT+CGMM\r\r\nModel\r\n\r\nOK\r\n", "AT+CGMM\r", true, 10},
        {"leading control bytes", "\r\n\r\nATZ\r\r\nOK\r\n", "ATZ\r", true, 10},
        {"nothing after the echo", "ATZ\r", "ATZ\r", true, 4},
        {"CR LF command echoed whole", fsfr + "+FSFR: x\r\n", fsfr, true,
         static_cast<std::int32_t>(fsfr.size())},
        {"CR LF command echoed with CR only", "AT+FSFR= -1,\"a.jpg\"\r\r\n+FSFR: x\r\n", fsfr,
         false, 0},
        {"echo switched off", "\r\nOK\r\n", "ATZ\r", false, 0},
        {"buffer shorter than the echo", "ATZ", "ATZ\r", false, 0},
        {"only control bytes", "\r\n\r\n", "ATZ\r", false, 0},
        {"one byte differs", "ATY\r\r\nOK\r\n", "ATZ\r", false, 0},
    };
    for (const EchoCase& c : cases) {
        const EchoCheck e = CheckEcho(Bytes(c.bytes), c.echo);
        EXPECT_EQ(e.Match, c.match) << c.what;
        if (c.match) {
            EXPECT_EQ(e.Strip, c.strip) << c.what;
        }
    }
}

TEST(CommandTexts, AreExactWireBytes)
{
    EXPECT_EQ(CommandATZ(), "ATZ\r");
    EXPECT_EQ(CommandCGMM(), "AT+CGMM\r");
    EXPECT_EQ(CommandFSIF(), "AT+FSIF\r");
    EXPECT_EQ(CommandFSDL("/user/sounds"), "AT+FSDL=\"/user/sounds\"\r\n");
    EXPECT_EQ(CommandFSFE("tune.mmf"), "AT+FSFE= -1,\"tune.mmf\"\r\n");
    EXPECT_EQ(CommandFSFR("Фото.jpg"), "AT+FSFR= -1,\"Фото.jpg\"\r\n");

    TFileInfo r;
    r.Name = "a.jpg";
    r.FileType = 106;
    r.Size = 1000;
    r.Crc = 7;
    EXPECT_EQ(CommandFSFW(r), "AT+FSFW=-1,\"a.jpg\",106,\" \",1000,7\r\n");
    EXPECT_EQ(CommandFSFW(TFileInfo{}), "AT+FSFW=\r\n");
}

TEST(BuildWriteArgs, Fields)
{
    TFileInfo r;
    r.Name = "ring.mel";
    r.FileType = -5;
    r.Size = 2048;
    r.Crc = CalcCRC("123456789");   // 0xCBF43926, above 2^31
    EXPECT_EQ(BuildWriteArgs(r), "-1,\"ring.mel\",-5,\" \",2048,3421780262");
    r.Crc = 0xFFFFFFFFu;
    r.FileType = 0;
    r.Size = 0;
    EXPECT_EQ(BuildWriteArgs(r), "-1,\"ring.mel\",0,\" \",0,4294967295");
    r.Name.clear();
    EXPECT_EQ(BuildWriteArgs(r), "");
}

TEST(WatchdogName, Table)
{
    const std::pair<TPhoneCommand, std::string_view> cases[] = {
        {pcNone, ""},     {pcATZ, "ATZ"},    {pcCGMM, "+CGMM"}, {pcFSIF, "+FSIF"},
        {pcFSDL, "+FSDL"}, {pcFSCD, ""},      {pcFSFE, "+FSFE"}, {pcFSFR, "+FSFR"},
        {pcFSFW, "+FSFW"},
    };
    for (const auto& [kind, name] : cases)
        EXPECT_EQ(WatchdogName(kind), name) << int(kind);
}

TEST(CalcCRC, CheckValues)
{
    EXPECT_EQ(CalcCRC("123456789"), 0xCBF43926u);
    EXPECT_EQ(CalcCRC("abc"), 0x352441C2u);
    EXPECT_EQ(CalcCRC(""), 0u);
}

} // namespace

TEST(ParseFileSystemInfo, CapacityAndFreeOrNothing)
{
    const struct {
        const char* reply;
        bool ok;
        std::int64_t capacity, free;
    } cases[] = {
        {"\r\n+FSIF: 67108864,1024\r\n\r\nOK\r\n", true, 67108864, 1024},
        {"+FSIF:5000000000, 0\r\n", true, 5000000000, 0},
        {"\r\n+FSIF: 10,20\r\n\r\nOK\r\n", false, 0, 0},   // more free than there is
        {"\r\n+FSIF: 10\r\n\r\nOK\r\n", false, 0, 0},
        {"\r\n+FSIF: -1,0\r\n\r\nOK\r\n", false, 0, 0},
        {"\r\n+FSIF: 10,\r\n5\r\nOK\r\n", false, 0, 0},    // the numbers end with the line
        {"\r\nOK\r\n", false, 0, 0},
    };
    for (const auto& c : cases) {
        const FileSystemInfo info = ParseFileSystemInfo(c.reply);
        EXPECT_EQ(info.Ok, c.ok) << c.reply;
        if (c.ok) {
            EXPECT_EQ(info.Capacity, c.capacity) << c.reply;
            EXPECT_EQ(info.Free, c.free) << c.reply;
        }
    }
}
