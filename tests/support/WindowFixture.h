#pragma once
// A fixture for window-level tests: real files in a temporary folder, the virtual handset on a
// pseudo-terminal serving a phone folder, TForm_Main offscreen connected through the real
// serial driver, and every message box recorded.
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "support/Files.h"
#include "support/Wait.h"
#include "ui/Dialogs.h"
#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

namespace testsupport {

class WindowTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    std::filesystem::path root;        // the whole test's folder
    std::filesystem::path phone;       // the handset's "/"
    std::filesystem::path pc;          // the PC folder on display
    std::filesystem::path settings;    // where tarvel.ini lives
    std::filesystem::path userHome;    // $HOME while the test runs (empty unless a test fills it)
    QByteArray savedHome;
    HandsetOptions options;            // set before StartHandset()
    std::string homeDir;               // HOMEDIR of the settings (the PC folder by default)
    std::unique_ptr<VirtualHandset> handset;
    std::unique_ptr<Dialogs::Recorder> dialogs;
    TForm_Main* win = nullptr;
    int watchdogMs = 4000;             // the program's; tests that wait for it set a shorter one

    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        root = tmp.path().toStdString();
        phone = root / "phone";
        pc = root / "pc";
        settings = root / "settings";
        for (const char* dir : {"user/sounds", "images", "java", "mms/camera/myalbum2/thumb"})
            std::filesystem::create_directories(phone / dir);
        std::filesystem::create_directories(pc);
        std::filesystem::create_directories(settings);
        userHome = root / "home";
        std::filesystem::create_directories(userHome);
        savedHome = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString(userHome.string()));
        homeDir = pc.string();
        options.Root = phone.string();
        dialogs = std::make_unique<Dialogs::Recorder>();
    }

    void TearDown() override
    {
        CloseWindow();
        if (handset)
            handset->Stop();
        handset.reset();
        dialogs.reset();
        qputenv("HOME", savedHome);
        // Qt cannot name files whose names are not UTF-8, so QTemporaryDir would leave them
        // (and their folders) behind: the bytes-level removal goes first.
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    void StartHandset()
    {
        handset = std::make_unique<VirtualHandset>(options);
        std::string error;
        ASSERT_TRUE(handset->Open(&error)) << error;
        handset->Start();
    }

    // Writes tarvel.ini naming the port (the handset's by default).
    void WriteSettings(const std::string& port = {}, bool checkLineStatus = false)
    {
        std::ofstream ini(settings / "tarvel.ini");
        ini << "[COMMON]\nPORT=" << (port.empty() ? handset->SlavePath() : port)
            << "\nCOMPortBaudRate=115200\nHOMEDIR=" << homeDir
            << "\nCOMCheckLineStatus=" << (checkLineStatus ? 1 : 0) << "\nCOMHwFlow=1\n";
    }

    // Creates the windows; `show` runs the start-up (Reconnect) as the program does.
    void CreateWindow(bool show = true)
    {
        SettingsDir = settings.string();
        win = new TForm_Main;
        win->Link->SetWatchdogIntervalForTests(watchdogMs);
        Form_Log = new TForm_Log;
        Form_Progress = new TForm_Progress(win);
        if (show) {
            win->show();
            WaitUntil([this] { return win->isVisible(); });
        }
    }

    // Handset, settings and window, then waits for "/" to be listed.
    void StartOnline()
    {
        StartHandset();
        WriteSettings();
        CreateWindow();
        ASSERT_TRUE(WaitIdle()) << "the start-up did not finish";
        ASSERT_EQ(win->PanelText(2).toStdString(), "Online");
    }

    // Waits until no command is outstanding and the phone tree is usable again.
    bool WaitIdle(int timeoutMs = 8000)
    {
        return WaitUntil([this] { return win->Link->Channel().Idle() && win->TreeView_PNDir->isEnabled() && win->Panel_Phone->isEnabled(); },
                         timeoutMs);
    }

    void CloseWindow()
    {
        if (!win)
            return;
        win->close();
        delete Form_Log;
        Form_Log = nullptr;
        delete win;
        win = nullptr;
        Form_Progress = nullptr;
    }

    // The captions of the phone list, in order.
    std::vector<std::string> PhoneCaptions() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < win->ListView_PNFiles->topLevelItemCount(); ++i)
            names.push_back(win->ListView_PNFiles->topLevelItem(i)->text(0).toStdString());
        return names;
    }

    std::vector<std::string> PCCaptions() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < win->ListView_PCFiles->topLevelItemCount(); ++i)
            names.push_back(win->ListView_PCFiles->topLevelItem(i)->text(0).toStdString());
        return names;
    }

    QTreeWidgetItem* PhoneItem(const std::string& caption) const
    {
        for (int i = 0; i < win->ListView_PNFiles->topLevelItemCount(); ++i)
            if (win->ListView_PNFiles->topLevelItem(i)->text(0).toStdString() == caption)
                return win->ListView_PNFiles->topLevelItem(i);
        return nullptr;
    }

    QTreeWidgetItem* PCItem(const std::string& caption) const
    {
        for (int i = 0; i < win->ListView_PCFiles->topLevelItemCount(); ++i)
            if (win->ListView_PCFiles->topLevelItem(i)->text(0).toStdString() == caption)
                return win->ListView_PCFiles->topLevelItem(i);
        return nullptr;
    }

    // Selects exactly these phone files.
    void SelectPhone(const std::vector<std::string>& captions)
    {
        win->ListView_PNFiles->clearSelection();
        for (const std::string& c : captions) {
            QTreeWidgetItem* item = PhoneItem(c);
            ASSERT_NE(item, nullptr) << c;
            item->setSelected(true);
        }
    }

    void SelectPC(const std::vector<std::string>& captions)
    {
        win->ListView_PCFiles->clearSelection();
        for (const std::string& c : captions) {
            QTreeWidgetItem* item = PCItem(c);
            ASSERT_NE(item, nullptr) << c;
            item->setSelected(true);
        }
    }

    // Opens a phone folder by its tree path and waits for the listing.
    void OpenPhoneFolder(const std::string& path)
    {
        win->ShowPhoneDir(path);
        ASSERT_TRUE(WaitIdle());
    }

    // Re-reads the PC folder on display.
    void RefreshPC() { win->ShellTreeView1Change(); }

    std::vector<std::string> Texts() const { return dialogs->Texts(); }
};

} // namespace testsupport
