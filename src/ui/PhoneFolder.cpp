// Show phone in file manager: the window's link serves the phone as a folder (mount/) next to
// the panes, mounted under the user's runtime folder and opened with the desktop's file manager.
#include <cstdlib>
#include <filesystem>

#include <QAction>
#include <QDesktopServices>
#include <QStandardPaths>
#include <QUrl>

#include "mount/FuseSession.h"
#include "mount/PhoneMount.h"
#include "phone/PhoneLink.h"
#include "settings/Unit_Init.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"

std::string TForm_Main::PhoneFolderPath()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return (std::filesystem::path(runtime.toStdString()) / "tarvel" / "phone").string();
}

void TForm_Main::Action_ShowPhoneFolderExecute(bool checked)
{
    if (!checked) {
        StopPhoneFolder();
        return;
    }
    if (PhoneFuse && PhoneFuse->Running())
        return;
    const std::string folder = PhoneFolderPath();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    MountOptions options = ParseMountOptions("");
    PhoneMount = std::make_unique<TPhoneMount>(*Link, options, UnsentFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
    // The phone folder reconnects as Reconnect does, with the port settings of the moment.
    PhoneMount->SetReconnect([this] {
        return Link->Connect(ComPort, static_cast<std::uint32_t>(ComBaudRate), ComCheckLineStatus, static_cast<THwFlowControl>(ComHwFlow));
    });
    // A file the phone did not take: where its bytes are kept. What the phone folder does goes to
    // the log.
    connect(PhoneMount.get(), &TPhoneMount::NotUploaded, this, [](const std::string& line) { Dialogs::ErrorBox(line); });
    connect(PhoneMount.get(), &TPhoneMount::LogLine, this, [this](const std::string& line) { AppendLog(false, line); });
    PhoneFuse = std::make_unique<TFuseSession>(*PhoneMount);
    std::string why;
    if (!PhoneFuse->Start(folder, ComPort, options, &why)) {
        PhoneFuse.reset();
        PhoneMount.reset();
        Action_ShowPhoneFolder->setChecked(false);
        Dialogs::ErrorBox("The phone could not be shown as a folder: " + why);
        return;
    }
    // Unmounted from outside (fusermount3 -u): the action follows.
    connect(PhoneFuse.get(), &TFuseSession::Ended, this, [this] {
        Action_ShowPhoneFolder->setChecked(false);
        if (PhoneMount)
            PhoneMount->Abandon();
    });
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
}

void TForm_Main::StopPhoneFolder()
{
    if (Action_ShowPhoneFolder)
        Action_ShowPhoneFolder->setChecked(false);
    if (!PhoneFuse)
        return;
    // Unmounted at once: an upload under way still ends on the link; whatever was changed and
    // not sent is kept with the unsent files. The requests still waiting are answered before
    // the session ends.
    PhoneFuse->Unmount();
    PhoneMount->Abandon();
    PhoneFuse.reset();
    PhoneMount.reset();
}
