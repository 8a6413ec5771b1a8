// Creation, first show and destruction of the main window; Reconnect and the start-up replies.
#include <chrono>
#include <iostream>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>

#include "protocol/Text.h"
#include "serial/CPDrv.h"
#include "serial/PortAdvice.h"
#include "smaf/MA3_Drv.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_Init.h"
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
    // Any wait under way ends, and nothing more goes out on the line.
    Closing = true;
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
    CommPortDriver1->Disconnect();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    for (QAction* a : {Action_Delete, Action_Download, Action_Upload, Action_UplodAsMelody, Action_CopyAsMIDlet})
        a->setEnabled(false);
    TreeView_PNDir->setEnabled(false);
    PN_FullFileName->clear();
    PN_FullDirName->clear();
    ListView_PNFiles->clear();
    TreeView_PNDir->collapseAll();
    TreeView_PNDir->setCurrentItem(nullptr);
    TreeView_PNDir->clearSelection();
    ListView_PNFiles->setEnabled(false);
    SetPanelText(1, QString::fromStdString(ComPort));

    CommPortDriver1->SetPortName("\\\\.\\" + ComPort);
    CommPortDriver1->SetBaudRateValue(static_cast<std::uint32_t>(ComBaudRate));
    CommPortDriver1->SetCheckLineStatus(ComCheckLineStatus);
    CommPortDriver1->SetHwFlow(static_cast<THwFlowControl>(ComHwFlow));
    if (!CommPortDriver1->Connect()) {
        // The box keeps its fixed text; the reason and what to do go to standard error and into
        // the box's details.
        Dialogs::ErrorBox("Error open port.", ReportPortOpenFailure(std::cerr, CommPortDriver1->PortName()));
    }

    const TLineStatusSet lines = CommPortDriver1->LineStatus();
    SetPanelText(3, QString::fromLatin1(lines.Has(lsCTS) ? "CTS: On" : "CTS: Off")
                        + QString::fromLatin1(lines.Has(lsDSR) ? ", DSR: On" : ", DSR: Off"));
    SetPanelText(2, QStringLiteral("Offline"));
    PhoneOnline = false;

    SendATZ();
    SendCGMM();
    SendFSIF();
}

void TForm_Main::StartupReply(TPhoneCommand kind, const std::uint8_t* reply, std::int32_t count)
{
    switch (kind) {
    case pcATZ:
        // Deselected now, so that selecting the root after AT+FSIF is always a change.
        TreeView_PNDir->setCurrentItem(nullptr);
        TreeView_PNDir->clearSelection();
        TreeView_PNDir->setEnabled(true);
        ListView_PNFiles->setEnabled(true);
        SetPanelText(2, QStringLiteral("Online"));
        PhoneOnline = true;
        break;
    case pcCGMM:
        SetPanelText(0, QString::fromStdString(ExtractModel(
                            std::string_view(reinterpret_cast<const char*>(reply), static_cast<std::size_t>(count)))));
        break;
    case pcFSIF:
        TreeView_PNDir->setCurrentItem(PhoneRootNode());
        break;
    default:
        break;
    }
}
