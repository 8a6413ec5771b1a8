// The main window offscreen: its controls and actions, the enabling rules, and the start-up
// through the virtual handset.
#include <set>

#include <QFileSystemModel>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QDesktopServices>
#include <QProcess>

#include "serial/CPDrv.h"
#include "support/WindowFixture.h"

using namespace testsupport;

namespace {

class MainWindowTest : public WindowTest {
protected:
    void Focus(QWidget* w)
    {
        QApplication::setActiveWindow(win);
        w->setFocus(Qt::OtherFocusReason);
        WaitUntil([w] { return w->hasFocus(); }, 2000);
    }
};

// Where the window would have the desktop open a folder.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> Urls;
public slots:
    void Open(const QUrl& url) { Urls.push_back(url); }
};

struct ActionRow {
    const char* name;
    const char* caption;
    const char* hint;
    const char* shortcut;
    bool enabled;
};

TEST_F(MainWindowTest, ActionsCarryTheirNamesCaptionsHintsAndShortcuts)
{
    // No settings: the PC pane opens the (empty) home folder, and the upload actions follow
    // its empty list.
    CreateWindow(false);
    const ActionRow rows[] = {
        {"EditSelectAll1", "Select &All", "Select All", "Ctrl+A", true},
        {"Action_GoHome", "GoHome", "Go to home page", "", true},
        {"Action_Download", "Download", "Copy to computer", "", true},
        {"Action_Delete", "Action_Delete", "Delete file", "", true},
        {"Action_Reload", "Reload", "Reload", "F5", true},
        {"Action_Upload", "Upload", "Copy to phone", "", false},
        {"Action_UplodAsMelody", "Uplod As Melody", "Copy to phone as melody (only for MMF files)", "", false},
        {"Action_PlayMMF", "Play MMF", "", "", false},
        {"Action_StopMMF", "Stop MMF", "", "", false},
        {"Action_Reconnect", "Reconnect", "", "", true},
        {"Action_CopyAsMIDlet", "Copy As MIDlet", "Copy to phone as MIDlet (only for JAD files)", "", true},
        {"Action_BackupPhone", "Back up phone...", "Copy every folder of the phone into a PC folder", "", false},
    };
    for (const ActionRow& r : rows) {
        auto* a = win->findChild<QAction*>(QLatin1String(r.name));
        ASSERT_NE(a, nullptr) << r.name;
        EXPECT_EQ(a->text().toStdString(), r.caption) << r.name;
        if (*r.hint) {
            EXPECT_EQ(a->toolTip().toStdString(), r.hint) << r.name;
        }
        EXPECT_EQ(a->shortcut().toString().toStdString(), r.shortcut) << r.name;
        EXPECT_EQ(a->isEnabled(), r.enabled) << r.name;
    }
    EXPECT_EQ(win->EditSelectAll1->statusTip().toStdString(), "Selects the entire document");
    // Without the synthesizer library the preview actions are hidden.
    EXPECT_FALSE(win->Action_PlayMMF->isVisible());
    EXPECT_FALSE(win->Action_StopMMF->isVisible());
}

TEST_F(MainWindowTest, LayoutToolBarMenusAndStatusBar)
{
    CreateWindow(false);
    EXPECT_EQ(win->windowTitle().toStdString(), "Tarvel R15");
    EXPECT_EQ(win->size(), QSize(774, 607));
    for (const char* name : {"Panel_Phone", "PN_FullDirName", "TreeView_PNDir", "Splitter_Phone", "Panel_File_Phone",
                             "PN_FullFileName", "ListView_PNFiles", "Splitter1", "Panel_PC", "ToolBar1",
                             "ShellTreeView1", "Splitter2", "ListView_PCFiles", "StatusBar1"})
        EXPECT_NE(win->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    EXPECT_EQ(win->ListView_PNFiles->parentWidget(), win->Panel_File_Phone);
    EXPECT_EQ(win->PN_FullFileName->parentWidget(), win->Panel_File_Phone);
    EXPECT_EQ(win->ToolBar1->iconSize(), QSize(36, 33));

    std::vector<std::string> bar;
    for (QAction* a : win->ToolBar1->actions())
        bar.push_back(a->isSeparator() ? "|" : a->objectName().toStdString());
    EXPECT_EQ(bar, (std::vector<std::string>{"Action_GoHome", "|", "Action_Download", "Action_Delete", "|",
                                             "Action_Reload", "|", "Action_Upload", "Action_UplodAsMelody",
                                             "Action_CopyAsMIDlet", "|", "Action_PlayMMF", "Action_StopMMF"}));

    std::vector<std::string> menus;
    for (QAction* m : win->menuBar()->actions()) {
        menus.push_back(m->text().toStdString() + ":");
        for (QAction* item : m->menu()->actions())
            menus.push_back(item->text().toStdString() + (item->isVisible() ? "" : "(hidden)"));
    }
    EXPECT_EQ(menus, (std::vector<std::string>{"Setup:", "COM Port...", "Home Dir...", "Action:", "Reconnect",
                                               "Reload", "Back up phone...", "Show phone in file manager",
                                               "Select &All", "Log(hidden)", "Help:",
                                               "About"}));

    EXPECT_EQ(win->PanelText(0).toStdString(), "");
    EXPECT_EQ(win->PanelText(1).toStdString(), "COM1");
    EXPECT_EQ(win->PanelText(2).toStdString(), "Offline");
    EXPECT_EQ(win->PanelText(3).toStdString(), "");

    std::vector<std::string> phoneColumns, pcColumns;
    for (int c = 0; c < win->ListView_PNFiles->columnCount(); ++c)
        phoneColumns.push_back(win->ListView_PNFiles->headerItem()->text(c).toStdString());
    for (int c = 0; c < win->ListView_PCFiles->columnCount(); ++c)
        pcColumns.push_back(win->ListView_PCFiles->headerItem()->text(c).toStdString());
    EXPECT_EQ(phoneColumns, (std::vector<std::string>{"Name", "Type", "Size", "Date"}));
    EXPECT_EQ(pcColumns, (std::vector<std::string>{"Name", "Size (bytes)"}));
    EXPECT_EQ(win->ListView_PNFiles->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(MainWindowTest, PhoneTreeNodesGiveTheirPaths)
{
    CreateWindow(false);
    QTreeWidgetItem* rootNode = win->PhoneRootNode();
    ASSERT_NE(rootNode, nullptr);
    EXPECT_EQ(TForm_Main::PhoneNodePath(rootNode), "/");
    int count = 0;
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* n) {
        ++count;
        for (int i = 0; i < n->childCount(); ++i)
            walk(n->child(i));
    };
    walk(rootNode);
    EXPECT_EQ(count, 32);
    QTreeWidgetItem* sounds = rootNode->child(0)->child(0);
    EXPECT_EQ(TForm_Main::PhoneNodePath(sounds), "/user/sounds");
    QTreeWidgetItem* mms = rootNode->child(5);
    ASSERT_EQ(mms->text(0).toStdString(), "mms");
    QTreeWidgetItem* camera = mms->child(9);
    ASSERT_EQ(camera->text(0).toStdString(), "camera");
    QTreeWidgetItem* thumb = camera->child(3)->child(1);
    EXPECT_EQ(TForm_Main::PhoneNodePath(thumb), "/mms/camera/myalbum2/thumb");
    EXPECT_EQ(TForm_Main::PhoneNodePath(rootNode->child(6)), "/java");
}

TEST_F(MainWindowTest, PhoneSelectionRulesAndLabel)
{
    WriteFile(phone / "empty.txt", "");
    WriteFile(phone / "a.txt", "aaaa");
    WriteFile(phone / "b.txt", "bb");
    StartOnline();
    // The handset lists in its own order; find the items by name.
    Focus(win->ListView_PNFiles);
    SelectPhone({"empty.txt"});
    EXPECT_FALSE(win->Action_Download->isEnabled());
    EXPECT_FALSE(win->Action_Delete->isEnabled());
    SelectPhone({"a.txt"});
    EXPECT_TRUE(win->Action_Download->isEnabled());
    EXPECT_TRUE(win->Action_Delete->isEnabled());
    EXPECT_EQ(win->PN_FullFileName->text().toStdString(), "//a.txt");
    SelectPhone({"a.txt", "b.txt", "empty.txt"});
    EXPECT_EQ(win->PN_FullFileName->text().toStdString(), "3 files selected.");
    // The first selected item in list order decides.
    const bool firstIsEmpty = win->ListView_PNFiles->indexOfTopLevelItem(PhoneItem("empty.txt")) == 0;
    EXPECT_EQ(win->Action_Download->isEnabled(), !firstIsEmpty);
    win->ListView_PNFiles->clearSelection();
    EXPECT_EQ(win->PN_FullFileName->text().toStdString(), "No file(s) selected.");
}

TEST_F(MainWindowTest, PCSelectionRules)
{
    for (const char* name : {"song.mmf", "song.MEL", "song.mid", "b.wav", "suite.jad", "suite.JAD", "two.mmf"})
        WriteFile(pc / name, "data");
    StartOnline();
    ASSERT_EQ(PCCaptions().size(), 7u);
    // As with the synthesizer library present (a hidden action is never enabled).
    win->Action_PlayMMF->setVisible(true);
    win->Action_StopMMF->setVisible(true);
    Focus(win->ListView_PCFiles);
    struct Row {
        std::vector<std::string> selected;
        bool play, melody, midlet;
    } rows[] = {
        {{"song.mmf"}, true, true, false},
        {{"song.MEL"}, true, false, false},
        {{"song.mid"}, false, false, false},
        {{"song.mmf", "two.mmf"}, false, true, false},
        {{"song.mmf", "b.wav"}, false, false, false},
        {{"suite.jad"}, false, false, true},
        {{"suite.JAD"}, false, false, true},
        {{"suite.jad", "suite.JAD"}, false, false, false},
    };
    for (const Row& r : rows) {
        SelectPC(r.selected);
        EXPECT_EQ(win->Action_PlayMMF->isEnabled(), r.play) << r.selected[0];
        EXPECT_EQ(win->Action_UplodAsMelody->isEnabled(), r.melody) << r.selected[0];
        EXPECT_EQ(win->Action_CopyAsMIDlet->isEnabled(), r.midlet) << r.selected[0];
        EXPECT_TRUE(win->Action_Upload->isEnabled());
    }
    // Copy As MIDlet does not depend on the link; the upload actions do.
    win->Link->Close();
    SelectPC({"suite.jad"});
    EXPECT_TRUE(win->Action_CopyAsMIDlet->isEnabled());
    EXPECT_FALSE(win->Action_Upload->isEnabled());
    SelectPC({"song.mmf"});
    EXPECT_FALSE(win->Action_UplodAsMelody->isEnabled());
}

TEST_F(MainWindowTest, FocusMovingBetweenPanes)
{
    WriteFile(phone / "a.txt", "aaaa");
    WriteFile(pc / "x.jad", "j");
    StartOnline();
    SelectPhone({"a.txt"});
    SelectPC({"x.jad"});
    Focus(win->ListView_PCFiles);
    EXPECT_TRUE(win->Action_Upload->isEnabled());
    EXPECT_TRUE(win->Action_CopyAsMIDlet->isEnabled());
    EXPECT_FALSE(win->Action_Download->isEnabled());
    EXPECT_FALSE(win->Action_Delete->isEnabled());
    Focus(win->TreeView_PNDir);
    EXPECT_FALSE(win->Action_Upload->isEnabled());
    EXPECT_FALSE(win->Action_UplodAsMelody->isEnabled());
    EXPECT_FALSE(win->Action_CopyAsMIDlet->isEnabled());
    EXPECT_TRUE(win->Action_Download->isEnabled());
    EXPECT_TRUE(win->Action_Delete->isEnabled());
    Focus(win->ListView_PCFiles);
    EXPECT_FALSE(win->Action_Download->isEnabled());
    EXPECT_TRUE(win->Action_Upload->isEnabled());
}

TEST_F(MainWindowTest, SelectAllActsOnTheFocusedList)
{
    for (const char* name : {"a", "b", "c"}) {
        WriteFile(phone / name, "1");
        WriteFile(pc / name, "1");
    }
    StartOnline();
    Focus(win->TreeView_PNDir);
    win->EditSelectAll1->trigger();
    EXPECT_TRUE(win->ListView_PNFiles->selectedItems().isEmpty());
    Focus(win->ListView_PNFiles);
    win->EditSelectAll1->trigger();
    EXPECT_EQ(win->ListView_PNFiles->selectedItems().size(), 3);
    EXPECT_EQ(win->PN_FullFileName->text().toStdString(), "3 files selected.");
    Focus(win->ListView_PCFiles);
    win->EditSelectAll1->trigger();
    EXPECT_EQ(win->ListView_PCFiles->selectedItems().size(), 3);
}

// The PC list shows every file (a name that is not UTF-8 too, sizes past 4 GiB whole), the upload
// actions follow the list shown, and Reload keeps the folder selected, expanded to and in view.
TEST_F(MainWindowTest, PCListShowsEveryFileAndReloadKeepsItsFolderInView)
{
    namespace fs = std::filesystem;
    WriteFile(pc / "b.bin", std::string(2048, 'x'));
    WriteFile(pc / "a.bin", "1");
    WriteFile(pc / "ring\xE9.mmf", "latin-1 name");
    std::ofstream(pc / "huge.bin").close();
    fs::resize_file(pc / "huge.bin", 5368709121ull);   // sparse
    fs::create_directories(pc / "sub" / "inner");
    for (int i = 0; i < 40; ++i)   // folders before pc in the tree, so that pc starts out of view
        fs::create_directories(root / ("a" + std::to_string(100 + i)));
    StartOnline();
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"a.bin", "b.bin", "huge.bin", "ring\uFFFD.mmf"}));
    EXPECT_EQ(PCItem("b.bin")->text(1).toStdString(), "2,048");
    EXPECT_EQ(PCItem("huge.bin")->text(1).toStdString(), "5,368,709,121");
    EXPECT_EQ(PCItemName(PCItem("ring\uFFFD.mmf")), "ring\xE9.mmf");
    EXPECT_EQ(win->PCDir, pc.string());
    EXPECT_EQ(fs::current_path(), pc);

    SelectPC({"ring\uFFFD.mmf"});
    ASSERT_TRUE(win->Action_UplodAsMelody->isEnabled());
    win->Action_UplodAsMelodyExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(ReadFile(phone / "ring\xC3\xA9.mel").substr(32), "latin-1 name");   // the handset's name in UTF-8

    // A folder holding only folders: an empty list, and nothing to upload.
    SelectPC({"a.bin"});
    ASSERT_TRUE(win->Action_Upload->isEnabled());
    ASSERT_TRUE(win->SetShellPath((pc / "sub").string()));
    EXPECT_TRUE(PCCaptions().empty());
    EXPECT_FALSE(win->Action_Upload->isEnabled());
    EXPECT_FALSE(win->Action_UplodAsMelody->isEnabled());

    ASSERT_TRUE(win->SetShellPath((pc / "sub" / "inner").string()));
    const auto shownAndInView = [this] {
        const QModelIndex index = win->ShellTreeView1->currentIndex();
        return win->ShellModel->filePath(index).toStdString() == (pc / "sub" / "inner").string()
               && win->ShellTreeView1->isExpanded(index.parent())
               && win->ShellTreeView1->viewport()->rect().contains(win->ShellTreeView1->visualRect(index));
    };
    ASSERT_TRUE(WaitUntil(shownAndInView));
    // Reload reads the tree anew; the folders above the current one fill in as they are read.
    win->Action_ReloadExecute();
    std::set<std::string> loaded;
    QObject::connect(win->ShellModel, &QFileSystemModel::directoryLoaded, win,
                     [&loaded](const QString& dir) { loaded.insert(dir.toStdString()); });
    ASSERT_TRUE(WaitUntil([&] {
        for (fs::path p = pc / "sub"; p != p.parent_path(); p = p.parent_path())
            if (!loaded.count(p.string()))
                return false;
        return loaded.count("/") != 0;
    }));
    QCoreApplication::processEvents();   // the model sorts what it has read
    EXPECT_TRUE(shownAndInView());
}

// A click on a column header sorts a file list by it (sizes, types and dates by value; a
// second click the other way round); a new listing keeps the order chosen, and a download goes
// in the order the list shows.
TEST_F(MainWindowTest, FileListsSortByAClickOnAHeaderAndDownloadsKeepTheListOrder)
{
    WriteFile(phone / "a.bin", std::string(10, 'a'));
    WriteFile(phone / "b.bin", std::string(9, 'b'));
    WriteFile(phone / "c.bin", std::string(100, 'c'));
    WriteFile(pc / "ten.txt", std::string(10, 't'));
    WriteFile(pc / "nine.txt", std::string(9, 'n'));
    StartOnline();
    const auto clickHeader = [](QTreeWidget* list, int column) {
        QHeaderView* header = list->header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, header->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(header->viewport(), &event);
        }
    };
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));   // as the handset lists them

    clickHeader(win->ListView_PNFiles, 2);
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"b.bin", "a.bin", "c.bin"}));
    clickHeader(win->ListView_PCFiles, 1);
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"nine.txt", "ten.txt"}));
    clickHeader(win->ListView_PCFiles, 1);
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"ten.txt", "nine.txt"}));

    win->ShowPhoneDir("/");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"b.bin", "a.bin", "c.bin"}));
    handset->ClearLog();
    SelectPhone({"a.bin", "b.bin", "c.bin"});
    win->Action_DownloadExecute();
    ASSERT_TRUE(WaitIdle());
    const auto reads = handset->Commands();
    EXPECT_EQ(reads, (std::vector<std::string>{"AT+FSFR= -1,\"b.bin\"\r\n", "AT+FSFR= -1,\"a.bin\"\r\n",
                                               "AT+FSFR= -1,\"c.bin\"\r\n"}));
}

TEST_F(MainWindowTest, ModelReplyWithoutAModel)
{
    options.Model = "";
    StartOnline();
    EXPECT_EQ(win->PanelText(0).toStdString(), "Extract Err");
}

TEST_F(MainWindowTest, ReconnectEmptiesThePhonePane)
{
    WriteFile(phone / "user/sounds/a.mmf", "1234");
    StartOnline();
    QTreeWidgetItem* sounds = win->PhoneRootNode()->child(0)->child(0);
    win->TreeView_PNDir->setCurrentItem(sounds);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(PhoneCaptions(), std::vector<std::string>{"a.mmf"});
    EXPECT_EQ(win->PN_FullDirName->text().toStdString(), "/user/sounds");
    win->Action_ReconnectExecute();
    EXPECT_FALSE(win->PhoneRootNode()->isExpanded());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(win->PN_FullDirName->text().toStdString(), "/");
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(MainWindowTest, ChoosingAFolderWhileOfflineIsIgnored)
{
    CreateWindow(false);
    win->TreeView_PNDir->setCurrentItem(win->PhoneRootNode()->child(6));
    EXPECT_TRUE(win->PN_FullDirName->text().isEmpty());
    EXPECT_TRUE(win->Link->Channel().Idle());
}


// Show phone in file manager: the window's own link serves the phone as a folder under the
// runtime folder, which the desktop is asked to open; unchecked, the folder is unmounted.
TEST_F(MainWindowTest, ShowPhoneInFileManagerMountsThroughTheWindowsLink)
{
    if (!std::filesystem::exists("/dev/fuse")) {
        if (std::getenv("TARVEL_REQUIRE_FUSE"))
            FAIL() << "FUSE is required here (TARVEL_REQUIRE_FUSE) but /dev/fuse is missing";
        GTEST_SKIP() << "no /dev/fuse: the phone folder cannot be mounted here";
    }
    const std::filesystem::path runtime = root / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    WriteFile(phone / "user/sounds/tune.mmf", "tune");
    StartOnline();

    win->Action_ShowPhoneFolder->trigger();
    const std::filesystem::path folder = runtime / "tarvel/phone";
    EXPECT_EQ(catcher.Urls, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(folder.string()))});
    QProcess cat;
    cat.start(QStringLiteral("cat"), {QString::fromStdString((folder / "user/sounds/tune.mmf").string())});
    ASSERT_TRUE(WaitUntil([&cat] { return cat.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(cat.readAllStandardOutput().toStdString(), "tune");
    EXPECT_EQ(cat.exitCode(), 0);

    win->Action_ShowPhoneFolder->trigger();
    EXPECT_FALSE(win->Action_ShowPhoneFolder->isChecked());
    EXPECT_EQ(ReadFile("/proc/self/mountinfo").find(" " + folder.string() + " "), std::string::npos);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

} // namespace

#include "WindowTest.moc"
