// Creation, first show and destruction of the main window; Reconnect, and the window's side of
// the link's signals.
#include <iostream>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLocale>
#include <QProgressBar>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>

#include "protocol/Text.h"
#include "serial/CPDrv.h"
#include "smaf/MA3_Drv.h"
#include "phone/PhoneLink.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

void TForm_Main::FormCreate()
{
    // The window is the drop target for file lists from other programs.
    setAcceptDrops(true);
    DropTargetRegistered = true;
    SynthInitialize();
    miLog->setVisible(ShowLogMenuEntry);
    LoadSettings();
    if (!HomeDir.empty() && !SetShellPath(HomeDir))
        HomeDir.clear();
    // Without a home folder of its own the PC pane starts in the user's home folder.
    if (HomeDir.empty() && !SetShellPath(QDir::homePath().toStdString()))
        SetShellPath(std::string());
    Action_PlayMMF->setVisible(SynthAvailable);
    Action_StopMMF->setVisible(SynthAvailable);
}

void TForm_Main::FormShow() { Action_ReconnectExecute(); }

void TForm_Main::FormDestroy()
{
    StopPreview();
    SynthShutdown();
    try {
        SaveSettings();
    } catch (...) {
        setAcceptDrops(false);
        DropTargetRegistered = false;
        throw;
    }
    setAcceptDrops(false);
    DropTargetRegistered = false;
}

void TForm_Main::showEvent(QShowEvent* event)
{
    // Runs before the window is first mapped: the user sees it after the reset and model
    // exchanges (message boxes meanwhile show without it).
    if (!FirstShowDone && !event->spontaneous()) {
        FirstShowDone = true;
        FormShow();
        // The PC tree can only scroll its folder into view once it is laid out.
        QTimer::singleShot(0, this, [this] { ScrollShellToCurrent(); });
    }
    QMainWindow::showEvent(event);
}

void TForm_Main::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (FormDestroyed)
        return;
    FormDestroyed = true;
    // The phone folder goes first (files changed in it and not yet sent are kept as unsent);
    // then any wait under way ends, and nothing more goes out on the line.
    StopPhoneFolder();
    Link->Close();
    if (Form_Progress)
        Form_Progress->hide();
    if (Form_Log)
        Form_Log->hide();
    // The settings are saved while the program still runs: once it has been told to quit, a
    // message box would close as soon as it opened, and a failed save would go unseen.
    try {
        FormDestroy();
    } catch (const std::exception& e) {
        Dialogs::ErrorBox(e.what());
    }
    QCoreApplication::quit();
}

void TForm_Main::Action_ReconnectExecute()
{
    // The start-up runs on by itself; the window follows it through the link's signals.
    Link->Connect(ComPort, static_cast<std::uint32_t>(ComBaudRate), ComCheckLineStatus,
                  static_cast<THwFlowControl>(ComHwFlow))
        .Then({});
}

void TForm_Main::ShowReconnecting(const std::string& port)
{
    for (QAction* a : {Action_Delete, Action_Download, Action_Upload, Action_UplodAsMelody, Action_CopyAsMIDlet,
                       Action_BackupPhone})
        a->setEnabled(false);
    TreeView_PNDir->setEnabled(false);
    PN_FullFileName->clear();
    PN_FullDirName->clear();
    ListView_PNFiles->clear();
    TreeView_PNDir->collapseAll();
    TreeView_PNDir->setCurrentItem(nullptr);
    TreeView_PNDir->clearSelection();
    ListView_PNFiles->setEnabled(false);
    SetPanelText(1, QString::fromStdString(port));
}

// ---- the window's side of the link ---------------------------------------------------------

void TForm_Main::ConnectLink()
{
    TPhoneLink* link = Link;
    // What the link reports is shown in a box, in the order it happens; its questions are asked
    // with boxes too.
    connect(link, &TPhoneLink::Reported, this, [](const LinkResult& result, const std::string& details) {
        Dialogs::Show(ResultIsInformation(result) ? Dialogs::Kind::Information : Dialogs::Kind::Error, ResultText(result), details);
    });
    link->SetAsker([](Dialogs::Kind kind, const std::string& text, const TPhoneLink::Answer& answer) {
        answer(Dialogs::Show(kind, text));
    });
    connect(link, &TPhoneLink::ListingEntry, this, &TForm_Main::AddPhoneFileItem);
    connect(link, &TPhoneLink::ListingEnded, this, &TForm_Main::EndListing);
    connect(link, &TPhoneLink::ListingCleared, this, [this] { ListView_PNFiles->clear(); });
    connect(link, &TPhoneLink::RecordDone, this, [this](std::size_t index) {
        for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i)
            if (PhoneItemIndex(ListView_PNFiles->topLevelItem(i)) == index)
                ListView_PNFiles->topLevelItem(i)->setSelected(false);
    });
    connect(link, &TPhoneLink::TransferShown, this, &TForm_Main::ShowTransfer);
    connect(link, &TPhoneLink::Progress, this, &TForm_Main::ShowProgress);
    connect(link, &TPhoneLink::ProgressClosed, this, [] { CloseProgressIfShowing(); });
    connect(link, &TPhoneLink::QueueStarted, this, &TForm_Main::ShowQueueStart);
    connect(link, &TPhoneLink::QueueProgress, this, &TForm_Main::ShowQueueProgress);
    connect(link, &TPhoneLink::QueueEnded, this, &TForm_Main::ShowQueueEnd);
    connect(link, &TPhoneLink::WaitEnded, this, [] { WaitCursor::Arrow(); });
    connect(link, &TPhoneLink::LogRaw, this, [this](const std::string& text) { AppendLog(true, text); });
    connect(link, &TPhoneLink::LogLine, this, [this](const std::string& text) { AppendLog(false, text); });
    connect(link, &TPhoneLink::WentOnline, this, [this] {
        // Deselected now, so that selecting the root once the file system is ready is always a
        // change (which lists it).
        TreeView_PNDir->setCurrentItem(nullptr);
        TreeView_PNDir->clearSelection();
        TreeView_PNDir->setEnabled(true);
        ListView_PNFiles->setEnabled(true);
        SetPanelText(2, QStringLiteral("Online"));
        UpdateBackupAction();
    });
    connect(link, &TPhoneLink::ModelKnown, this,
            [this](const std::string& model) { SetPanelText(0, QString::fromStdString(model)); });
    connect(link, &TPhoneLink::FileSystemReady, this, [this] { TreeView_PNDir->setCurrentItem(PhoneRootNode()); });
    connect(link, &TPhoneLink::Reconnecting, this, &TForm_Main::ShowReconnecting);
    connect(link, &TPhoneLink::LineStatusKnown, this, [this](bool cts, bool dsr) {
        SetPanelText(3, QString::fromLatin1(cts ? "CTS: On" : "CTS: Off") + QString::fromLatin1(dsr ? ", DSR: On" : ", DSR: Off"));
    });
    connect(link, &TPhoneLink::WentOffline, this, [this] {
        SetPanelText(2, QStringLiteral("Offline"));
        Action_BackupPhone->setEnabled(false);
    });
    connect(link, &TPhoneLink::BusyChanged, this, [this](bool busy) {
        Panel_PC->setEnabled(!busy);
        Panel_Phone->setEnabled(!busy);
        UpdateBackupAction();
    });
}

void TForm_Main::ShowTransfer(TPhoneCommand kind, const std::string& name, std::int32_t size)
{
    // The window is painted once this reply has been handled; the handling itself runs no
    // event loop, so nothing can send or time out in the middle of it.
    if (!Form_Progress)
        return;
    if (kind == pcFSFR) {
        Form_Progress->StaticText_Size->setText(
            QStringLiteral("Size - ") + QLocale().toString(static_cast<qlonglong>(size)) + QStringLiteral(" byte(s)"));
        Form_Progress->StaticText_FileName->setText(QString::fromStdString(ShowableName(name)));
    } else if (kind == pcFSFE) {
        Form_Progress->StaticText_Size->setText(QStringLiteral("Deleting"));
        Form_Progress->StaticText_FileName->setText(QString::fromStdString(ShowableName(name)));
    } else {
        Form_Progress->StaticText_Size->setText(QStringLiteral("Size - %1 byte(s)").arg(size));
        Form_Progress->StaticText_FileName->setText(QString::fromStdString(name));
    }
    Form_Progress->StartFile(size, kind != pcFSFE);
    Form_Progress->ShowCentred();
}

void TForm_Main::ShowProgress(std::int64_t done, std::int64_t size)
{
    if (Form_Progress)
        Form_Progress->FileProgress(done, size);
}

void TForm_Main::ShowQueueStart(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes)
{
    QueueClock.start();
    if (!Form_Progress)
        return;
    // The progress window is made after the main window: its Cancel is wired on first use.
    connect(Form_Progress, &TForm_Progress::CancelClicked, Link, &TPhoneLink::Cancel, Qt::UniqueConnection);
    Form_Progress->StartQueue(files, totalBytes, kind != pcFSFE);
}

void TForm_Main::ShowQueueProgress(std::size_t file, std::size_t files, std::int64_t doneBytes, std::int64_t totalBytes)
{
    if (!Form_Progress)
        return;
    Form_Progress->QueueProgress(file, files, doneBytes, totalBytes);
    // Only the queues the user started from the window stop on request (a MIDlet installation
    // stopped halfway would leave the application store half written).
    Form_Progress->OfferCancel(QueueCancellable && file < files && !Link->CancelRequested());
}

void TForm_Main::ShowQueueEnd()
{
    // Nothing shows once the queue has ended (an erase that never went out has no end to close it).
    if (Form_Progress)
        Form_Progress->EndQueue();
    CloseProgressIfShowing();
    // A long transfer that ends while the user is elsewhere asks for attention.
    if (QueueClock.isValid() && QueueClock.elapsed() >= kAttentionAfterMs && !isActiveWindow())
        QApplication::alert(this);
    QueueClock.invalidate();
    UpdateBackupAction();
}

void TForm_Main::AppendLog(bool raw, const std::string& text)
{
    if (!Form_Log || !Form_Log->Showing())
        return;
    try {
        if (raw)
            Form_Log->AppendRaw(text);
        else
            Form_Log->AppendLine(text);
    } catch (const std::exception& e) {
        Dialogs::ErrorBox(e.what());   // a full log never stops the link
    }
}
