#pragma once
// The link without a window: TPhoneLink against the virtual handset on a pseudo-terminal, its
// prompts recorded, real files in a temporary folder. QtCore only: no widgets in these tests.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "protocol/CRC.h"
#include "serial/CPDrv.h"
#include "support/Files.h"
#include "support/Wait.h"

namespace linktest {

using namespace testsupport;
namespace fs = std::filesystem;

class LinkTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    fs::path root;                     // the whole test's folder
    fs::path phone;                    // the handset's "/"
    fs::path pc;                       // the PC folder downloads go to
    HandsetOptions options;            // set before StartHandset()
    std::unique_ptr<VirtualHandset> handset;
    Prompts::Recorder prompts;
    TPhoneLink link;
    int watchdogMs = 4000;             // the program's; tests that wait for it set a shorter one
    int transferShows = 0;             // TransferShown so far
    bool transferShowing = false;      // a transfer shown and not yet closed

    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path().toStdString();
        phone = root / "phone";
        pc = root / "pc";
        fs::create_directories(phone / "java");
        fs::create_directories(pc);
        options.Root = phone.string();
        // What a window would show of a transfer: its file shown, its end.
        QObject::connect(&link, &TPhoneLink::TransferShown, &link, [this](TPhoneCommand, const std::string&, std::int32_t) {
            ++transferShows;
            transferShowing = true;
        });
        QObject::connect(&link, &TPhoneLink::ProgressClosed, &link, [this] { transferShowing = false; });
    }

    void TearDown() override
    {
        link.Closing = true;
        if (handset)
            handset->Stop();
    }

    void StartHandset()
    {
        handset = std::make_unique<VirtualHandset>(options);
        std::string error;
        ASSERT_TRUE(handset->Open(&error)) << error;
        handset->Start();
    }

    // The start-up exchange on the handset's port; as in the window, the root is listed once the
    // file system is ready.
    void Connect(bool checkLineStatus = false, const std::string& port = {})
    {
        QObject::connect(&link, &TPhoneLink::FileSystemReady, &link, [this] { link.ListFolder("/"); },
                         Qt::SingleShotConnection);
        link.SetWatchdogIntervalForTests(watchdogMs);
        link.Reconnect(port.empty() ? handset->SlavePath() : port, 115200, checkLineStatus, hfRTSCTS);
    }

    // Handset and link, then waits for "/" to be listed.
    void StartOnline()
    {
        StartHandset();
        Connect();
        ASSERT_TRUE(WaitUntil([this] { return link.ReplyDone; })) << "the start-up did not finish";
        ASSERT_TRUE(link.PhoneOnline);
        ASSERT_EQ(link.PhoneDir, "/");
    }

    const TFileInfo* Record(const std::string& name) const
    {
        for (const TFileInfo& r : link.PhoneRecords)
            if (r.Name == name)
                return &r;
        return nullptr;
    }

    // The names of the records listed last, in the order the handset sent them.
    std::vector<std::string> RecordNames() const
    {
        std::vector<std::string> names;
        for (const TFileInfo& r : link.PhoneRecords)
            names.push_back(r.Name);
        return names;
    }

    void Deliver(const std::string& bytes)
    {
        link.CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        static_cast<std::uint32_t>(bytes.size()));
    }

    std::vector<std::string> Texts() const { return prompts.Texts(); }

    bool WaitCommandEnd(int timeoutMs = 10000)
    {
        return WaitUntil([this] { return link.ReplyDone && link.CurrentCommand == pcNone; }, timeoutMs);
    }

    // Reads the listed phone file `name` into the PC folder, under its whole name, as a
    // download does it.
    void Read(const std::string& name, int timeoutMs = 10000)
    {
        const TFileInfo* record = Record(name);
        ASSERT_NE(record, nullptr) << name;
        link.SetBusy(true);
        link.CurrentFile = *record;
        link.ReadTarget = (pc / record->Name).string();
        link.BufPos = 0;
        link.SendFSFR();
        ASSERT_TRUE(WaitCommandEnd(timeoutMs)) << "the read of " << name << " did not end";
    }

    // Writes `bytes` as `name` into the handset folder listed last.
    void Write(const std::string& name, const std::string& bytes)
    {
        link.UploadFile.Clear();
        link.UploadFile.Name = name;
        link.UploadFile.Size = static_cast<std::int32_t>(bytes.size());
        link.UploadFile.Crc = CalcCRC(bytes);
        link.UploadFile.Kind = 1;
        link.TransferBuffer = std::make_unique<std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
        link.BufPos = 0;
        link.SetBusy(true);
        link.SendFSFW();
    }

    // The command's end has left nothing held, and the link is no longer busy.
    void ExpectCleanEnd()
    {
        EXPECT_TRUE(link.ReplyDone);
        EXPECT_EQ(link.CurrentCommand, pcNone);
        EXPECT_FALSE(link.Busy);
        EXPECT_EQ(link.TransferBuffer, nullptr);
        EXPECT_FALSE(transferShowing);
    }
};

} // namespace linktest
