// The program entry: the application object, the five windows, the message loop.
#include <QIcon>

#include "app/Application.h"
#include "smaf/MA3_Drv.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_About.h"
#include "ui/Unit_COM.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

int main(int argc, char** argv)
{
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
