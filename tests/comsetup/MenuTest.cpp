// The "COM Port...", "About" and "Log" menu entries of the main window.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_About.h"
#include "ui/Unit_COM.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The main window (not shown, so it never opens a port) with its dialogs, over a settings
// folder and a port list of its own.
class MenuEntries : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarvel-menu-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directories(dir_ / "tty" / "ttyS0" / "device");
        fs::create_directories(dir_ / "tty" / "ttyUSB0" / "device");
        ini_ = dir_ / "tarvel.ini";
        std::ofstream(ini_) << "[COMMON]\nPORT=ttyUSB0\nCOMPortBaudRate=57600\nHOMEDIR=\n"
                               "COMCheckLineStatus=0\nCOMHwFlow=2\n[Mine]\nKeep=1\n";
        SettingsDir = dir_.string();
        win = new TForm_Main;
        Form_Log = new TForm_Log;
        Form_ComSetup = new TForm_ComSetup(win);
        Form_ComSetup->PortClassDir = (dir_ / "tty").string();
        AboutDlg = new TAboutDlg(win);
    }
    void TearDown() override
    {
        delete Form_Log;
        Form_Log = nullptr;
        delete win;   // owns the two dialogs
        win = nullptr;
        Form_ComSetup = nullptr;
        AboutDlg = nullptr;
        fs::remove_all(dir_);
    }

    // Presses a button of the setup dialog once it shows.
    void Answer(QPushButton* TForm_ComSetup::*button, std::function<void()> before = {})
    {
        QTimer::singleShot(0, Form_ComSetup, [button, before] {
            if (before)
                before();
            (Form_ComSetup->*button)->click();
        });
    }

    fs::path dir_;
    fs::path ini_;
    TForm_Main* win = nullptr;
    Dialogs::Recorder dialogs;
};

} // namespace

TEST_F(MenuEntries, OkSavesTheSettingsThenAsksForAReload)
{
    ASSERT_EQ(ComPort, "ttyUSB0");
    Answer(&TForm_ComSetup::Button_Ok);
    win->miComPortSetup->trigger();
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].kind, Dialogs::Kind::Information);
    EXPECT_EQ(dialogs.Shown()[0].text, "Reload programm.");
    EXPECT_EQ(ReadAll(ini_), "[COMMON]\nPORT=ttyUSB0\nCOMPortBaudRate=57600\nHOMEDIR=\n"
                             "COMCheckLineStatus=0\nCOMHwFlow=2\n[Mine]\nKeep=1\n");

    Answer(&TForm_ComSetup::Button_Ok, [] { Form_ComSetup->ComboBox_Port->setCurrentText("ttyS0"); });
    win->miComPortSetupClick();
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{"Reload programm.", "Reload programm."}));
    EXPECT_NE(ReadAll(ini_).find("PORT=ttyS0\n"), std::string::npos);
}

TEST_F(MenuEntries, CancelNeitherSavesNorAsks)
{
    fs::remove(ini_);
    Answer(&TForm_ComSetup::Button_Cancel);
    win->miComPortSetupClick();
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_FALSE(fs::exists(ini_));
}

TEST_F(MenuEntries, ASaveErrorReachesTheCallerAndNoReloadMessage)
{
    fs::remove(ini_);
    fs::create_directory(ini_);
    Answer(&TForm_ComSetup::Button_Ok, [] { Form_ComSetup->ComboBox_BRate->setCurrentIndex(2); });
    try {
        win->miComPortSetupClick();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini_.string());
    }
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(ComBaudRate, 230400);   // the new values are kept in memory
}

// Closing the window saves the settings while the program still runs: a failed save is shown in
// a box that the user can read (the box's own event loop runs), then the program ends.
TEST_F(MenuEntries, AFailedSaveAtProgramEndIsShownBeforeTheProgramEnds)
{
    fs::remove(ini_);
    fs::create_directory(ini_);
    std::vector<std::string> texts;
    bool boxLoopRan = false;
    Dialogs::SetHandler([&](Dialogs::Kind, const std::string& text) {
        texts.push_back(text);
        QEventLoop box;
        QTimer::singleShot(0, &box, [&] {
            boxLoopRan = true;
            box.quit();
        });
        box.exec();
        return Dialogs::Answer::Ok;
    });
    QTimer::singleShot(0, win, [this] { win->close(); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(texts, std::vector<std::string>{"Unable to write to " + ini_.string()});
    EXPECT_TRUE(boxLoopRan);
}

TEST_F(MenuEntries, APortListErrorOpensNoDialog)
{
    Form_ComSetup->PortClassDir = (dir_ / "missing").string();
    bool shown = false;
    QTimer::singleShot(0, Form_ComSetup, [&] {
        if (Form_ComSetup->isVisible()) {
            shown = true;
            Form_ComSetup->reject();
        }
    });
    EXPECT_THROW(win->miComPortSetupClick(), EComPort);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown);
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MenuEntries, AboutShowsTheBoxModally)
{
    bool modal = false;
    QTimer::singleShot(0, AboutDlg, [&] {
        modal = AboutDlg->isVisible() && AboutDlg->isModal();
        AboutDlg->OKBtn->click();
    });
    win->miAbout->trigger();
    EXPECT_TRUE(modal);
    EXPECT_FALSE(AboutDlg->isVisible());
}

TEST_F(MenuEntries, LogEntryTogglesTheLogWindow)
{
    EXPECT_FALSE(win->miLog->isVisible());   // hidden in normal use
    win->miLog->setVisible(true);
    const struct {
        bool closeByButton;
        bool checked;
        bool showing;
    } steps[] = {
        {false, true, true},
        {false, false, false},
        {false, true, true},
        {true, true, false},    // closed by its own button: the entry stays checked
        {false, false, false},  // so the next click only unchecks it
        {false, true, true},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        if (steps[i].closeByButton)
            Form_Log->close();
        else
            win->miLog->trigger();
        EXPECT_EQ(win->miLog->isChecked(), steps[i].checked) << i;
        EXPECT_EQ(Form_Log->isVisible(), steps[i].showing) << i;
    }
}
