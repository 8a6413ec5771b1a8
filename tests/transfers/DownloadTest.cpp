// Download: the selected phone files read one after another into the PC folder, the overwrite
// question, the 200-file limit, a handset falling silent in the middle of the queue, cancel, and
// Back up phone.
#include <cstdio>

#include <QKeyEvent>
#include <QPushButton>

#include <sys/stat.h>

#include "protocol/PhoneTree.h"
#include "support/AsNobody.h"
#include "TransfersFixture.h"

using namespace transfers;

namespace {

class DownloadTest : public TransfersTest {
protected:
    // Selects the phone files whose records carry these names (captions may be cut).
    void SelectPhoneNames(const std::vector<std::string>& names)
    {
        win->ListView_PNFiles->clearSelection();
        for (int i = 0; i < win->ListView_PNFiles->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = win->ListView_PNFiles->topLevelItem(i);
            const TFileInfo* r = PhoneItemRecord(item);
            item->setSelected(r && std::find(names.begin(), names.end(), r->Name) != names.end());
        }
    }
};

TEST_F(DownloadTest, ThreeFilesAreSavedByteForByteAndThePCListRefilled)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"big.bin", PatternBytes(5000, 7)},   // three data blocks
        {"one.txt", "x"},
        {"photo.jpg", PatternBytes(2048, 9)}, // exactly one full block
    };
    for (const auto& [name, data] : files)
        WriteFile(phone / name, data);
    Online();
    ASSERT_TRUE(PCCaptions().empty());

    Download({"big.bin", "one.txt", "photo.jpg"});

    for (const auto& [name, data] : files)
        EXPECT_TRUE(SameBytes(ReadFile(pc / name), data)) << name;
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"big.bin", "one.txt", "photo.jpg"}));
    EXPECT_EQ(Commands(), (std::vector<std::string>{ReadCmd("big.bin"), ReadCmd("one.txt"), ReadCmd("photo.jpg")}));
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(PanesEnabled());
}

struct ExistingCase {
    const char* what;
    std::vector<Answer> script;
    std::vector<std::string> questions;       // the files asked about, in order
    std::vector<std::string> overwritten;     // of the existing files
};

TEST_F(DownloadTest, ExistingPCFilesAreAskedAbout)
{
    const std::vector<std::string> names = {"a1.txt", "a2.txt", "a3.txt", "a4.txt", "a5.txt"};
    const ExistingCase cases[] = {
        {"Yes to All on the first", {Answer::YesToAll}, {"a1.txt"}, names},
        {"No to the second", {Answer::Yes, Answer::No, Answer::Yes, Answer::Yes, Answer::Yes}, names,
         {"a1.txt", "a3.txt", "a4.txt", "a5.txt"}},
        {"No to all five", {Answer::No, Answer::No, Answer::No, Answer::No, Answer::No}, names, {}},
        // A box closed without a button is no consent.
        {"closed boxes", {Answer::Closed, Answer::Yes, Answer::Closed, Answer::Closed, Answer::Closed}, names,
         {"a2.txt"}},
    };
    for (const std::string& n : names)
        WriteFile(phone / n, "new " + n);
    Online();
    for (const ExistingCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& n : names)
            WriteFile(pc / n, "old");
        handset->ClearLog();
        dialogs->Clear();
        dialogs->Script(c.script);

        Download(names);

        std::vector<std::string> questions, reads;
        for (const std::string& n : c.questions)
            questions.push_back(Overwrite(n));
        for (const std::string& n : c.overwritten)
            reads.push_back(ReadCmd(n));
        EXPECT_EQ(Texts(), questions);
        EXPECT_EQ(Commands(), reads);
        for (const std::string& n : names) {
            const bool over = std::find(c.overwritten.begin(), c.overwritten.end(), n) != c.overwritten.end();
            EXPECT_EQ(ReadFile(pc / n), over ? "new " + n : "old") << n;
        }
        EXPECT_TRUE(PanesEnabled());
    }
}

TEST_F(DownloadTest, ExistingFileOnlyAmongOthersIsTheOnlyQuestion)
{
    WriteFile(phone / "new1.txt", "1");
    WriteFile(phone / "kept.txt", "phone copy");
    WriteFile(phone / "new2.txt", "2");
    WriteFile(pc / "kept.txt", "pc copy");
    Online();
    dialogs->Script({Answer::No});

    Download({"new1.txt", "kept.txt", "new2.txt"});

    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite("kept.txt")});
    EXPECT_EQ(ReadFile(pc / "kept.txt"), "pc copy");
    EXPECT_EQ(ReadFile(pc / "new1.txt"), "1");
    EXPECT_EQ(ReadFile(pc / "new2.txt"), "2");
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"kept.txt", "new1.txt", "new2.txt"}));
}

TEST_F(DownloadTest, OfTwoHundredAndOneSelectedTheFirstTwoHundredInListOrder)
{
    options.EntriesPerBlock = 64;
    std::vector<std::string> names;
    for (int i = 0; i < 201; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%03d.bin", i);
        names.push_back(name);
        WriteFile(phone / name, std::string(1, static_cast<char>('A' + i % 26)));
    }
    Online();
    ASSERT_EQ(PhoneCaptions().size(), 201u);

    win->ListView_PNFiles->selectAll();
    win->Action_DownloadExecute();
    ASSERT_TRUE(WaitIdle());

    std::vector<std::string> expected;
    const std::vector<std::string> listed = PhoneCaptions();
    for (std::size_t i = 0; i < 200; ++i)
        expected.push_back(ReadCmd(listed[i]));
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(PCCaptions().size(), 200u);
    EXPECT_FALSE(std::filesystem::exists(pc / listed[200]));
    EXPECT_EQ(ReadFile(pc / listed[199]), ReadFile(phone / listed[199]));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(DownloadTest, WatchdogInTheMiddleEndsTheQueueAndEnablesThePanes)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    const std::vector<std::string> names = {"w1.bin", "w2.bin", "w3.bin", "w4.bin", "w5.bin"};
    for (const std::string& n : names)
        WriteFile(phone / n, PatternBytes(3000, static_cast<unsigned>(n[1])));
    WriteFile(pc / "w5.bin", "old");
    Online();
    // Two more commands are answered; the third read meets silence.
    handset->Update([this](HandsetOptions& o) { o.SilentAfter = startupCommands + 2; });
    dialogs->Script({Answer::Ok, Answer::Yes});

    Download(names);

    EXPECT_EQ(Commands(), (std::vector<std::string>{ReadCmd("w1.bin"), ReadCmd("w2.bin"), ReadCmd("w3.bin")}));
    // The link is given up: the existing file is not asked about.
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFR"});
    EXPECT_TRUE(SameBytes(ReadFile(pc / "w1.bin"), ReadFile(phone / "w1.bin")));
    EXPECT_TRUE(SameBytes(ReadFile(pc / "w2.bin"), ReadFile(phone / "w2.bin")));
    EXPECT_FALSE(std::filesystem::exists(pc / "w3.bin"));
    EXPECT_FALSE(std::filesystem::exists(pc / "w4.bin"));
    EXPECT_EQ(ReadFile(pc / "w5.bin"), "old");
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"w1.bin", "w2.bin", "w5.bin"}));
    EXPECT_TRUE(PanesEnabled());
    EXPECT_FALSE(win->Link->Online());
    EXPECT_EQ(win->PanelText(2).toStdString(), "Offline");
    EXPECT_TRUE(win->Link->Channel().Idle());
}

TEST_F(DownloadTest, FilesGoOnlyToThePCFolderOnDisplay)
{
    namespace fs = std::filesystem;
    // A first start without a home folder of its own opens the user's home folder.
    WriteFile(userHome / "mine.txt", "m");
    WriteFile(userHome / "priv.bin", "old");
    fs::permissions(userHome / "priv.bin", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile(phone / "new.bin", "fresh");
    WriteFile(phone / "priv.bin", "secret");
    homeDir.clear();
    Online();
    EXPECT_EQ(win->ShellSelectedPath(), userHome.string());
    ASSERT_EQ(win->PCDir, userHome.string());
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"mine.txt", "priv.bin"}));

    // A new file gets what the umask leaves of 0666; a replaced file keeps its own mode.
    const mode_t oldMask = umask(027);
    dialogs->Script({Answer::Yes});
    Download({"new.bin", "priv.bin"});
    umask(oldMask);
    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite("priv.bin")});
    EXPECT_EQ(ReadFile(userHome / "new.bin"), "fresh");
    EXPECT_EQ(ReadFile(userHome / "priv.bin"), "secret");
    EXPECT_EQ(fs::status(userHome / "new.bin").permissions(), static_cast<fs::perms>(0640));
    EXPECT_EQ(fs::status(userHome / "priv.bin").permissions(), static_cast<fs::perms>(0600));

    // A folder that cannot be entered leaves the list showing none and nowhere to download to;
    // so does no folder at all.
    const fs::path locked = root / "locked";
    fs::create_directories(locked);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(locked, fs::perms::owner_all);
    for (const bool none : {false, true}) {
        SCOPED_TRACE(none ? "no folder" : "a folder that cannot be entered");
        if (none) {
            ASSERT_TRUE(win->SetShellPath(std::string()));
        } else {
            AsNobody nobody;
            ASSERT_TRUE(nobody.Ok());
            ASSERT_TRUE(win->SetShellPath(locked.string()));
        }
        EXPECT_EQ(win->PCDir, "");
        EXPECT_TRUE(PCCaptions().empty());
        dialogs->Clear();
        handset->ClearLog();
        Download({"new.bin"});
        EXPECT_EQ(Texts(), std::vector<std::string>{"Choose a folder on the PC first."});
        EXPECT_TRUE(Commands().empty());
        EXPECT_TRUE(PanesEnabled());
    }
}

TEST_F(DownloadTest, HandsetNamesTravelWholeAndAsTheyWereSent)
{
    namespace fs = std::filesystem;
    const std::string cut = std::string(56, 'n');
    const std::string longName = cut + "-tail.txt";   // listed under the other file's name
    const std::string latin1 = "caf\xE9.txt";          // not UTF-8
    const std::string backslash = "a\\b.txt";         // a name, not a path, on the handset
    WriteFile(phone / cut, "cut");
    WriteFile(phone / longName, "long");
    WriteFile(phone / latin1, "latin");
    WriteFile(phone / backslash, "b");
    Online();
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{backslash, "caf\uFFFD.txt", cut, cut}));

    SelectPhoneNames({backslash, latin1, longName});
    win->Action_DownloadExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Commands(), (std::vector<std::string>{ReadCmd(latin1), ReadCmd(longName)}));
    EXPECT_EQ(Texts(), std::vector<std::string>{
                           "File: a\\b.txt\r\nThis name cannot be a file name on the PC; the file is not downloaded."});
    EXPECT_EQ(ReadFile(pc / "caf\uFFFD.txt"), "latin");
    EXPECT_EQ(ReadFile(pc / longName), "long");
    EXPECT_FALSE(fs::exists(pc / cut));

    // Delete erases the file it was asked about, not the one whose name is its cut.
    handset->ClearLog();
    dialogs->Clear();
    dialogs->Script({Answer::Yes});
    SelectPhoneNames({longName});
    win->Action_DeleteExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Texts(), std::vector<std::string>{"Deleting file: " + longName + "\r\nA you sure?"});
    EXPECT_EQ(Commands(), (std::vector<std::string>{EraseCmd(longName), ListCmd("/")}));
    EXPECT_FALSE(fs::exists(phone / longName));
    EXPECT_EQ(ReadFile(phone / cut), "cut");
}

} // namespace

namespace {

// The names in a folder (temporary files of a save included), sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (!e.is_directory())
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Cancel (the button, or Esc on the progress window) asks for as soon as the first file of the
// queue shows: the window offers it only because files follow.
QMetaObject::Connection CancelAtFirstFile(TForm_Main* win, bool byEscape)
{
    return QObject::connect(win->Link, &TPhoneLink::TransferShown, win, [byEscape] {
        if (!Form_Progress->Button_Cancel->isEnabled())
            return;
        if (byEscape) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(Form_Progress, &esc);
        } else {
            Form_Progress->Button_Cancel->click();
        }
    });
}

} // namespace

// A cancelled download, upload or delete stops after the file under way: that file arrives
// whole, the rest are not touched, nothing half-written is left on either side, and the user is
// told.
TEST_F(DownloadTest, CancelStopsDownloadUploadAndDeleteAfterTheFileUnderWay)
{
    options.ReadBlockSize = 512;
    const std::string first = PatternBytes(3000, 3);
    WriteFile(phone / "a.bin", first);
    WriteFile(phone / "b.bin", "bee");
    WriteFile(phone / "c.bin", "sea");
    Online();

    auto cancel = CancelAtFirstFile(win, false);
    Download({"a.bin", "b.bin", "c.bin"});
    QObject::disconnect(cancel);
    EXPECT_EQ(Commands(), std::vector<std::string>{ReadCmd("a.bin")});
    EXPECT_TRUE(SameBytes(ReadFile(pc / "a.bin"), first));
    EXPECT_EQ(NamesIn(pc), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(Texts(), std::vector<std::string>{"1 of 3 files downloaded; cancelled."});
    EXPECT_FALSE(Form_Progress->isVisible());
    EXPECT_TRUE(PanesEnabled());

    handset->ClearLog();
    dialogs->Clear();
    const std::string upload = PatternBytes(1500, 5);
    WriteFile(pc / "x.bin", upload);
    WriteFile(pc / "y.bin", "why");
    WriteFile(pc / "z.bin", "zed");
    cancel = CancelAtFirstFile(win, true);
    Upload({"x.bin", "y.bin", "z.bin"});
    QObject::disconnect(cancel);
    EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd("x.bin", 0, upload), ListCmd("/")}));
    EXPECT_TRUE(SameBytes(ReadFile(phone / "x.bin"), upload));
    EXPECT_EQ(NamesIn(phone), (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "x.bin"}));
    EXPECT_EQ(Texts(), std::vector<std::string>{"1 of 3 files uploaded; cancelled."});

    // The next queue starts afresh and runs to its end.
    dialogs->Clear();
    Upload({"y.bin", "z.bin"});
    EXPECT_EQ(ReadFile(phone / "z.bin"), "zed");
    EXPECT_TRUE(Texts().empty());

    // A delete shows each erase, and stops after it as well.
    dialogs->Script({Answer::YesToAll});
    cancel = CancelAtFirstFile(win, false);
    SelectPhone({"a.bin", "b.bin", "c.bin"});
    win->Action_DeleteExecute();
    ASSERT_TRUE(WaitIdle());
    QObject::disconnect(cancel);
    EXPECT_EQ(NamesIn(phone), (std::vector<std::string>{"b.bin", "c.bin", "x.bin", "y.bin", "z.bin"}));
    EXPECT_EQ(Texts().back(), "1 of 3 files deleted; cancelled.");
}

// Back up phone from the window, cancelled after its first file: that file is kept and booked,
// and the next backup into the same folder fetches only the rest (cancelled once more while a
// folder is listed again before its fetch, it stops before that fetch). Each run ends with its
// summary and the folder on display listed again.
TEST_F(DownloadTest, BackupCancelledThenRunAgainFetchesOnlyWhatItLacked)
{
    for (const std::string& folder : PhoneTreeFolders())
        std::filesystem::create_directories(phone / folder.substr(1));
    options.ReadBlockSize = 512;
    const std::string first = PatternBytes(3000, 4);
    WriteFile(phone / "a.bin", first);
    WriteFile(phone / "user/sounds/b.mmf", "MMMD tune");
    WriteFile(phone / "images/c.png", PatternBytes(700, 6));
    Online();
    OpenPhoneFolder("/images");
    const std::filesystem::path bk = root / "bk";
    std::vector<std::string> titles;
    Dialogs::SetFolderHandler([&](const std::string& title) {
        titles.push_back(title);
        return bk.string();
    });
    const std::string head = "Backup of the phone into " + bk.string() + ":\r\n";

    handset->ClearLog();
    auto cancel = CancelAtFirstFile(win, false);
    win->Action_BackupPhone->trigger();
    ASSERT_TRUE(WaitIdle());
    QObject::disconnect(cancel);
    EXPECT_EQ(CommandsOf("AT+FSFR"), std::vector<std::string>{ReadCmd("a.bin")});
    EXPECT_TRUE(SameBytes(ReadFile(bk / "a.bin"), first));
    EXPECT_FALSE(std::filesystem::exists(bk / "user/sounds/b.mmf"));
    EXPECT_EQ(Texts(), std::vector<std::string>{head + "1 new, 0 changed, 0 unchanged, 0 failed; cancelled."});
    EXPECT_EQ(Commands().back(), ListCmd("/images"));
    EXPECT_EQ(PhoneCaptions(), std::vector<std::string>{"c.png"});
    EXPECT_FALSE(Form_Progress->isVisible());

    // Cancelled while the next folder is listed again: its file is not fetched.
    handset->ClearLog();
    dialogs->Clear();
    int imagesListed = 0;
    cancel = QObject::connect(win->Link, &TPhoneLink::ListingEnded, win, [&] {
        if (win->Link->PhoneDir() == "/images" && ++imagesListed == 2)
            Form_Progress->Button_Cancel->click();
    });
    win->Action_BackupPhone->trigger();
    ASSERT_TRUE(WaitIdle());
    QObject::disconnect(cancel);
    EXPECT_EQ(CommandsOf("AT+FSFR"), std::vector<std::string>{ReadCmd("b.mmf")});
    EXPECT_EQ(ReadFile(bk / "user/sounds/b.mmf"), "MMMD tune");
    EXPECT_EQ(Texts(), std::vector<std::string>{head + "1 new, 0 changed, 1 unchanged, 0 failed; cancelled."});

    handset->ClearLog();
    dialogs->Clear();
    win->Action_BackupPhone->trigger();
    ASSERT_TRUE(WaitIdle());
    Dialogs::SetFolderHandler({});
    EXPECT_EQ(CommandsOf("AT+FSFR"), std::vector<std::string>{ReadCmd("c.png")});
    EXPECT_TRUE(SameBytes(ReadFile(bk / "images/c.png"), PatternBytes(700, 6)));
    EXPECT_EQ(Texts(), std::vector<std::string>{head + "1 new, 0 changed, 2 unchanged, 0 failed."});
    EXPECT_EQ(PhoneCaptions(), std::vector<std::string>{"c.png"});
    EXPECT_EQ(titles, std::vector<std::string>(3, "Please select a folder for the backup"));
    EXPECT_TRUE(win->Action_BackupPhone->isEnabled());
}
