#include "ui/Unit_COM.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "platform/SerialPorts.h"
#include "settings/Unit_Init.h"

TForm_ComSetup* Form_ComSetup = nullptr;

// ---- the dialog ----------------------------------------------------------------------------

namespace {

// The left column: a caption above each list, 81 pixels wide.
constexpr int kColumnX = 8;
constexpr int kColumnWidth = 81;
constexpr int kClientWidth = 207;
constexpr int kDividerX = 104;
constexpr int kDividerBottom = 8 + 89;

QLabel* AddLabel(QWidget* parent, const char* name, const QString& caption, int y)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setAccessibleName(caption);
    // A caption wider than its list may reach up to the divider, or below it to the margin.
    const int maxWidth = y < kDividerBottom ? kDividerX - 2 - kColumnX : kClientWidth - 2 * kColumnX;
    label->setGeometry(kColumnX, y, std::clamp(label->sizeHint().width(), kColumnWidth, maxWidth), 13);
    return label;
}

QComboBox* AddList(QWidget* parent, QLabel* label, const char* name, const QStringList& items, bool editable, int y)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(label->text());
    box->setEditable(editable);
    if (editable) {
        box->setInsertPolicy(QComboBox::NoInsert);   // typed text never becomes an entry
        box->lineEdit()->setAccessibleName(label->text());   // the field typed into, named alike
    }
    box->addItems(items);
    box->setGeometry(kColumnX, y, kColumnWidth, 21);
    label->setBuddy(box);
    return box;
}

QPushButton* AddButton(QWidget* parent, const char* name, const QString& caption, int y)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    button->setGeometry(120, y, 75, 25);
    return button;
}

} // namespace

TForm_ComSetup::TForm_ComSetup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form_ComSetup"));
    setWindowTitle(QStringLiteral("COM Port Setup"));
    setAccessibleName(windowTitle());
    setFixedSize(kClientWidth, 198);
    setModal(true);

    Label_Port = AddLabel(this, "Label_Port", QStringLiteral("Port"), 8);
    ComboBox_Port = AddList(this, Label_Port, "ComboBox_Port", {}, false, 24);
    Label_BRate = AddLabel(this, "Label_BRate", QStringLiteral("Baud Rate"), 56);
    ComboBox_BRate = AddList(this, Label_BRate, "ComboBox_BRate",
                             {QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("230400")}, false, 72);
    ComboBox_BRate->setCurrentIndex(1);
    Label_CheckLine = AddLabel(this, "Label_CheckLine", QStringLiteral("Check Line Status"), 104);
    ComboBox_CheckLine = AddList(this, Label_CheckLine, "ComboBox_CheckLine",
                                 {QStringLiteral("False"), QStringLiteral("True")}, false, 120);
    ComboBox_CheckLine->setCurrentIndex(0);
    Label_HWFlow = AddLabel(this, "Label_HWFlow", QStringLiteral("Flow Control"), 152);
    ComboBox_HWFlow = AddList(this, Label_HWFlow, "ComboBox_HWFlow",
                              {QStringLiteral("None"), QStringLiteral("RTS On"), QStringLiteral("Handshake")}, true, 168);
    ComboBox_HWFlow->setCurrentIndex(1);

    Bevel_Divider = new QFrame(this);
    Bevel_Divider->setObjectName(QStringLiteral("Bevel_Divider"));
    Bevel_Divider->setAccessibleName(QStringLiteral("Divider"));
    Bevel_Divider->setFrameShape(QFrame::VLine);
    Bevel_Divider->setFrameShadow(QFrame::Sunken);
    Bevel_Divider->setGeometry(kDividerX, 8, 2, kDividerBottom - 8);

    Button_Ok = AddButton(this, "Button_Ok", QStringLiteral("Ok"), 8);
    Button_Ok->setDefault(true);
    Button_Ok->setAutoDefault(true);
    Button_Cancel = AddButton(this, "Button_Cancel", QStringLiteral("Cancel"), 40);
    Button_Cancel->setAutoDefault(false);
    connect(Button_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button_Cancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(ComboBox_Port, ComboBox_BRate);
    setTabOrder(ComboBox_BRate, Button_Ok);
    setTabOrder(Button_Ok, Button_Cancel);
    setTabOrder(Button_Cancel, ComboBox_CheckLine);
    setTabOrder(ComboBox_CheckLine, ComboBox_HWFlow);
}

int TForm_ComSetup::HWFlowIndex() const
{
    // Qt::MatchFixedString compares whole texts with letter case ignored.
    return ComboBox_HWFlow->findText(ComboBox_HWFlow->currentText(), Qt::MatchFixedString);
}

int ExecuteComSetup(TForm_ComSetup& dialog)
{
    // 1. The port list; an error leaves before anything changes or shows.
    std::vector<std::string> ports;
    ListSerialPorts(ports, dialog.PortClassDir.empty() ? std::string(SerialPorts::kDefaultSource) : dialog.PortClassDir,
                    dialog.PortLinkDir.empty() ? SettingsDir : dialog.PortLinkDir);
    dialog.ComboBox_Port->clear();
    for (const auto& port : ports)
        dialog.ComboBox_Port->addItem(QString::fromStdString(port), QString::fromStdString(port));
    // The stable names survive a replug; each shows the device it stands for now.
    for (const SerialPorts::StableName& name : SerialPorts::ListStableNames(dialog.PortByIdDir)) {
        dialog.ComboBox_Port->addItem(QString::fromStdString(name.path + "  (now " + name.device + ")"),
                                      QString::fromStdString(name.path));
        ports.push_back(name.path);
    }
    // Long names (the handset link's path) are readable in the open list.
    dialog.ComboBox_Port->view()->setMinimumWidth(dialog.ComboBox_Port->view()->sizeHintForColumn(0) + 8);

    // 2.-4. The selections from the settings; a value that is not in a list selects nothing.
    // A port has several names here (ttyUSB0, /dev/ttyUSB0, a link to it): the entry that names
    // the same device as the setting is selected when none spells it alike.
    int portIndex = dialog.ComboBox_Port->findData(QString::fromStdString(ComPort), Qt::UserRole, Qt::MatchFixedString);
    for (int i = 0; portIndex < 0 && i < static_cast<int>(ports.size()); ++i)
        if (SerialPorts::SameDevice(ports[static_cast<std::size_t>(i)], ComPort))
            portIndex = i;
    dialog.ComboBox_Port->setCurrentIndex(portIndex);
    dialog.ComboBox_BRate->setCurrentIndex(
        dialog.ComboBox_BRate->findText(QString::number(ComBaudRate), Qt::MatchExactly));
    dialog.ComboBox_CheckLine->setCurrentIndex(ComCheckLineStatus ? 1 : 0);
    dialog.ComboBox_HWFlow->setCurrentIndex(ComHwFlow >= 0 && ComHwFlow < dialog.ComboBox_HWFlow->count() ? ComHwFlow : -1);
    if (dialog.ComboBox_HWFlow->currentIndex() < 0)
        dialog.ComboBox_HWFlow->setEditText(QString());

    // 5. Modally, over the main window.
    dialog.ComboBox_Port->setFocus();
    const int result = dialog.exec();

    // 6. "Ok" takes the values; "Cancel" and the close button leave the settings alone.
    if (result == QDialog::Accepted) {
        // The port the setting named keeps the setting's spelling.
        if (dialog.ComboBox_Port->currentIndex() < 0)
            ComPort.clear();
        else if (dialog.ComboBox_Port->currentIndex() != portIndex)
            ComPort = dialog.ComboBox_Port->currentData().toString().toStdString();
        ComBaudRate = dialog.ComboBox_BRate->currentIndex() < 0 ? 115200 : dialog.ComboBox_BRate->currentText().toInt();
        ComCheckLineStatus = dialog.ComboBox_CheckLine->currentIndex() == 1;
        ComHwFlow = dialog.HWFlowIndex();
    }
    return result;
}
