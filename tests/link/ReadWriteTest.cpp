// File reads, writes and erases on the link alone: the saved bytes, the checks at the end,
// damaged blocks and headers, and the ways a command fails. (What the window shows of them:
// tests/fsops.)
#include <array>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include <sys/stat.h>

#include "LinkFixture.h"
#include "support/AsNobody.h"
#include "serial/TraceFile.h"

namespace {

using namespace linktest;

class ReadWriteTest : public LinkTest {};

// Four bytes that, appended to `prefix`, make the CRC-32 of the whole 0. The CRC is affine in
// those 32 bits, so they are the solution of 32 linear equations over GF(2).
std::string ZeroCrcSuffix(const std::string& prefix)
{
    auto crcWith = [&prefix](std::uint32_t x) {
        std::string s = prefix;
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>(x >> (8 * i));
        return CalcCRC(s);
    };
    const std::uint32_t base = crcWith(0);
    std::array<std::uint32_t, 32> rows{};   // rows[r]: which input bits flip output bit r
    std::array<bool, 32> rhs{};
    for (int k = 0; k < 32; ++k) {
        const std::uint32_t effect = crcWith(1u << k) ^ base;
        for (int r = 0; r < 32; ++r)
            if ((effect >> r) & 1u)
                rows[r] |= 1u << k;
    }
    for (int r = 0; r < 32; ++r)
        rhs[r] = (base >> r) & 1u;
    std::array<int, 32> pivotOf{};
    for (int k = 0; k < 32; ++k) {
        int p = k;
        while (p < 32 && !((rows[p] >> k) & 1u))
            ++p;
        if (p == 32)
            return {};   // not solvable (never for CRC-32)
        std::swap(rows[p], rows[k]);
        std::swap(rhs[p], rhs[k]);
        for (int r = 0; r < 32; ++r)
            if (r != k && ((rows[r] >> k) & 1u)) {
                rows[r] ^= rows[k];
                rhs[r] = rhs[r] != rhs[k];
            }
        pivotOf[k] = k;
    }
    std::uint32_t x = 0;
    for (int k = 0; k < 32; ++k)
        if (rhs[pivotOf[k]])
            x |= 1u << k;
    std::string suffix;
    for (int i = 0; i < 4; ++i)
        suffix += static_cast<char>(x >> (8 * i));
    return suffix;
}

// A read that goes wrong saves nothing and leaves the PC's older file as it was.
TEST_F(ReadWriteTest, DamagedReadsSaveNothing)
{
    const std::string c = PatternBytes(3000, 11);
    std::string damaged = c;
    damaged[1500] = static_cast<char>(damaged[1500] ^ 0xFF);   // what the handset's fault does
    const std::string m = PatternBytes(4096, 12);
    const struct {
        std::string name;
        std::string data;
        std::function<void(HandsetOptions&)> set;
        LinkError error;
        std::vector<std::string> texts;
    } reads[] = {
        {"c.bin", c, [](HandsetOptions& o) { o.CorruptReadByte = true; }, LinkError::CrcMismatch,
         {"File: c.bin\r\nCRC error.\r\nCalc CRC: " + std::to_string(CalcCRC(damaged)) + "\r\nRecv CRC: "
          + std::to_string(CalcCRC(c))}},
        // The first of two blocks lacks its last byte.
        {"s.bin", PatternBytes(4096, 5), [](HandsetOptions& o) { o.ShortBlock = true; }, LinkError::SizeMismatch,
         {"Extract data error code:-2", "File: s.bin\r\nSize error.\r\nFile size: 4096\r\nRecv size: 2048"}},
        // The header announces the first half, with that half's CRC; the handset sends it all.
        {"m.bin", m,
         [&m](HandsetOptions& o) {
             o.ReadHeaderText = "\r\n+FSFR: 0,\"m.bin\",0,0,0,2048,0,0,\"d\",0," + std::to_string(CalcCRC(m.substr(0, 2048)))
                                + "\r\n#OK#\r\n";
         },
         LinkError::SizeMismatch,
         {"File: m.bin\r\nSize error.\r\nFile size: 2048\r\nRecv size: 4096"}},
        // The file vanished after the listing.
        {"gone.bin", "abc", [](HandsetOptions& o) { o.ReadHeaderText = "\r\nOK\r\n"; }, LinkError::NoHeader,
         {"File: gone.bin\r\nThe handset sent no file header; nothing is saved."}},
    };
    for (const auto& r : reads) {
        WriteFile(phone / r.name, r.data);
        WriteFile(pc / r.name, "keep me");
    }
    StartOnline();
    for (const auto& r : reads) {
        SCOPED_TRACE(r.name);
        handset->Update([&r](HandsetOptions& o) {
            HandsetOptions fresh;
            fresh.Root = o.Root;
            o = fresh;
            r.set(o);
        });
        prompts.Clear();
        EXPECT_EQ(Read(r.name).Error, r.error);
        EXPECT_EQ(Texts(), r.texts);
        EXPECT_EQ(ReadFile(pc / r.name), "keep me");
        ExpectCleanEnd();
    }
    EXPECT_EQ(FilesUnder(pc), (std::vector<std::string>{"c.bin", "gone.bin", "m.bin", "s.bin"}));
}

struct BlockShape {
    int leadIn;
    bool blanks;
    std::vector<std::string> texts;   // empty: saved
};

TEST_F(ReadWriteTest, LeadInAndLengthFieldShapes)
{
    const std::string data = PatternBytes(3000, 9);   // two blocks
    const BlockShape shapes[] = {
        {0, true, {}},
        {41, true, {}},
        {41, false, {}},
        {2, false, {}},
        // One message for the blocks that cannot be taken, however many.
        {42, true, {"Extract data error code:-1", "File: f.bin\r\nSize error.\r\nFile size: 3000\r\nRecv size: 0"}},
    };
    WriteFile(phone / "f.bin", data);
    StartOnline();
    for (const BlockShape& shape : shapes) {
        SCOPED_TRACE(shape.leadIn);
        fs::remove(pc / "f.bin");
        prompts.Clear();
        handset->Update([&](HandsetOptions& o) {
            o.LeadInBreaks = shape.leadIn;
            o.BlanksInLength = shape.blanks;
        });
        Read("f.bin");
        EXPECT_EQ(Texts(), shape.texts);
        if (shape.texts.empty())
            EXPECT_TRUE(SameBytes(ReadFile(pc / "f.bin"), data));
        else
            EXPECT_FALSE(fs::exists(pc / "f.bin"));
        ExpectCleanEnd();
    }
}

// Lines the handset sends on its own, of kinds no table here knows, are taken out wherever they
// come (while idle, in front of an echo, between read blocks, behind a final reply) and handed
// to whoever listens for them.
TEST_F(ReadWriteTest, UnsolicitedLinesOfAnyKindLeaveTheNextCommandAndTheFileIntact)
{
    const std::string data = PatternBytes(5000, 4);   // three blocks
    WriteFile(phone / "f.bin", data);
    StartOnline();
    auto heard = std::make_shared<std::vector<std::string>>();
    link.Channel().OnUnsolicited([heard](const std::string& line) { heard->push_back(line); });
    for (const std::string line : {"+CSQ: 20,99", "^RSSI:3"}) {
        SCOPED_TRACE(line);
        fs::remove(pc / "f.bin");
        heard->clear();
        Deliver("\r\n" + line + "\r\n");
        EXPECT_EQ(link.Channel().Pending(), 0);
        EXPECT_EQ(*heard, std::vector<std::string>{line});
        handset->Update([&](HandsetOptions& o) {
            o.Unsolicited = line;
            o.UnsolicitedBeforeEcho = o.UnsolicitedBetweenBlocks = o.UnsolicitedWithFinal = true;
        });
        EXPECT_TRUE(Read("f.bin").Ok());
        EXPECT_TRUE(SameBytes(ReadFile(pc / "f.bin"), data));
        EXPECT_TRUE(WaitFor(link.ListFolder("/")).Ok());
        EXPECT_NE(Record("f.bin"), nullptr);
        // The one sent while idle, and those around the read's and the listing's replies.
        EXPECT_EQ(*heard, std::vector<std::string>(10, line));
    }
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    ExpectCleanEnd();
}

// At 4800 bit/s a data block of 2,048 bytes takes longer than the watchdog's interval: bytes
// still arriving keep the read alive.
TEST_F(ReadWriteTest, ASlowLineReadsWhileBytesKeepComing)
{
    const std::string data = PatternBytes(6 * 1024, 5);
    WriteFile(phone / "slow.bin", data);
    StartOnline();
    handset->Update([](HandsetOptions& o) { o.LineRate = 480; });   // bytes/s
    EXPECT_TRUE(Read("slow.bin").Ok());
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    EXPECT_TRUE(SameBytes(ReadFile(pc / "slow.bin"), data));
    ExpectCleanEnd();
}

TEST_F(ReadWriteTest, ContentsThatLookLikeTheProtocolAreKept)
{
    // Line breaks at the end of a block's data and of the file, a file whose CRC-32 is 0.
    std::string crlfTail = PatternBytes(4096, 2);
    crlfTail.replace(2046, 2, "\r\n");
    crlfTail += "\r\n\r\n";
    std::string zeroCrc = PatternBytes(3000, 4);
    zeroCrc += ZeroCrcSuffix(zeroCrc);
    ASSERT_EQ(CalcCRC(zeroCrc), 0u);
    WriteFile(phone / "crlf.bin", crlfTail);
    WriteFile(phone / "zerocrc.bin", zeroCrc);
    StartOnline();
    Read("crlf.bin");
    Read("zerocrc.bin");
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "crlf.bin"), crlfTail));
    EXPECT_TRUE(SameBytes(ReadFile(pc / "zerocrc.bin"), zeroCrc));
}

TEST_F(ReadWriteTest, ProtocolLinesInsideTheDataSurviveABlockSplitRightAfterThem)
{
    // The handset writes every reply in pieces of 64 bytes, each arriving on its own. A data
    // block has 2 lead-in bytes and a 19-byte data header, so data byte 43 - n ends the first
    // piece: a line of n bytes put there is all the PC has of the block at that moment.
    constexpr int kPiece = 64;
    const std::vector<std::string> lines = {"OK\r\n", "#OK#\r\n", "##>\r\n", "+CME ERROR: 4\r\n"};
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t before = kPiece - 21 - lines[i].size();
        std::string data = std::string(before - 2, static_cast<char>('a' + i)) + "\r\n" + lines[i] + "tail of the file\r\n";
        contents.push_back(data);
        WriteFile(phone / ("p" + std::to_string(i) + ".txt"), data);
    }
    options.SplitWrites = kPiece;
    StartOnline();
    for (std::size_t i = 0; i < lines.size(); ++i)
        Read("p" + std::to_string(i) + ".txt");
    EXPECT_TRUE(Texts().empty());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(ReadFile(pc / ("p" + std::to_string(i) + ".txt")), contents[i]) << lines[i];
    EXPECT_TRUE(link.Online());
}

// A read header carrying `name`, with the size and CRC of `data`.
std::string HeaderNaming(const std::string& name, const std::string& data)
{
    return "\r\n+FSFR: 0,\"" + name + "\",0,0,0," + std::to_string(data.size()) + ",0,0,\"d\",0,"
           + std::to_string(CalcCRC(data)) + "\r\n#OK#\r\n";
}

TEST_F(ReadWriteTest, TheFileIsSavedUnderTheNameAskedForNeverTheHeaders)
{
    const std::string data = PatternBytes(3000, 6);
    WriteFile(phone / "h.bin", data);
    const std::string longName = std::string(60, 'L') + ".bin";
    WriteFile(phone / longName, data);
    StartOnline();
    const auto before = FilesUnder(root);
    for (const std::string& name : {std::string("../escape.bin"), std::string("sub/x.bin"), std::string("/tmp/abs.bin"),
                                   std::string("a\\b.bin"), std::string("."), std::string(".."), std::string(),
                                   std::string("nul\0.bin", 8), std::string("other.bin")}) {
        SCOPED_TRACE(name);
        prompts.Clear();
        handset->Update([&](HandsetOptions& o) { o.ReadHeaderText = HeaderNaming(name, data); });
        EXPECT_EQ(Read("h.bin").Error, LinkError::WrongFile);
        EXPECT_EQ(Texts(), std::vector<std::string>{"File: h.bin\r\nThe phone sent another file (" + name
                                                    + "); nothing is saved."});
        EXPECT_EQ(FilesUnder(root), before);
        ExpectCleanEnd();
    }
    EXPECT_EQ(transferShows, 9);   // the rest of each refused file is drained in view
    // A header that gives the name cut as a list shows it names the same file: it is saved under
    // the whole name it was asked for.
    prompts.Clear();
    handset->Update([&](HandsetOptions& o) { o.ReadHeaderText = HeaderNaming(longName.substr(0, 56), data); });
    Read(longName);
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(SameBytes(ReadFile(pc / longName), data));
    // The handset is still in step: a plain read works.
    handset->Update([](HandsetOptions& o) { o.ReadHeaderText.clear(); });
    Read("h.bin");
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "h.bin"), data));
}

struct HeaderFault {
    std::string header;
    std::string message;
};

TEST_F(ReadWriteTest, HeaderFaultsEndTheReadCleanly)
{
    const std::string data = "12345";
    const std::string crc = std::to_string(CalcCRC(data));
    auto header = [](const std::string& type, const std::string& size, const std::string& crcText) {
        return "\r\n+FSFR: 0,\"h.bin\"," + type + ",0,0," + size + ",0,0,\"d\",0," + crcText + "\r\n#OK#\r\n";
    };
    const HeaderFault faults[] = {
        {"\r\n+FSXX: 0,\"h.bin\",0,0,0,5,0,0,\"d\",0," + crc + "\r\n#OK#\r\n",
         "The file header from the phone holds no \"+FSFR:\"."},
        {header("x1", "5", crc), "The file type in the file header from the phone is not a number."},
        {header("0", "5k", crc), "The file size in the file header from the phone is not a number."},
        {header("0", "-1", crc), "The file size in the file header from the phone is negative."},
        {header("0", "524290", crc), "The file is larger than 524,289 bytes, the most a read can take."},
        {header("0", "5", "-1"), "The CRC in the file header from the phone is not a number."},
        {header("0", "5", "4294967296"), "The CRC in the file header from the phone is not a number."},
        {header("0", "5", ""), "The CRC in the file header from the phone is not a number."},
        // The largest size a read takes is accepted; the bytes that came are too few.
        {header("0", "524289", crc), "Size error.\r\nFile size: 524289\r\nRecv size: 5"},
    };
    WriteFile(phone / "h.bin", data);
    StartOnline();
    for (const HeaderFault& f : faults) {
        SCOPED_TRACE(f.header);
        prompts.Clear();
        handset->Update([&](HandsetOptions& o) { o.ReadHeaderText = f.header; });
        Read("h.bin");
        EXPECT_EQ(Texts(), std::vector<std::string>{"File: h.bin\r\n" + f.message});
        EXPECT_FALSE(fs::exists(pc / "h.bin"));
        ExpectCleanEnd();
    }
    // Still in step with the handset.
    handset->Update([](HandsetOptions& o) { o.ReadHeaderText.clear(); });
    prompts.Clear();
    Read("h.bin");
    EXPECT_TRUE(SameBytes(ReadFile(pc / "h.bin"), data));
}

TEST_F(ReadWriteTest, CommandErrorInTheMiddleReleasesEverything)
{
    WriteFile(phone / "e.bin", PatternBytes(6000, 13));
    options.CmeErrorOn = "AT+FSFR";
    options.CmeErrorAfterBlocks = 2;   // after the header and the first data block
    StartOnline();
    EXPECT_EQ(Read("e.bin").Error, LinkError::Refused);
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back() == "ATZ\r"; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Texts(), std::vector<std::string>{"Command error.\r\nCommand: "});
    EXPECT_FALSE(fs::exists(pc / "e.bin"));
    EXPECT_EQ(transferShows, 1);
    ExpectCleanEnd();
}

TEST_F(ReadWriteTest, SaveFailuresAreReportedAndLeaveWhatWasThere)
{
    const std::string data = PatternBytes(4096, 8);
    WriteFile(phone / "d.bin", data);
    WriteFile(phone / "e.bin", data);
    WriteFile(pc / "e.bin", "old");
    WriteFile(pc / "d.bin" / "inside" / "keep.txt", "kept");   // a folder where the file should go
    StartOnline();
    EXPECT_EQ(Read("d.bin").Error, LinkError::SaveFailed);
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: d.bin\r\nWrite error -> file access fail."});
    EXPECT_EQ(ReadFile(pc / "d.bin" / "inside" / "keep.txt"), "kept");

    // A full disk lets only part of the file be written.
    prompts.Clear();
    {
        const FileSizeLimit limit(1000);
        EXPECT_EQ(Read("e.bin").Error, LinkError::SaveSizeDifferent);
    }
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: e.bin\r\nWrite error -> size different."});
    EXPECT_EQ(ReadFile(pc / "e.bin"), "old");
    EXPECT_EQ(FilesUnder(pc), (std::vector<std::string>{"d.bin/inside/keep.txt", "e.bin"}));   // no temporary file
    ExpectCleanEnd();
    // With room again the same read saves the file.
    Read("e.bin");
    EXPECT_TRUE(SameBytes(ReadFile(pc / "e.bin"), data));
}

TEST_F(ReadWriteTest, WriteRefusedByCommandErrorReleasesTheBufferAndResetsTheHandset)
{
    const struct {
        int afterBlocks;
        bool namesCommand;   // the first answer still carries the command's echo
    } cases[] = {{0, true}, {1, false}};
    StartOnline();
    const std::string data = PatternBytes(1500, 4);
    const std::string command = "AT+FSFW=-1,\"refused.bin\",0,\" \",1500," + std::to_string(CalcCRC(data)) + "\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.afterBlocks);
        prompts.Clear();
        handset->Update([&](HandsetOptions& o) {
            o.CmeErrorOn = "AT+FSFW";
            o.CmeErrorAfterBlocks = c.afterBlocks;
        });
        handset->ClearLog();
        EXPECT_EQ(Write("refused.bin", data).Error, LinkError::Refused);
        ASSERT_TRUE(WaitUntil([this] { return link.Channel().Idle() && handset->Commands().size() >= 2; }));
        EXPECT_EQ(Texts(), std::vector<std::string>{"Command error.\r\nCommand: " + (c.namesCommand ? command : "")});
        EXPECT_EQ(handset->Commands().back(), "ATZ\r");
        EXPECT_FALSE(fs::exists(phone / "refused.bin"));
        EXPECT_TRUE(link.Online());
        ExpectCleanEnd();
    }
}

TEST_F(ReadWriteTest, SilentHandsetDuringAWriteClosesThePort)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    options.SilentOn = "AT+FSFW";
    StartOnline();
    EXPECT_EQ(Write("s.bin", PatternBytes(800, 3)).Error, LinkError::Silence);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFW"});
    EXPECT_FALSE(link.Channel().Driver().Connected());
    EXPECT_FALSE(link.Online());
    ExpectCleanEnd();
}

TEST_F(ReadWriteTest, EraseSendsItsCommandAndEndsOnTheFinalOk)
{
    WriteFile(phone / "gone.txt", "bye");
    StartOnline();
    transferShowing = true;   // the end of any command closes what is shown
    handset->ClearLog();
    EXPECT_TRUE(WaitFor(link.Erase(link.PhoneDir(), "gone.txt")).Ok());
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{"AT+FSFE= -1,\"gone.txt\"\r\n"});
    EXPECT_FALSE(fs::exists(phone / "gone.txt"));
    EXPECT_FALSE(transferShowing);
    EXPECT_TRUE(Texts().empty());
}

// What Upload cannot send is said and skipped, and the rest of the list still goes.
TEST_F(ReadWriteTest, UploadSkipsWhatCannotBeSentAndSendsTheRest)
{
    WriteFile(phone / "locked.txt", "phone copy");
    StartOnline();
    const std::vector<std::string> injecting = {"a\"b.txt", std::string("c\x01") + "d.txt", "tab\there.txt",
                                                std::string("del\x7F") + ".txt"};
    std::vector<std::string> paths, texts;
    for (const std::string& n : injecting) {
        WriteFile(pc / n, "bad");
        paths.push_back((pc / n).string());
        texts.push_back("File: " + n + "\r\nThe name holds a double quote or a control character and cannot be sent to the phone.");
    }
    std::ofstream(pc / "huge.bin").close();
    fs::resize_file(pc / "huge.bin", 0x80000000u);   // sparse: takes no room on disk
    WriteFile(pc / "locked.txt", "pc copy");
    WriteFile(pc / "ok.txt", "fine");
    for (const char* n : {"huge.bin", "locked.txt", "ok.txt"})
        paths.push_back((pc / n).string());
    texts.push_back("File: huge.bin\r\nThe file is too large to be sent to the phone.");
    texts.push_back("File: locked.txt\r\nexists. Owerwrite?");
    // The erase before the write fails: that file is skipped.
    texts.push_back("Command error.\r\nCommand: AT+FSFE= -1,\"locked.txt\"\r\n");
    handset->Update([](HandsetOptions& o) { o.CmeErrorOn = "AT+FSFE"; });
    handset->ClearLog();

    const TPhoneLink::UploadOutcome outcome = WaitFor(link.Upload(paths, false, true));
    EXPECT_EQ(outcome.Ended, LinkError::None);
    std::vector<LinkError> errors;
    for (const LinkResult& r : outcome.Files)
        errors.push_back(r.Error);
    EXPECT_EQ(errors, (std::vector<LinkError>{LinkError::NotWireName, LinkError::NotWireName, LinkError::NotWireName,
                                              LinkError::NotWireName, LinkError::TooLarge, LinkError::Refused, LinkError::None}));
    EXPECT_EQ(Texts(), texts);
    EXPECT_EQ(handset->Commands(),
              (std::vector<std::string>{"AT+FSFE= -1,\"locked.txt\"\r\n", "ATZ\r",
                                        "AT+FSFW=-1,\"ok.txt\",0,\" \",4," + std::to_string(CalcCRC(std::string("fine"))) + "\r\n",
                                        "AT+FSDL=\"/\"\r\n"}));
    EXPECT_EQ(handset->Received().find("bad"), std::string::npos);
    EXPECT_EQ(ReadFile(phone / "locked.txt"), "phone copy");
    EXPECT_EQ(ReadFile(phone / "ok.txt"), "fine");
    ExpectCleanEnd();
}

// A PC file that cannot be read (gone since it was chosen, a named pipe, one the user may not
// read) ends the list before the handset loses anything: no erase, nothing after it, no listing.
TEST_F(ReadWriteTest, UploadEndsAtAPCFileThatCannotBeRead)
{
    WriteFile(phone / "keep.txt", "phone copy");
    StartOnline();
    WriteFile(pc / "a.txt", "a");
    WriteFile(pc / "z.txt", "z");
    ASSERT_EQ(mkfifo((pc / "pipe").c_str(), 0600), 0);   // opening it would wait for a writer
    // An ordinary user may enter the folders but not read the file.
    WriteFile(pc / "keep.txt", "pc copy");
    for (fs::path p = pc; p != root.parent_path(); p = p.parent_path())
        fs::permissions(p, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(pc / "keep.txt", fs::perms::none);
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> texts;
        std::vector<std::string> sent;
        bool asNobody;   // the handset runs in this process: only where it writes nothing
    } lists[] = {
        {{"a.txt", "pipe", "z.txt"}, {}, {"AT+FSFW=-1,\"a.txt\",0,\" \",1," + std::to_string(CalcCRC(std::string("a"))) + "\r\n"}, false},
        {{"keep.txt"}, {"File: keep.txt\r\nexists. Owerwrite?"}, {}, true},
        {{"gone.txt"}, {}, {}, false},
    };
    for (const auto& l : lists) {
        SCOPED_TRACE(l.names.front());
        std::vector<std::string> paths;
        for (const std::string& n : l.names)
            paths.push_back((pc / n).string());
        prompts.Clear();
        handset->ClearLog();
        std::optional<AsNobody> nobody;
        if (l.asNobody) {
            ASSERT_TRUE(nobody.emplace().Ok());
        }
        EXPECT_EQ(WaitFor(link.Upload(paths, false, true)).Ended, LinkError::OpenFailed);
        EXPECT_EQ(Texts(), l.texts);
        EXPECT_EQ(handset->Commands(), l.sent);
        ExpectCleanEnd();
    }
    EXPECT_FALSE(fs::exists(phone / "z.txt"));
    EXPECT_EQ(ReadFile(phone / "keep.txt"), "phone copy");
    EXPECT_EQ(ReadFile(pc / "keep.txt"), "pc copy");
}

// A trace written while the link lists "/" and reads a file, replayed by the virtual handset with
// the phone's files gone, gives the same listing and the same file.
TEST_F(ReadWriteTest, ATracedListingAndReadReplayTheSame)
{
    const std::string data = PatternBytes(5000, 11);
    WriteFile(phone / "tone.mmf", data);
    const fs::path trace = root / "trace.txt";
    ASSERT_TRUE(StartTraceFile(trace.string()));
    StartOnline();
    const std::vector<std::string> listed = RecordNames();
    Read("tone.mmf");
    StopTraceFile();
    ASSERT_TRUE(SameBytes(ReadFile(pc / "tone.mmf"), data));

    handset->Stop();
    fs::remove_all(phone);
    fs::create_directories(phone);
    fs::remove(pc / "tone.mmf");
    options.Replay = WireTrace::ParseTrace(ReadFile(trace));
    ASSERT_FALSE(options.Replay.empty());
    StartOnline();
    EXPECT_EQ(RecordNames(), listed);
    Read("tone.mmf");
    EXPECT_TRUE(SameBytes(ReadFile(pc / "tone.mmf"), data));
    EXPECT_TRUE(Texts().empty());
}

} // namespace
