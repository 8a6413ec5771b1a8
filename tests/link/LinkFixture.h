#pragma once
// The link without a window: TPhoneLink against the virtual handset on a pseudo-terminal, its
// prompts recorded, real files in a temporary folder. QtCore only: no widgets in these tests.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "phone/Channel.h"
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
    std::vector<LinkResult> results;   // every result the link reported, in order
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
        // As the window does: questions and reports go to the prompts (recorded here), each
        // report worded by ResultText.
        link.SetAsker([](Prompts::Kind kind, const std::string& text, TPhoneLink::Answer answer) {
            answer(Prompts::Show(kind, text));
        });
        QObject::connect(&link, &TPhoneLink::Reported, &link, [this](const LinkResult& r, const std::string& details) {
            results.push_back(r);
            Prompts::Show(ResultIsInformation(r) ? Prompts::Kind::Information : Prompts::Kind::Error, ResultText(r), details);
        });
        // What a window would show of a transfer: its file shown, its end.
        QObject::connect(&link, &TPhoneLink::TransferShown, &link, [this](TPhoneCommand, const std::string&, std::int32_t) {
            ++transferShows;
            transferShowing = true;
        });
        QObject::connect(&link, &TPhoneLink::ProgressClosed, &link, [this] { transferShowing = false; });
    }

    void TearDown() override
    {
        link.Close();
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
    // file system is ready (that listing is still under way when this returns).
    LinkResult Connect(bool checkLineStatus = false, const std::string& port = {})
    {
        QObject::connect(&link, &TPhoneLink::FileSystemReady, &link, [this] { link.ListFolder("/").Then({}); },
                         Qt::SingleShotConnection);
        link.SetWatchdogIntervalForTests(watchdogMs);
        return WaitFor(link.Connect(port.empty() ? handset->SlavePath() : port, 115200, checkLineStatus, hfRTSCTS));
    }

    // Handset and link, then waits for "/" to be listed.
    void StartOnline()
    {
        StartHandset();
        Connect();
        ASSERT_TRUE(WaitIdle()) << "the start-up did not finish";
        ASSERT_TRUE(link.Online());
        ASSERT_EQ(link.PhoneDir(), "/");
    }

    const TFileInfo* Record(const std::string& name) const
    {
        for (const TFileInfo& r : link.PhoneRecords())
            if (r.Name == name)
                return &r;
        return nullptr;
    }

    // The names of the records listed last, in the order the handset sent them.
    std::vector<std::string> RecordNames() const
    {
        std::vector<std::string> names;
        for (const TFileInfo& r : link.PhoneRecords())
            names.push_back(r.Name);
        return names;
    }

    void Deliver(const std::string& bytes)
    {
        link.Channel().Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()));
    }

    std::vector<std::string> Texts() const { return prompts.Texts(); }

    // Nothing on the line and nothing queued.
    bool WaitIdle(int timeoutMs = 10000)
    {
        return WaitUntil([this] { return link.Channel().Idle(); }, timeoutMs);
    }

    // Reads the listed phone file `name` into the PC folder, under its whole name, as a
    // download does it.
    LinkResult Read(const std::string& name)
    {
        const TFileInfo* record = Record(name);
        if (!record) {
            ADD_FAILURE() << name << " is not listed";
            return Result(LinkError::NoHeader);
        }
        return WaitFor(link.Fetch(link.PhoneDir(), *record, (pc / record->Name).string()));
    }

    // Starts an operation that runs on by itself; its result lands in the optional when it ends
    // (held apart from the test's locals: it may end only once the link is closed).
    template <class T>
    std::shared_ptr<std::optional<T>> Start(Task<T>&& task)
    {
        auto result = std::make_shared<std::optional<T>>();
        std::move(task).Then([result](T r) { *result = std::move(r); });
        return result;
    }

    // Writes `bytes` as `name` into the folder on show.
    LinkResult Write(const std::string& name, const std::string& bytes)
    {
        return WaitFor(link.Write(link.PhoneDir(), name, 0, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
    }

    // The command's end has left nothing held, and the link is no longer busy.
    void ExpectCleanEnd()
    {
        EXPECT_TRUE(link.Channel().Idle());
        EXPECT_FALSE(link.Busy());
        EXPECT_FALSE(transferShowing);
    }
};

} // namespace linktest
