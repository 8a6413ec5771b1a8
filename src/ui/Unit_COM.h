#pragma once
// The COM port setup dialog, the list of the system's serial ports, and EComPort, the error
// the port list raises.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

// An error of the serial port layer: ErrorCode is the driver's error number (1..23),
// PlatformCode the system's own error number. The message is the text of ErrorCode followed by
// " (win error code: N)" with the platform code.
class EComPort : public std::runtime_error {
public:
    EComPort(std::int32_t errorCode, std::int32_t platformCode);
    std::int32_t PlatformCode;
    std::int32_t ErrorCode;
};

// The text of a driver error number ("" outside 1..23).
std::string ComErrorText(std::int32_t errorCode);
// "<text> (win error code: <platformCode>)".
std::string ComErrorMessage(std::int32_t errorCode, std::int32_t platformCode);

// Sorts port names alphabetically with letter case ignored (COM1, COM10, COM2).
void SortPortNames(std::vector<std::string>& names);

// Replaces `list` with the system's serial ports (see platform/SerialPorts.h), sorted with
// SortPortNames. The virtual handset's link in `linkDir` is offered too. Raises EComPort 23
// with the system's error number when the ports cannot be listed; `list` is then unchanged.
void ListSerialPorts(std::vector<std::string>& list, const std::string& classDir, const std::string& linkDir);
// The same over the system's device list, with the handset link of the settings folder.
void ListSerialPorts(std::vector<std::string>& list);

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
};

// Fills the dialog from the settings, shows it modally and, when it is closed with "Ok", takes
// its values into the settings. Returns the modal result (QDialog::Accepted or Rejected).
// EComPort from the port list leaves at once, before the dialog shows.
int ExecuteComSetup(TForm_ComSetup& dialog);

extern TForm_ComSetup* Form_ComSetup;
