// Delete on the handset, Reload, and the home folder.
#include "TransfersFixture.h"

using namespace transfers;

namespace {

class DeleteTest : public TransfersTest {};

std::string DeleteQuestion(const std::string& name) { return "Deleting file: " + name + "\r\nA you sure?"; }

struct DeleteCase {
    const char* what;
    std::vector<Answer> script;
    std::vector<std::string> questions;
    std::vector<std::string> erased;
};

TEST_F(DeleteTest, EachSelectedFileIsAskedAboutThenErasedAndTheListReloaded)
{
    const std::vector<std::string> names = {"d1.txt", "d2.txt", "d3.txt"};
    const DeleteCase cases[] = {
        {"No for the second", {Answer::Yes, Answer::No, Answer::Yes}, names, {"d1.txt", "d3.txt"}},
        {"Yes to All on the first", {Answer::YesToAll}, {"d1.txt"}, names},
        {"closed boxes", {Answer::Closed, Answer::Closed, Answer::Yes}, names, {"d3.txt"}},
    };
    WriteFile(phone / "stays.txt", "s");
    Online();
    for (const DeleteCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& n : names)
            WriteFile(phone / n, n);
        OpenPhoneFolder("/");
        handset->ClearLog();
        dialogs->Clear();
        // The panes are disabled while the questions are asked and the erases run.
        std::vector<bool> panesAtQuestion;
        std::size_t next = 0;
        Answering([&](const std::string&) {
            panesAtQuestion.push_back(PanesEnabled());
            return next < c.script.size() ? c.script[next++] : Answer::Yes;
        });
        SelectPhone(names);

        win->Action_DeleteExecute();
        ASSERT_TRUE(WaitIdle());

        std::vector<std::string> questions, commands;
        for (const std::string& n : c.questions)
            questions.push_back(DeleteQuestion(n));
        for (const std::string& n : c.erased)
            commands.push_back(EraseCmd(n));
        commands.push_back(ListCmd("/"));
        EXPECT_EQ(seen, questions);
        EXPECT_EQ(panesAtQuestion, std::vector<bool>(questions.size(), false));
        EXPECT_EQ(Commands(), commands);
        std::vector<std::string> left = {"stays.txt"};
        for (const std::string& n : names)
            if (std::find(c.erased.begin(), c.erased.end(), n) == c.erased.end())
                left.push_back(n);
        std::sort(left.begin(), left.end());
        std::vector<std::string> listed = PhoneCaptions();
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, left);
        for (const std::string& n : names)
            EXPECT_EQ(std::filesystem::exists(phone / n),
                      std::find(c.erased.begin(), c.erased.end(), n) == c.erased.end())
                << n;
        EXPECT_TRUE(PanesEnabled());
    }
}

TEST_F(DeleteTest, FolderChangedDuringTheQuestionsErasesNothingElsewhere)
{
    WriteFile(phone / "a.txt", "a");
    WriteFile(phone / "b.txt", "b in root");
    WriteFile(phone / "images/b.txt", "b in images");
    Online();
    SelectPhone({"a.txt", "b.txt"});
    Answering([&](const std::string&) {
        // While the second question is open another folder comes up on the phone side.
        if (seen.size() == 2)
            win->ShowPhoneDir("/images");
        return Answer::Yes;
    });

    win->Action_DeleteExecute();
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(seen, (std::vector<std::string>{DeleteQuestion("a.txt"), DeleteQuestion("b.txt")}));

    EXPECT_EQ(Commands(), (std::vector<std::string>{EraseCmd("a.txt"), ListCmd("/images")}));
    EXPECT_EQ(ReadFile(phone / "images/b.txt"), "b in images");
    EXPECT_EQ(ReadFile(phone / "b.txt"), "b in root");
    EXPECT_FALSE(std::filesystem::exists(phone / "a.txt"));
    EXPECT_EQ(PhoneCaptions(), std::vector<std::string>{"b.txt"});
    EXPECT_TRUE(PanesEnabled());
}

class ReloadHomeTest : public TransfersTest {};

TEST_F(ReloadHomeTest, ReloadListsBothSidesAgain)
{
    WriteFile(phone / "old.txt", "o");
    WriteFile(pc / "pcold.txt", "o");
    Online();
    WriteFile(phone / "new.txt", "n");
    WriteFile(pc / "pcnew.txt", "n");
    std::filesystem::remove(pc / "pcold.txt");
    ASSERT_EQ(PhoneCaptions(), std::vector<std::string>{"old.txt"});
    EXPECT_EQ(win->Action_Reload->shortcut(), QKeySequence(Qt::Key_F5));

    win->Action_Reload->trigger();
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(Commands(), std::vector<std::string>{ListCmd("/")});
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"new.txt", "old.txt"}));
    EXPECT_EQ(PCCaptions(), std::vector<std::string>{"pcnew.txt"});
    EXPECT_EQ(win->ShellSelectedPath(), pc.string());
}

TEST_F(ReloadHomeTest, ListingAgainWhileAListingRunsShowsEachFileOnce)
{
    options.EntriesPerBlock = 3;
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("f" + std::to_string(i) + ".txt");
        WriteFile(phone / names.back(), "x");
    }
    WriteFile(pc / "f0.txt", "pc");
    Online();
    RefreshPC();

    // Reload right after another: the second listing starts once the first has ended.
    win->ShowPhoneDir("/");
    win->Action_ReloadExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(PhoneCaptions(), names);

    // Delete and Upload list the folder again at their end, after a listing started meanwhile.
    Answering([this](const std::string&) {
        win->ShowPhoneDir("/");
        return Answer::No;
    });
    SelectPhone({"f1.txt"});
    win->Action_DeleteExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(PhoneCaptions(), names);
    Upload({"f0.txt"});
    EXPECT_EQ(PhoneCaptions(), names);
    EXPECT_EQ(seen, (std::vector<std::string>{"Deleting file: f1.txt\r\nA you sure?", Overwrite("f0.txt")}));
    EXPECT_TRUE(CommandsOf("AT+FSFE").empty());
}

TEST_F(ReloadHomeTest, GoHomeWithADeletedHomeFolderClearsIt)
{
    const std::filesystem::path home = root / "home";
    WriteFile(home / "h.txt", "h");
    Online();
    HomeDir = home.string();

    win->Action_GoHome->trigger();
    EXPECT_EQ(win->ShellSelectedPath(), home.string());
    EXPECT_EQ(win->PCDir, home.string());
    EXPECT_EQ(PCCaptions(), std::vector<std::string>{"h.txt"});

    std::filesystem::remove_all(home);
    win->Action_GoHome->trigger();
    EXPECT_EQ(HomeDir, "");
    EXPECT_EQ(win->ShellSelectedPath(), "");
    EXPECT_TRUE(PCCaptions().empty());

    // The next GoHome does nothing.
    ASSERT_TRUE(win->SetShellPath(pc.string()));
    win->Action_GoHome->trigger();
    EXPECT_EQ(win->ShellSelectedPath(), pc.string());
    EXPECT_TRUE(Texts().empty());
}

TEST_F(ReloadHomeTest, HomeDirChoiceSetsTheHomeFolderWithoutMovingTheTree)
{
    const std::filesystem::path chosen = root / "chosen";
    std::filesystem::create_directories(chosen);
    Online();
    std::vector<std::string> titles;
    std::string answer = chosen.string();
    Dialogs::SetFolderHandler([&](const std::string& title) {
        titles.push_back(title);
        return answer;
    });

    win->miHomeDir->trigger();
    EXPECT_EQ(HomeDir, chosen.string());
    EXPECT_EQ(win->ShellSelectedPath(), pc.string());

    answer.clear();   // cancelled: nothing changes
    win->miHomeDir->trigger();
    EXPECT_EQ(HomeDir, chosen.string());
    Dialogs::SetFolderHandler({});

    EXPECT_EQ(titles, (std::vector<std::string>{"Please select a folder", "Please select a folder"}));
    win->Action_GoHome->trigger();
    EXPECT_EQ(win->ShellSelectedPath(), chosen.string());
    // Kept in the settings file when the program ends.
    CloseWindow();
    EXPECT_NE(ReadFile(settings / "tarvel.ini").find("HOMEDIR=" + chosen.string() + "\n"), std::string::npos)
        << ReadFile(settings / "tarvel.ini");
}

} // namespace
