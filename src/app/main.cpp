// The program entry: the application object, the five windows, the message loop.
#include <cstdlib>
#include <iostream>

#include <QCoreApplication>
#include <QIcon>

#include "app/Application.h"
#include "TarvelVersion.h"
#include "app/StartOptions.h"
#include "phone/PortCheck.h"
#include "serial/TraceFile.h"
#include "smaf/MA3_Drv.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_About.h"
#include "ui/Unit_COM.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

namespace {

// `tarvel --check-port`: the checks of the configured port, on standard output.
int CheckPort(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    InitSettingsDir();
    LoadSettings();
    PortCheckSettings s;
    s.Port = ComPort;
    s.BaudRate = static_cast<std::uint32_t>(ComBaudRate);
    s.HwFlow = ComHwFlow;
    s.CheckLineStatus = ComCheckLineStatus;
    return WaitFor(RunPortCheck(s, &std::cout)) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const StartOptions options = ParseStartOptions(argc, argv, std::getenv("TARVEL_TRACE"));
    if (!options.Error.empty() || options.Help) {
        (options.Help ? std::cout : std::cerr) << (options.Error.empty() ? "" : "tarvel: " + options.Error + "\n\n")
                                               << kStartUsage;
        return options.Help ? 0 : 2;
    }
    if (options.Version) {
        std::cout << "tarvel " << kTarvelVersion << "\n";
        return 0;
    }
    if (!options.TraceFile.empty()) {
        std::string error;
        if (!StartTraceFile(options.TraceFile, &error)) {
            std::cerr << "tarvel: cannot write the trace " << options.TraceFile << ": " << error << "\n";
            return 1;
        }
    }
    if (options.CheckPort)
        return CheckPort(argc, argv);
    ShowLogMenuEntry = options.ShowLog;

    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvel"));
    QApplication::setDesktopFileName(QStringLiteral("tarvel"));
    // The installed icon of the desktop's theme (none in a build tree).
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarvel")));
    // Closing the main window ends the program, also while another window is showing.
    QApplication::setQuitOnLastWindowClosed(false);

    // Unit start-up, before any window exists.
    InitSettingsDir();
    if (!LoadSynthLibrary())
        Dialogs::ErrorBox(kSynthLoadError);

    int result = 0;
    try {
        Form_Main = new TForm_Main;
        Form_Log = new TForm_Log;
        Form_Progress = new TForm_Progress(Form_Main);
        Form_ComSetup = new TForm_ComSetup(Form_Main);
        AboutDlg = new TAboutDlg(Form_Main);
        Form_Main->show();
        result = QApplication::exec();
    } catch (...) {
        ShowUnhandledException();
    }
    delete Form_Log;
    Form_Log = nullptr;
    delete Form_Main;   // owns the progress window and the dialogs
    Form_Progress = nullptr;
    Form_ComSetup = nullptr;
    AboutDlg = nullptr;
    return result;
}
