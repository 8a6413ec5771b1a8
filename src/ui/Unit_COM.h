#pragma once
// The COM port setup dialog.
#include <QDialog>

#include "platform/SerialPorts.h"
#include "settings/Unit_COMPorts.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class TForm_ComSetup : public QDialog {
    Q_OBJECT
public:
    explicit TForm_ComSetup(QWidget* parent = nullptr);

    QLabel* Label_Port = nullptr;
    QComboBox* ComboBox_Port = nullptr;
    QLabel* Label_BRate = nullptr;
    QComboBox* ComboBox_BRate = nullptr;
    QLabel* Label_CheckLine = nullptr;
    QComboBox* ComboBox_CheckLine = nullptr;
    QLabel* Label_HWFlow = nullptr;
    QComboBox* ComboBox_HWFlow = nullptr;
    QFrame* Bevel_Divider = nullptr;
    QPushButton* Button_Ok = nullptr;
    QPushButton* Button_Cancel = nullptr;

    // The entry of the editable flow control list that its text names (letter case ignored),
    // -1 when the typed text names none.
    int HWFlowIndex() const;

    // Where the port list comes from; tests point these at folders of their own.
    std::string PortClassDir;   // empty: the system's device list
    std::string PortLinkDir;    // empty: the settings folder
    std::string PortByIdDir = SerialPorts::kByIdDir;   // the stable names offered too
};

// Fills the dialog from the settings, shows it modally and, when it is closed with "Ok", takes
// its values into the settings. Returns the modal result (QDialog::Accepted or Rejected).
// EComPort from the port list leaves at once, before the dialog shows.
int ExecuteComSetup(TForm_ComSetup& dialog);

extern TForm_ComSetup* Form_ComSetup;
