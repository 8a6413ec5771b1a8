// Upload and Uplod As Melody: the handset name and type code, the overwrite question and the
// erase before the write, the melody header, the content and CRC on the handset, the listing
// at the end, and a file that cannot be opened. (The files that cannot be sent: tests/link.)
#include "TransfersFixture.h"

using namespace transfers;

namespace {

class UploadTest : public TransfersTest {};

struct NameCase {
    std::string pcName;
    std::string phoneName;
    int type;
};

TEST_F(UploadTest, HandsetNamesAndTypeCodes)
{
    const std::string cyr2 = "\xD0\xB6";   // one Cyrillic letter, two bytes in UTF-8
    std::string cyr30, cyr12;
    for (int i = 0; i < 30; ++i)
        cyr30 += cyr2;
    for (int i = 0; i < 12; ++i)
        cyr12 += cyr2;
    const NameCase cases[] = {
        {"photo.jpg", "photo.jpg", 106},
        {"photo.JPEG", "photo.JPEG", 0},
        {"tune.MMF", "tune.MMF", 302},
        {"voice.amr", "voice.amr", 200},
        {"pic.Png", "pic.Png", 109},
        {"noext", "noext", 0},
        // 30 bytes of base lose their last six; the extension stays whole.
        {"abcdefghijklmnopqrstuvwxyz1234.txt", "abcdefghijklmnopqrstuvwx.txt", 0},
        {"abcdefghijklmnopqrstuvwxyz1234.gif", "abcdefghijklmnopqrstuvwx.gif", 110},
        // 30 two-byte letters are cut to 12.
        {cyr30 + ".mid", cyr12 + ".mid", 306},
        // A base of 23 bytes and a three-byte letter: the letter goes whole.
        {"abcdefghijklmnopqrstuvw\xE2\x82\xAC.bmp", "abcdefghijklmnopqrstuvw.bmp", 112},
    };
    Online();
    std::vector<std::string> names;
    for (const NameCase& c : cases) {
        WriteFile(pc / c.pcName, "content of " + c.pcName);
        names.push_back(c.pcName);
    }
    Upload(names);

    // The writes come in the PC list's order; each names the file and its type.
    std::vector<std::string> expected;
    for (const std::string& caption : PCCaptions())
        for (const NameCase& c : cases)
            if (c.pcName == caption)
                expected.push_back(WriteCmd(c.phoneName, c.type, "content of " + c.pcName));
    expected.push_back(ListCmd("/"));
    EXPECT_EQ(Commands(), expected);
    for (const NameCase& c : cases) {
        EXPECT_EQ(ReadFile(phone / c.phoneName), "content of " + c.pcName) << c.phoneName;
        EXPECT_NE(PhoneItem(c.phoneName), nullptr) << c.phoneName;
    }
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(PanesEnabled());
}

// Two PC files of one list that shorten to the same handset name: the first one's name counts
// as taken on the handset, so the second is asked about and erases it before its write.
TEST_F(UploadTest, FilesThatShortenAlikeAskBeforeTheSecondReplacesTheFirst)
{
    const std::string shortName = "abcdefghijklmnopqrstuvwx.txt";
    WriteFile(pc / "abcdefghijklmnopqrstuvwxyz-1.txt", "first");
    WriteFile(pc / "abcdefghijklmnopqrstuvwxyz-2.txt", "second");
    Online();
    dialogs->Script({Answer::Yes});
    Upload({"abcdefghijklmnopqrstuvwxyz-1.txt", "abcdefghijklmnopqrstuvwxyz-2.txt"});
    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite(shortName)});
    EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd(shortName, 0, "first"), EraseCmd(shortName),
                                                    WriteCmd(shortName, 0, "second"), ListCmd("/")}));
    EXPECT_EQ(ReadFile(phone / shortName), "second");
}

TEST_F(UploadTest, FileArrivesByteForByteWithItsCrcAndTheListIsReloaded)
{
    const std::string data = PatternBytes(3000, 3);   // six write blocks
    WriteFile(phone / "other.txt", "x");
    Online();
    ASSERT_EQ(PhoneCaptions(), std::vector<std::string>{"other.txt"});
    WriteFile(pc / "data.bin", data);

    Upload({"data.bin"});

    EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd("data.bin", 0, data), ListCmd("/")}));
    EXPECT_TRUE(SameBytes(handset->Received(), WriteCmd("data.bin", 0, data) + data + ListCmd("/") + "##>\r\n"));
    EXPECT_TRUE(SameBytes(ReadFile(phone / "data.bin"), data));
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"data.bin", "other.txt"}));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(UploadTest, ExistingHandsetFileIsAskedAboutAndErasedBeforeTheWrite)
{
    WriteFile(phone / "same.txt", "old phone copy");
    WriteFile(phone / "Case.TXT", "differs only in case");
    Online();
    WriteFile(pc / "same.txt", "new");
    WriteFile(pc / "case.txt", "lower");
    dialogs->Script({Answer::Yes});

    Upload({"case.txt", "same.txt"});

    // Only the exact name asks and erases; the erase has ended before the write goes out.
    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite("same.txt")});
    EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd("case.txt", 0, "lower"), EraseCmd("same.txt"),
                                                    WriteCmd("same.txt", 0, "new"), ListCmd("/")}));
    EXPECT_EQ(ReadFile(phone / "same.txt"), "new");
    EXPECT_EQ(ReadFile(phone / "Case.TXT"), "differs only in case");
    EXPECT_EQ(ReadFile(phone / "case.txt"), "lower");
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"Case.TXT", "case.txt", "same.txt"}));
}

struct AnswerCase {
    const char* what;
    std::vector<Answer> script;
    std::vector<std::string> questions;   // of the three existing files
    std::vector<std::string> replaced;
};

TEST_F(UploadTest, AnswersToTheOverwriteQuestion)
{
    const std::vector<std::string> names = {"e1.txt", "e2.txt", "e3.txt"};
    const AnswerCase cases[] = {
        {"No for the second", {Answer::Yes, Answer::No, Answer::Yes}, names, {"e1.txt", "e3.txt"}},
        {"Yes to All on the first", {Answer::YesToAll}, {"e1.txt"}, names},
        // Closed without a button: neither erased nor written.
        {"closed box", {Answer::Closed, Answer::Yes, Answer::Closed}, names, {"e2.txt"}},
    };
    Online();
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& n : names) {
            WriteFile(phone / n, "phone " + n);
            WriteFile(pc / n, "pc " + n);
        }
        OpenPhoneFolder("/");
        handset->ClearLog();
        dialogs->Clear();
        dialogs->Script(c.script);

        Upload(names);

        std::vector<std::string> questions, commands;
        for (const std::string& n : c.questions)
            questions.push_back(Overwrite(n));
        for (const std::string& n : c.replaced) {
            commands.push_back(EraseCmd(n));
            commands.push_back(WriteCmd(n, 0, "pc " + n));
        }
        commands.push_back(ListCmd("/"));
        EXPECT_EQ(Texts(), questions);
        EXPECT_EQ(Commands(), commands);
        for (const std::string& n : names) {
            const bool replaced = std::find(c.replaced.begin(), c.replaced.end(), n) != c.replaced.end();
            EXPECT_EQ(ReadFile(phone / n), (replaced ? "pc " : "phone ") + n) << n;
        }
    }
}

struct MelodyCase {
    std::string pcName;
    std::string phoneName;
};

TEST_F(UploadTest, MelodyGetsItsHeaderTypeZeroAndTheMelExtension)
{
    const MelodyCase cases[] = {
        {"ring.mmf", "ring.mel"},
        // The header keeps the first 31 bytes of the whole PC name; the handset name is shortened.
        {"a_rather_long_melody_file_name_here.mmf", "a_rather_long_melody_fil.mel"},
    };
    Online();
    for (const MelodyCase& c : cases) {
        SCOPED_TRACE(c.pcName);
        const std::string song = PatternBytes(700, 5);
        WriteFile(pc / c.pcName, song);
        handset->ClearLog();

        Upload({c.pcName}, true);

        std::string header = c.pcName.substr(0, 31);
        header.resize(32, '\xFF');
        const std::string content = header + song;
        EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd(c.phoneName, 0, content), ListCmd("/")}));
        EXPECT_TRUE(SameBytes(ReadFile(phone / c.phoneName), content));
        EXPECT_NE(PhoneItem(c.phoneName), nullptr);
    }
    // ring.mmf: bytes 0-7 its name, 8-31 0xFF.
    const std::string stored = ReadFile(phone / "ring.mel");
    ASSERT_EQ(stored.size(), 732u);
    EXPECT_EQ(stored.substr(0, 8), "ring.mmf");
    EXPECT_EQ(stored.substr(8, 24), std::string(24, '\xFF'));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(UploadTest, PCFileThatCannotBeOpenedEndsTheList)
{
    Online();
    WriteFile(pc / "a.txt", "a");
    WriteFile(pc / "b.txt", "b");
    WriteFile(pc / "c.txt", "c");
    RefreshPC();
    SelectPC({"a.txt", "b.txt", "c.txt"});
    std::filesystem::remove(pc / "b.txt");   // gone after it was listed

    win->Action_UploadExecute();
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(Texts(), std::vector<std::string>{"PC files list creating error."});
    // The rest is not sent, and the phone list is not reloaded.
    EXPECT_EQ(Commands(), std::vector<std::string>{WriteCmd("a.txt", 0, "a")});
    EXPECT_FALSE(std::filesystem::exists(phone / "c.txt"));
    EXPECT_TRUE(PanesEnabled());
}

TEST_F(UploadTest, WatchdogInTheMiddleLetsTheRestRunThrough)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    Online();
    for (const char* n : {"u1.bin", "u2.bin", "u3.bin"})
        WriteFile(pc / n, PatternBytes(1500, static_cast<unsigned>(n[1])));
    handset->Update([this](HandsetOptions& o) { o.SilentAfter = startupCommands + 1; });

    Upload({"u1.bin", "u2.bin", "u3.bin"});

    EXPECT_EQ(CommandsOf("AT+FSFW").size(), 2u);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFW"});
    EXPECT_TRUE(std::filesystem::exists(phone / "u1.bin"));
    EXPECT_FALSE(std::filesystem::exists(phone / "u3.bin"));
    EXPECT_TRUE(PanesEnabled());
    EXPECT_EQ(win->PanelText(2).toStdString(), "Offline");
}

} // namespace
