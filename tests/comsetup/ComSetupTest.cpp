// The serial port list, EComPort and the COM port setup dialog.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/SerialPorts.h"
#include "ui/Unit_About.h"
#include "ui/Unit_COM.h"
#include "settings/Unit_Init.h"

namespace fs = std::filesystem;

namespace {

// A folder laid out like the kernel's terminal class: one entry per name, with a `device`
// when `hardware` is set.
class TtyFolder {
public:
    TtyFolder()
    {
        char tmpl[] = "/tmp/tarvel-tty-XXXXXX";
        if (!mkdtemp(tmpl))
            throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
    }
    ~TtyFolder() { fs::remove_all(dir_); }
    void Add(const std::string& name, bool hardware = true, const char* type = nullptr)
    {
        fs::create_directories(dir_ / name);
        if (hardware)
            fs::create_directory(dir_ / name / "device");
        if (type)
            std::ofstream(dir_ / name / "type") << type << '\n';
    }
    std::string Path() const { return dir_.string(); }

private:
    fs::path dir_;
};

std::vector<std::string> Ports(const TtyFolder& tty, const std::string& linkDir = {})
{
    std::vector<std::string> list{"left over"};
    ListSerialPorts(list, tty.Path(), linkDir);
    return list;
}

} // namespace

TEST(PortList, SortedWithLetterCaseIgnoredAndReplacedWhole)
{
    TtyFolder tty;
    for (const char* name : {"COM2", "COM10", "com3", "COM1", "ttyUSB0", "ttyACM0", "rfcomm0"})
        tty.Add(name);
    EXPECT_EQ(Ports(tty), (std::vector<std::string>{"COM1", "COM10", "COM2", "com3", "rfcomm0", "ttyACM0", "ttyUSB0"}));
}

TEST(PortList, OnlyDevicesWithHardware)
{
    TtyFolder tty;
    tty.Add("tty1", false);      // a virtual console
    tty.Add("ptmx", false);
    tty.Add("ttyS0", true, "4");
    tty.Add("ttyS1", true, "0");   // listed by the kernel, no port behind it
    tty.Add("ttyUSB0");
    tty.Add("usb!ttyX0");          // a device in a subfolder of /dev
    EXPECT_EQ(Ports(tty), (std::vector<std::string>{"ttyS0", "ttyUSB0", "usb/ttyX0"}));
    // Opened by its name, such a port is no port either (the entries stand in for the devices).
    EXPECT_TRUE(SerialPorts::NoHardwareBehind(tty.Path() + "/ttyS1", tty.Path()));
    EXPECT_FALSE(SerialPorts::NoHardwareBehind(tty.Path() + "/ttyS0", tty.Path()));
}

TEST(PortList, OffersTheVirtualHandsetLink)
{
    TtyFolder tty;
    tty.Add("ttyS0");
    TtyFolder links;
    fs::create_symlink("/dev/null", fs::path(links.Path()) / SerialPorts::kHandsetLinkName);
    EXPECT_EQ(Ports(tty, links.Path()),
              (std::vector<std::string>{links.Path() + "/handset-port", "ttyS0"}));

    // A link to something that is not a device, or a dangling one, is not offered.
    fs::remove(fs::path(links.Path()) / SerialPorts::kHandsetLinkName);
    fs::create_symlink(tty.Path(), fs::path(links.Path()) / SerialPorts::kHandsetLinkName);
    EXPECT_EQ(Ports(tty, links.Path()), std::vector<std::string>{"ttyS0"});
    fs::remove(fs::path(links.Path()) / SerialPorts::kHandsetLinkName);
    fs::create_symlink("/dev/no-such-pty", fs::path(links.Path()) / SerialPorts::kHandsetLinkName);
    EXPECT_EQ(Ports(tty, links.Path()), std::vector<std::string>{"ttyS0"});
}

TEST(PortList, AMissingSourceRaisesError23)
{
    std::vector<std::string> list{"kept"};
    try {
        ListSerialPorts(list, "/nonexistent/tty", "");
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 23);
        EXPECT_EQ(e.PlatformCode, ENOENT);
        EXPECT_EQ(std::string(e.what()), "Registry error (win error code: " + std::to_string(ENOENT) + ")");
    }
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST(EComPort, MessagesOfTheTable)
{
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {1, "Unable to open com port"},
        {8, "SetCommTimeouts failed"},
        {18, "Link (un)registration failed"},
        {22, "A component is linked to OnRxBuf event"},
        {23, "Registry error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(EComPort(c.code, 2).what()), std::string(c.text) + " (win error code: 2)");
    EXPECT_EQ(std::string(EComPort(23, -5).what()), "Registry error (win error code: -5)");
    const std::runtime_error& base = EComPort(5, 13);
    EXPECT_EQ(std::string(base.what()), "PurgeComm function failed (win error code: 13)");
}

namespace {

// The dialog over a port folder of its own; each test sets the settings it starts from.
class ComSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        tty.Add("COM1");
        tty.Add("COM3");
        dialog.PortClassDir = tty.Path();
        dialog.PortLinkDir = tty.Path();
        dialog.PortByIdDir = tty.Path() + "/by-id";
        ResetSettingsToDefaults();
        ComPort = "COM3";
    }

    // Runs the dialog; `answer` acts on it once it shows.
    int Run(std::function<void(TForm_ComSetup&)> answer)
    {
        QTimer::singleShot(0, &dialog, [this, answer] {
            shownModal = dialog.isVisible() && dialog.isModal();
            answer(dialog);
        });
        return ExecuteComSetup(dialog);
    }
    static void PressOk(TForm_ComSetup& d) { d.Button_Ok->click(); }

    TtyFolder tty;
    TForm_ComSetup dialog;
    bool shownModal = false;
};

} // namespace

TEST_F(ComSetup, Layout)
{
    EXPECT_EQ(dialog.windowTitle(), "COM Port Setup");
    EXPECT_EQ(dialog.size(), QSize(207, 198));
    const struct {
        QComboBox* box;
        QStringList items;
        int selected;
        bool editable;
    } lists[] = {
        {dialog.ComboBox_BRate, {"57600", "115200", "230400"}, 1, false},
        {dialog.ComboBox_CheckLine, {"False", "True"}, 0, false},
        {dialog.ComboBox_HWFlow, {"None", "RTS On", "Handshake"}, 1, true},
    };
    for (const auto& l : lists) {
        QStringList items;
        for (int i = 0; i < l.box->count(); ++i)
            items << l.box->itemText(i);
        EXPECT_EQ(items, l.items) << l.box->objectName().toStdString();
        EXPECT_EQ(l.box->currentIndex(), l.selected);
        EXPECT_EQ(l.box->isEditable(), l.editable);
        EXPECT_FALSE(l.box->accessibleName().isEmpty());
    }
    EXPECT_EQ(dialog.Label_Port->text(), "Port");
    EXPECT_EQ(dialog.Label_HWFlow->geometry().topLeft(), QPoint(8, 152));
    EXPECT_EQ(dialog.Label_HWFlow->buddy(), dialog.ComboBox_HWFlow);
    EXPECT_EQ(dialog.ComboBox_HWFlow->geometry().topLeft(), QPoint(8, 168));
    EXPECT_EQ(dialog.Button_Ok->text(), "Ok");
    EXPECT_TRUE(dialog.Button_Ok->isDefault());
    EXPECT_EQ(dialog.Button_Ok->geometry(), QRect(120, 8, 75, 25));
    EXPECT_EQ(dialog.Button_Cancel->geometry(), QRect(120, 40, 75, 25));

    // Tab order: Port, Baud Rate, Ok, Cancel, Check Line Status, Flow Control.
    const QWidget* expected[] = {dialog.ComboBox_Port, dialog.ComboBox_BRate, dialog.Button_Ok,
                                 dialog.Button_Cancel, dialog.ComboBox_CheckLine, dialog.ComboBox_HWFlow};
    std::vector<const QWidget*> order;
    const QWidget* w = dialog.ComboBox_Port;
    do {
        if (std::find(std::begin(expected), std::end(expected), w) != std::end(expected))
            order.push_back(w);
        w = w->nextInFocusChain();
    } while (w != dialog.ComboBox_Port);
    EXPECT_EQ(order, std::vector<const QWidget*>(std::begin(expected), std::end(expected)));
}

TEST_F(ComSetup, OkWithUnchangedValuesKeepsThem)
{
    ComBaudRate = 230400;
    ComCheckLineStatus = true;
    ComHwFlow = 2;
    QStringList ports;
    EXPECT_EQ(Run([&](TForm_ComSetup& d) {
                  for (int i = 0; i < d.ComboBox_Port->count(); ++i)
                      ports << d.ComboBox_Port->itemText(i);
                  EXPECT_EQ(d.ComboBox_Port->currentText(), "COM3");
                  EXPECT_EQ(d.ComboBox_BRate->currentText(), "230400");
                  EXPECT_EQ(d.ComboBox_CheckLine->currentIndex(), 1);
                  EXPECT_EQ(d.ComboBox_HWFlow->currentIndex(), 2);
                  PressOk(d);
              }),
              QDialog::Accepted);
    EXPECT_TRUE(shownModal);
    EXPECT_EQ(ports, QStringList({"COM1", "COM3"}));
    EXPECT_EQ(ComPort, "COM3");
    EXPECT_EQ(ComBaudRate, 230400);
    EXPECT_TRUE(ComCheckLineStatus);
    EXPECT_EQ(ComHwFlow, 2);
}

// A port is found by its device (a name under /dev, its path, a link to it) and Ok keeps the
// setting's spelling; a port or rate that is not in its list selects nothing.
TEST_F(ComSetup, APortIsFoundByItsDeviceAndAValueNotInItsListSelectsNothing)
{
    tty.Add("null");
    tty.Add("ttyQQ9");   // no such device: the paths are compared
    const std::string link = tty.Path() + "/link-to-null";
    fs::create_symlink("/dev/null", link);
    // A stable name comes after the system's names, with the device it points to.
    const std::string byId = tty.Path() + "/by-id/usb-Maker_Phone_0123-if00";
    fs::create_directories(tty.Path() + "/by-id");
    fs::create_symlink("/dev/null", byId);
    const struct {
        std::string port;
        std::int32_t baud;
        std::int32_t hwFlow;
        int portIndex;
        std::string storedPort;
        std::int32_t storedBaud;
        std::int32_t storedFlow;
    } cases[] = {
        {"COM7", 115200, 1, -1, "", 115200, 1},
        {"com1", 9600, 0, 0, "com1", 115200, 0},   // the port's letter case is ignored
        {"COM3", -1, 5, 1, "COM3", 115200, -1},
        {"/dev/null", 115200, 1, 2, "/dev/null", 115200, 1},
        {link, 115200, 1, 2, link, 115200, 1},
        {"/dev/ttyQQ9", 115200, 1, 3, "/dev/ttyQQ9", 115200, 1},
        {byId, 115200, 1, 4, byId, 115200, 1},
    };
    for (const auto& c : cases) {
        ComPort = c.port;
        ComBaudRate = c.baud;
        ComHwFlow = c.hwFlow;
        int portIndex = 0, rateIndex = 0;
        Run([&](TForm_ComSetup& d) {
            EXPECT_EQ(d.ComboBox_Port->itemText(4).toStdString(), byId + "  (now /dev/null)");
            portIndex = d.ComboBox_Port->currentIndex();
            rateIndex = d.ComboBox_BRate->currentIndex();
            PressOk(d);
        });
        EXPECT_EQ(portIndex, c.portIndex) << c.port;
        EXPECT_EQ(rateIndex, c.baud == 115200 ? 1 : -1) << c.baud;
        EXPECT_EQ(ComPort, c.storedPort);
        EXPECT_EQ(ComBaudRate, c.storedBaud);
        EXPECT_EQ(ComHwFlow, c.storedFlow);
    }
}

TEST_F(ComSetup, ChoicesAreStoredOnOk)
{
    Run([](TForm_ComSetup& d) {
        d.ComboBox_Port->setCurrentIndex(0);
        d.ComboBox_BRate->setCurrentIndex(0);
        d.ComboBox_CheckLine->setCurrentIndex(1);
        d.ComboBox_HWFlow->setCurrentIndex(0);
        PressOk(d);
    });
    EXPECT_EQ(ComPort, "COM1");
    EXPECT_EQ(ComBaudRate, 57600);
    EXPECT_TRUE(ComCheckLineStatus);
    EXPECT_EQ(ComHwFlow, 0);
}

TEST_F(ComSetup, TypedFlowControlText)
{
    const struct {
        const char* typed;
        std::int32_t stored;
    } cases[] = {{"fast", -1}, {"", -1}, {"handshake", 2}, {"None", 0}};
    for (const auto& c : cases) {
        ComHwFlow = 1;
        Run([&](TForm_ComSetup& d) {
            d.ComboBox_HWFlow->lineEdit()->setText(QString::fromUtf8(c.typed));
            PressOk(d);
        });
        EXPECT_EQ(ComHwFlow, c.stored) << c.typed;
    }
}

TEST_F(ComSetup, CancelAndTheCloseButtonChangeNothing)
{
    ComPort = "COM7";
    ComBaudRate = 9600;
    ComHwFlow = 2;
    const std::function<void(TForm_ComSetup&)> leave[] = {
        [](TForm_ComSetup& d) { d.Button_Cancel->click(); },
        [](TForm_ComSetup& d) { d.close(); },
    };
    for (const auto& how : leave) {
        EXPECT_EQ(Run([&](TForm_ComSetup& d) {
                      d.ComboBox_Port->setCurrentIndex(0);
                      d.ComboBox_BRate->setCurrentIndex(2);
                      d.ComboBox_HWFlow->setCurrentIndex(0);
                      how(d);
                  }),
                  QDialog::Rejected);
        EXPECT_EQ(ComPort, "COM7");
        EXPECT_EQ(ComBaudRate, 9600);
        EXPECT_EQ(ComHwFlow, 2);
    }
}

TEST_F(ComSetup, APortListErrorLeavesBeforeTheDialogShows)
{
    dialog.PortClassDir = "/nonexistent/tty";
    bool shown = false;   // a dialog that showed after all is closed again, so the test ends
    QTimer::singleShot(0, &dialog, [&] {
        if (dialog.isVisible()) {
            shown = true;
            dialog.reject();
        }
    });
    EXPECT_THROW(ExecuteComSetup(dialog), EComPort);
    QApplication::processEvents();
    EXPECT_FALSE(shown);
    EXPECT_EQ(ComPort, "COM3");
}

TEST(AboutBox, Layout)
{
    TAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.size(), QSize(384, 179));
    EXPECT_EQ(about.Bevel1->geometry(), QRect(8, 8, 281, 161));
    EXPECT_EQ(about.Memo_About->geometry(), QRect(32, 40, 233, 105));
    EXPECT_TRUE(about.Memo_About->text().startsWith("Tarvel\n\n"));
    EXPECT_EQ(about.OKBtn->text(), "OK");
    EXPECT_TRUE(about.OKBtn->isDefault());
    EXPECT_EQ(about.OKBtn->geometry(), QRect(300, 8, 75, 25));
    QTimer::singleShot(0, &about, [&] { about.OKBtn->click(); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}
