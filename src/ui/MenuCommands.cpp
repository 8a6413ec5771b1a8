// The "COM Port...", "About" and "Log" menu entries.
#include <QAction>

#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_About.h"
#include "ui/Unit_COM.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"

void TForm_Main::miComPortSetupClick()
{
    // A port list error or a save error goes on to the general error handler; the message
    // below is then not shown. The open port stays as it is until the next Reconnect.
    if (ExecuteComSetup(*Form_ComSetup) != QDialog::Accepted)
        return;
    SaveSettings();
    Dialogs::InfoBox("Reload programm.");
}

void TForm_Main::miAboutClick()
{
    AboutDlg->exec();
}

void TForm_Main::miLogClick()
{
    // The entry is checkable: Qt has already toggled its check mark when this runs. Closing the
    // log by its own button only hides it, so the entry can stay checked over a hidden log.
    if (miLog->isChecked())
        Form_Log->show();
    else
        Form_Log->hide();
}
