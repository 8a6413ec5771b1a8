// Files dropped onto the main window: uploaded in the order of the dropped list, asking like
// Upload, wherever on the window they land and whatever state the link is in.
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "serial/CPDrv.h"
#include "TransfersFixture.h"

using namespace transfers;

namespace {

class DropTest : public TransfersTest {
protected:
    std::unique_ptr<QMimeData> FileList(const std::vector<std::filesystem::path>& paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const auto& p : paths)
            urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p.string())));
        data->setUrls(urls);
        return data;
    }

    // A drop as the window system delivers it: the drag enters and moves over `target`, and the
    // drop goes to whichever widget took the drag.
    bool SendDrop(QWidget* target, const QMimeData* data)
    {
        if (!SendDragMove(target, data))
            return false;
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
    }

    // A drag passing over `target` at its centre; true when it may be dropped there.
    bool SendDragMove(QWidget* target, const QMimeData* data)
    {
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted() || enter.dropAction() != Qt::CopyAction)
            return false;
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        return move.isAccepted() && move.dropAction() == Qt::CopyAction;
    }
};

TEST_F(DropTest, DroppedFilesAreUploadedInTheOrderOfTheList)
{
    Online();
    const std::filesystem::path elsewhere = root / "desktop";
    WriteFile(elsewhere / "zeta.txt", "z");
    WriteFile(elsewhere / "alpha.mmf", "a");   // never as melody
    const auto data = FileList({elsewhere / "zeta.txt", elsewhere / "alpha.mmf"});

    EXPECT_TRUE(SendDrop(win, data.get()));
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(Commands(),
              (std::vector<std::string>{WriteCmd("zeta.txt", 0, "z"), WriteCmd("alpha.mmf", 302, "a"), ListCmd("/")}));
    EXPECT_EQ(ReadFile(phone / "zeta.txt"), "z");
    EXPECT_EQ(ReadFile(phone / "alpha.mmf"), "a");
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"alpha.mmf", "zeta.txt"}));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(DropTest, DropAsksLikeUploadAndYesToAllCoversTheRest)
{
    WriteFile(phone / "a.txt", "phone a");
    WriteFile(phone / "b.txt", "phone b");
    Online();
    WriteFile(pc / "a.txt", "pc a");
    WriteFile(pc / "b.txt", "pc b");
    dialogs->Script({Answer::YesToAll});

    SendDrop(win, FileList({pc / "a.txt", pc / "b.txt"}).get());
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite("a.txt")});
    EXPECT_EQ(Commands(), (std::vector<std::string>{EraseCmd("a.txt"), WriteCmd("a.txt", 0, "pc a"), EraseCmd("b.txt"),
                                                    WriteCmd("b.txt", 0, "pc b"), ListCmd("/")}));
}

TEST_F(DropTest, EveryPartOfTheWindowTakesTheDropAndHandsItToTheWindow)
{
    Online();
    WriteFile(pc / "p.txt", "p");
    const auto data = FileList({pc / "p.txt"});
    // No control inside takes drops of its own: whatever the drag passes over, the window
    // answers, with the copy effect.
    for (QWidget* w : win->findChildren<QWidget*>())
        EXPECT_FALSE(w->acceptDrops()) << w->objectName().toStdString();
    struct Place {
        const char* what;
        QWidget* widget;
        bool hint;   // over the phone list and online
    } places[] = {
        {"phone list", win->ListView_PNFiles->viewport(), true},
        {"PC list", win->ListView_PCFiles->viewport(), false},
        {"PC tree", win->ShellTreeView1->viewport(), false},
        {"phone tree", win->TreeView_PNDir->viewport(), false},
        {"status bar", win->StatusPanels[0], false},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.what);
        win->DragOverResult = !p.hint;
        EXPECT_TRUE(SendDragMove(p.widget, data.get()));
        EXPECT_EQ(win->DragOverResult, p.hint);
    }
    // A drop onto the PC list reaches the window, which took the drag, and uploads.
    EXPECT_TRUE(SendDrop(win->ListView_PCFiles->viewport(), data.get()));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd("p.txt", 0, "p"), ListCmd("/")}));
    EXPECT_EQ(ReadFile(phone / "p.txt"), "p");

    // Offline, the phone list gives no hint either, and the drag is still taken.
    win->Link->Close();
    EXPECT_TRUE(SendDragMove(win->ListView_PNFiles->viewport(), data.get()));
    EXPECT_FALSE(win->DragOverResult);
}

// While the phone is offline (the watchdog has closed the port), a drop, Upload and Copy As
// MIDlet each say so and how to reconnect, send nothing and change nothing on the PC.
TEST_F(DropTest, WhileOfflineDropsUploadsAndMidletsSaySoAndChangeNothing)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    Online();
    handset->Update([](HandsetOptions& o) { o.SilentOn = "AT+FSDL"; });
    win->ShowPhoneDir("/images");
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty(); }));
    ASSERT_FALSE(win->Link->Channel().Driver().Connected());
    handset->ClearLog();
    dialogs->Clear();
    WriteFile(pc / "one.txt", "1");
    WriteFile(pc / "game.jad", "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: 1\r\n");
    WriteFile(pc / "game.jar", "j");
    RefreshPC();

    SendDrop(win, FileList({pc / "one.txt"}).get());
    SelectPC({"one.txt"});
    win->Action_UploadExecute();
    SelectPC({"game.jad"});
    win->Action_CopyAsMIDletExecute();

    const std::string offline = "The phone is offline.\r\nConnect it, then choose Action > Reconnect.";
    EXPECT_EQ(Texts(), (std::vector<std::string>{offline, offline, offline}));
    EXPECT_TRUE(PanesEnabled());
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"game.jad", "game.jar", "one.txt"}));
    RefreshPC();
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"game.jad", "game.jar", "one.txt"}));
}

// Between the panes: phone files dragged onto the PC list are downloaded into the PC folder
// (asking before a PC file is replaced), PC files dragged onto the phone list are uploaded. A
// drag let go over the list it came from does nothing.
TEST_F(DropTest, DragsBetweenThePanesDownloadAndUpload)
{
    WriteFile(phone / "tune.mmf", "phone tune");
    WriteFile(phone / "pic.png", "phone pic");
    WriteFile(pc / "pic.png", "old pic");
    Online();
    RefreshPC();
    dialogs->Script({Answer::Yes});

    SelectPhone({"pic.png", "tune.mmf"});
    const std::unique_ptr<QMimeData> fromPhone(win->PhoneDragData());
    ASSERT_NE(fromPhone, nullptr);
    EXPECT_FALSE(SendDragMove(win->ListView_PNFiles->viewport(), fromPhone.get()));
    EXPECT_TRUE(SendDrop(win->ListView_PCFiles->viewport(), fromPhone.get()));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite("pic.png")});
    EXPECT_EQ(Commands(), (std::vector<std::string>{ReadCmd("pic.png"), ReadCmd("tune.mmf")}));
    EXPECT_EQ(ReadFile(pc / "pic.png"), "phone pic");
    EXPECT_EQ(PCCaptions(), (std::vector<std::string>{"pic.png", "tune.mmf"}));

    handset->ClearLog();
    dialogs->Clear();
    WriteFile(pc / "new.txt", "new");
    RefreshPC();
    SelectPC({"new.txt"});
    const std::unique_ptr<QMimeData> fromPC(win->PCDragData());
    ASSERT_NE(fromPC, nullptr);
    EXPECT_TRUE(SendDrop(win->ListView_PNFiles->viewport(), fromPC.get()));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Commands(), (std::vector<std::string>{WriteCmd("new.txt", 0, "new"), ListCmd("/")}));
    EXPECT_EQ(ReadFile(phone / "new.txt"), "new");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(DropTest, DataWithoutAFileListAndNoDataAtAll)
{
    Online();
    QMimeData text;
    text.setText("/etc/hostname");
    SendDrop(win, &text);
    win->DropDataObject(nullptr);
    ASSERT_TRUE(WaitIdle());

    ASSERT_EQ(dialogs->Shown().size(), 1u);
    EXPECT_EQ(dialogs->Shown()[0].kind, Dialogs::Kind::Plain);
    EXPECT_EQ(dialogs->Shown()[0].text, "dataObj = nil");
    EXPECT_TRUE(Commands().empty());
}

TEST_F(DropTest, RawUriListAndUrlListGiveTheSamePaths)
{
    Online();
    // "песня 1.amr": Cyrillic in UTF-8 and a blank, percent-encoded in the raw list, which also
    // holds a comment line and a remote address (neither names a PC file; the files after them
    // still come).
    const std::string name = "\xD0\xBF\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F 1.amr";
    WriteFile(pc / name, "song");
    WriteFile(pc / "x.txt", "x");
    const std::string dir = QUrl::fromLocalFile(QString::fromStdString(pc.string())).toEncoded().toStdString();
    QMimeData raw;
    raw.setData("text/uri-list", QByteArray::fromStdString("# dragged from a file browser\r\n" + dir
                                                           + "/%D0%BF%D0%B5%D1%81%D0%BD%D1%8F%201.amr\r\n"
                                                           + "https://example.org/remote.txt\r\n" + dir
                                                           + "/x.txt\r\n"));
    const auto urls = FileList({pc / name, pc / "x.txt"});

    SendDrop(win, &raw);
    ASSERT_TRUE(WaitIdle());
    const std::vector<std::string> fromRaw = CommandsOf("AT+FSFW");
    handset->ClearLog();
    dialogs->Script({Answer::YesToAll});
    SendDrop(win, urls.get());
    ASSERT_TRUE(WaitIdle());
    const std::vector<std::string> fromUrls = CommandsOf("AT+FSFW");

    EXPECT_EQ(fromRaw, (std::vector<std::string>{WriteCmd(name, 200, "song"), WriteCmd("x.txt", 0, "x")}));
    EXPECT_EQ(fromUrls, fromRaw);
    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite(name)});
    EXPECT_EQ(ReadFile(phone / name), "song");
}

TEST_F(DropTest, DroppedFileThatCannotBeOpenedStaysInsideTheDrop)
{
    Online();
    WriteFile(pc / "first.txt", "1");
    WriteFile(pc / "last.txt", "3");

    EXPECT_TRUE(SendDrop(win, FileList({pc / "first.txt", pc / "missing.txt", pc / "last.txt"}).get()));
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(Texts(), std::vector<std::string>{"PC files list creating error."});
    EXPECT_EQ(Commands(), std::vector<std::string>{WriteCmd("first.txt", 0, "1")});
    EXPECT_TRUE(PanesEnabled());
}

TEST_F(DropTest, DropDuringATransferIsRefusedAndTheTransferKeepsItsFile)
{
    options.ReadBlockSize = 256;
    const std::string big = PatternBytes(8000, 11);
    WriteFile(phone / "big.bin", big);
    const std::filesystem::path desktop = root / "desktop";
    WriteFile(desktop / "dropped.txt", "dropped");
    Online();
    const auto data = FileList({desktop / "dropped.txt"});
    // The drag comes while a block of the read is on its way.
    int taken = -1;
    auto connection = QObject::connect(Form_Progress->ProgressBar_File, &QProgressBar::valueChanged, win, [&](int) {
        if (taken < 0) {
            taken = 0;
            QTimer::singleShot(0, win, [&] { taken = SendDrop(win->ListView_PNFiles->viewport(), data.get()) ? 1 : 0; });
        }
    });
    Download({"big.bin"});
    QObject::disconnect(connection);

    EXPECT_EQ(taken, 0);
    EXPECT_TRUE(SameBytes(ReadFile(pc / "big.bin"), big));
    EXPECT_EQ(Commands(), std::vector<std::string>{ReadCmd("big.bin")});
    EXPECT_TRUE(Texts().empty());
    // Once the transfer has ended the window takes drops again.
    EXPECT_TRUE(SendDrop(win->ListView_PNFiles->viewport(), data.get()));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(ReadFile(phone / "dropped.txt"), "dropped");
}

TEST_F(DropTest, DropDuringAListingChecksTheWholeList)
{
    // The drop comes while the phone folder is being listed; the file it names is listed last.
    options.EntriesPerBlock = 2;
    for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "zz.txt"})
        WriteFile(phone / n, "phone");
    Online();
    WriteFile(pc / "zz.txt", "pc");
    dialogs->Script({Answer::Yes});

    win->ShowPhoneDir("/");
    ASSERT_FALSE(win->Link->Channel().Idle());
    EXPECT_TRUE(SendDrop(win, FileList({pc / "zz.txt"}).get()));
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(Texts(), std::vector<std::string>{Overwrite("zz.txt")});
    EXPECT_EQ(Commands(), (std::vector<std::string>{ListCmd("/"), EraseCmd("zz.txt"), WriteCmd("zz.txt", 0, "pc"),
                                                    ListCmd("/")}));
    EXPECT_EQ(ReadFile(phone / "zz.txt"), "pc");
}

} // namespace
