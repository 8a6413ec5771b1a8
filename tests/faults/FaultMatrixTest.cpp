// Every operation of the link against every fault the handset (or the line) can produce, end to
// end: the window offscreen, the virtual handset on a pseudo-terminal. For each pair the user
// sees the expected messages (each worded from a result of the kind it names), the window
// survives with its panes usable, no PC file is half-written or overwritten by a failed read, the
// link is left idle and not busy, and after Reconnect the link works again.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <QTimer>

#include "phone/Channel.h"
#include "support/WindowFixture.h"

using namespace testsupport;
using Dialogs::Answer;
namespace fs = std::filesystem;

namespace {

enum class Op { Listing, Read, Write, Erase, StartUp, MultiDownload, MultiUpload, Midlet };
enum class Fault {
    Silence,
    CmeError,       // at once, after the echo
    CmeErrorLater,  // after the first block or prompt of the reply
    PlainError,     // a plain "ERROR", as from a handset without the command
    NoEcho,
    WrongEcho,
    CorruptByte,
    SizeTooBig,
    SizeTooSmall,
    ShortBlock,
    SplitReply,
    UnsolicitedBlock,
    UnsolicitedPrompt,
    UnsolicitedLines,   // "+CMTI:" lines before every echo, between blocks, behind and after finals
    Vanish,         // before the operation
    VanishMidway,   // while the handset holds back its answer
};

const char* OpName(Op op)
{
    static const char* names[] = {"Listing", "Read", "Write", "Erase", "StartUp", "MultiDownload", "MultiUpload", "Midlet"};
    return names[static_cast<int>(op)];
}
const char* FaultName(Fault f)
{
    static const char* names[] = {"Silence", "CmeError", "CmeErrorLater", "PlainError", "NoEcho", "WrongEcho", "CorruptByte",
                                  "SizeTooBig", "SizeTooSmall", "ShortBlock", "SplitReply", "UnsolicitedBlock", "UnsolicitedPrompt",
                                  "UnsolicitedLines", "Vanish", "VanishMidway"};
    return names[static_cast<int>(f)];
}

struct Case {
    Op op;
    Fault fault;
    std::vector<std::string> messages;   // every box shown, in order
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << OpName(c.op) << "_" << FaultName(c.fault); }

// The files of both sides.
const std::string kA = PatternBytes(3000, 1);   // two read blocks
const std::string kB = PatternBytes(5000, 2);   // three read blocks
const std::string kC = PatternBytes(100, 3);
const std::string kOldA = "the PC's own a.mmf, which no failed read may touch";
const std::string kUp1 = PatternBytes(1500, 4);   // three write blocks
const std::string kUp2 = PatternBytes(700, 5);
const std::string kUp3 = PatternBytes(40, 6);
const std::string kJar = PatternBytes(1200, 7);
const std::string kJad = "MIDlet-Name: Game\r\nMIDlet-Version: 1.0\r\nMIDlet-Vendor: Tarvel\r\nMIDlet-Jar-URL: game.jar\r\n"
                         "MIDlet-Jar-Size: 1200\r\nMIDlet-1: Game, /icon.png, game.Main\r\n";

std::string IndexFile(const std::string& text)
{
    return std::string(1, '\0') + static_cast<char>(text.size()) + text;
}

const std::string kNotRespond = "Phone not respond.\r\nCommand: ";
const std::string kRespondIncorrect = "Respond incorrect.\r\nCommand: ";
const std::string kCommandError = "Command error.\r\nCommand: ";
const std::string kSendError = "Send Error.";
const std::string kErrorOpenPort = "Error open port.";

// The kind of result a message words; none for the questions and the installer's own messages.
std::optional<LinkError> KindOf(const std::string& message)
{
    const std::pair<const std::string*, LinkError> prefixes[] = {
        {&kNotRespond, LinkError::Silence}, {&kRespondIncorrect, LinkError::WrongEcho}, {&kCommandError, LinkError::Refused},
        {&kSendError, LinkError::SendFailed}, {&kErrorOpenPort, LinkError::PortOpenFailed}};
    for (const auto& [prefix, kind] : prefixes)
        if (message.starts_with(*prefix))
            return kind;
    if (message.starts_with("Extract data error"))
        return LinkError::BadDataBlock;
    if (message.find("\r\nSize error.") != std::string::npos)
        return LinkError::SizeMismatch;
    if (message.find("\r\nCRC error.") != std::string::npos)
        return LinkError::CrcMismatch;
    return std::nullopt;
}

class FaultMatrix : public WindowTest, public ::testing::WithParamInterface<Case> {
protected:
    std::map<std::string, std::string> pcBefore;   // the PC folder before the operation
    std::vector<LinkError> reported;               // the kinds of the results the link reported

    void SetUp() override
    {
        WindowTest::SetUp();
        options.EntriesPerBlock = 2;
        WriteFile(phone / "user/sounds/a.mmf", kA);
        WriteFile(phone / "user/sounds/b.mmf", kB);
        WriteFile(phone / "user/sounds/c.mmf", kC);
        WriteFile(phone / "java/suites.utf", IndexFile("#Old_"));
        WriteFile(phone / "java/suitesName.utf", IndexFile("Old"));
        WriteFile(pc / "a.mmf", kOldA);
        WriteFile(pc / "up1.bin", kUp1);
        WriteFile(pc / "up2.bin", kUp2);
        WriteFile(pc / "up3.bin", kUp3);
        WriteFile(pc / "game.jad", kJad);
        WriteFile(pc / "game.jar", kJar);
    }

    // The window, with the link's reports recorded from its start-up on.
    void Open()
    {
        CreateWindow(false);
        QObject::connect(win->Link, &TPhoneLink::Reported, win,
                         [this](const LinkResult& r, const std::string&) { reported.push_back(r.Error); });
        win->show();
        ASSERT_TRUE(WaitUntil([this] { return win->isVisible(); }));
    }

    // The command prefix a fault is aimed at, for each operation.
    static std::string Target(Op op)
    {
        switch (op) {
        case Op::Listing: return "+FSDL";
        case Op::Read: return "+FSFR";
        case Op::Write: return "+FSFW";
        case Op::Erase: return "+FSFE";
        case Op::StartUp: return "+CGMM";
        case Op::MultiDownload: return "+FSFR= -1,\"b.mmf";
        case Op::MultiUpload: return "+FSFW=-1,\"up2.bin";
        case Op::Midlet: return "+FSFW=-1,\"#Game_suite.jar";
        }
        return {};
    }

    static void Inject(HandsetOptions& o, Op op, Fault fault)
    {
        const std::string target = Target(op);
        switch (fault) {
        case Fault::Silence: o.SilentOn = target; break;
        case Fault::CmeError: o.CmeErrorOn = target; break;
        case Fault::CmeErrorLater: o.CmeErrorOn = target; o.CmeErrorAfterBlocks = 1; break;
        case Fault::PlainError: o.ErrorOn = target; break;
        case Fault::NoEcho: o.Echo = false; break;
        case Fault::WrongEcho: o.WrongEcho = true; break;
        case Fault::CorruptByte: o.CorruptReadByte = true; break;
        case Fault::SizeTooBig: o.AnnouncedSizeDelta = 7; break;
        case Fault::SizeTooSmall: o.AnnouncedSizeDelta = -7; break;
        case Fault::ShortBlock: o.ShortBlock = true; break;
        case Fault::SplitReply:
            // Pieces that leave each piece of a reply on its own; a data block in a few pieces.
            o.SplitWrites = (op == Op::Read || op == Op::MultiDownload) ? 300 : 7;
            break;
        // The stray reply goes out in front of the next command's echo; with no command after
        // it, once the operation is over (see the test).
        case Fault::UnsolicitedBlock: o.UnsolicitedBlock = o.HoldStray = true; break;
        case Fault::UnsolicitedPrompt: o.UnsolicitedPrompt = o.HoldStray = true; break;
        case Fault::UnsolicitedLines:
            o.Unsolicited = "+CMTI: \"SM\",3";
            o.UnsolicitedBeforeEcho = o.UnsolicitedBetweenBlocks = o.UnsolicitedWithFinal = o.UnsolicitedAfterFinal = true;
            break;
        case Fault::Vanish: break;
        case Fault::VanishMidway: o.SilentOn = target; break;
        }
    }

    static std::map<std::string, std::string> Snapshot(const fs::path& dir)
    {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir))
            files[e.path().filename().string()] = fs::is_regular_file(e.path()) ? ReadFile(e.path()) : "<not a file>";
        return files;
    }

    // The phone side of what a PC file may legitimately hold after a read.
    std::string PhoneContent(const std::string& name) const
    {
        const fs::path p = phone / "user/sounds" / name;
        if (fs::exists(p))
            return ReadFile(p);
        const fs::path j = phone / "java" / name;
        return fs::exists(j) ? ReadFile(j) : std::string("<no such phone file>");
    }

    void RunOperation(Op op)
    {
        switch (op) {
        case Op::Listing:
            win->ShowPhoneDir("/user/sounds");
            break;
        case Op::Read:
            SelectPhone({"a.mmf"});
            dialogs->Script({Answer::Yes});   // overwrite the PC's a.mmf
            win->Action_DownloadExecute();
            break;
        case Op::MultiDownload:
            SelectPhone({"a.mmf", "b.mmf", "c.mmf"});
            dialogs->Script({Answer::YesToAll});
            win->Action_DownloadExecute();
            break;
        case Op::Write:
            SelectPC({"up1.bin"});
            win->Action_UploadExecute();
            break;
        case Op::MultiUpload:
            SelectPC({"up1.bin", "up2.bin", "up3.bin"});
            win->Action_UploadExecute();
            break;
        case Op::Erase:
            SelectPhone({"c.mmf"});
            dialogs->Script({Answer::Yes});
            win->Action_DeleteExecute();
            break;
        case Op::Midlet:
            SelectPC({"game.jad"});
            win->Action_CopyAsMIDletExecute();
            break;
        case Op::StartUp:
            break;
        }
    }

    // After a read that went wrong, no PC file is half-written, overwritten or left behind as a
    // temporary file: each is as it was, or holds exactly the handset's file.
    void ExpectPcFolderSound(Op op)
    {
        for (const auto& [name, content] : Snapshot(pc)) {
            const auto before = pcBefore.find(name);
            if (before != pcBefore.end() && before->second == content)
                continue;
            if (op == Op::Midlet && (name.rfind("#Game_", 0) == 0 || name.rfind("suites", 0) == 0))
                continue;   // the installer's own files, made on the PC
            EXPECT_EQ(content, PhoneContent(name)) << "PC file " << name << " changed or appeared";
        }
        for (const auto& [name, content] : pcBefore)
            EXPECT_TRUE(fs::exists(pc / name)) << "PC file " << name << " was lost";
    }

    // Puts the link back: a handset without faults (a new one on a new terminal when the old
    // one vanished), the settings naming it, and Reconnect.
    void Recover(Fault fault)
    {
        win->Link->SetWatchdogIntervalForTests(4000);
        if (fault == Fault::Vanish || fault == Fault::VanishMidway) {
            handset->Stop();
            HandsetOptions fresh;
            fresh.Root = phone.string();
            options = fresh;
            StartHandset();
            WriteSettings();
            LoadSettings();
        } else {
            handset->Update([this](HandsetOptions& o) {
                HandsetOptions fresh;
                fresh.Root = o.Root;
                fresh.EntriesPerBlock = o.EntriesPerBlock;
                o = fresh;
            });
            // A handset whose write was abandoned after its command waits for the data until
            // its own time-out (3 s) and takes what came meanwhile as data; those bytes then
            // count as the next command line (with three files, a write in turn). The link is
            // put back once the handset has done with all of that.
            ASSERT_TRUE(WaitUntil([this] { return handset->Idle(); }, 15000));
        }
        dialogs->Clear();
        win->Action_ReconnectExecute();
        ASSERT_TRUE(WaitIdle()) << ::testing::PrintToString(Texts()) << " idle " << win->Link->Channel().Idle() << " tree "
                                << win->TreeView_PNDir->isEnabled() << " phone " << win->Panel_Phone->isEnabled()
                                << " online " << win->Link->Online() << " cmds " << ::testing::PrintToString(handset->Commands());
        EXPECT_EQ(win->PanelText(2).toStdString(), "Online");
        OpenPhoneFolder("/user/sounds");
        EXPECT_EQ(Texts(), std::vector<std::string>{});
        const std::vector<std::string> captions = PhoneCaptions();
        EXPECT_NE(std::find(captions.begin(), captions.end(), "a.mmf"), captions.end());
        // A whole read works again.
        fs::remove(pc / "a.mmf");
        SelectPhone({"a.mmf"});
        win->Action_DownloadExecute();
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(ReadFile(pc / "a.mmf"), kA);
        EXPECT_EQ(Texts(), std::vector<std::string>{});
    }
};

TEST_P(FaultMatrix, ReportsRecoversAndLosesNothing)
{
    const Case c = GetParam();
    // The watchdog is short only for the operation, and only where the handset leaves one of
    // its commands unanswered for good; elsewhere (and for the start-up and the recovery
    // around the operation) it has the program's interval, so a slow machine cannot make it
    // fire.
    const bool unanswered = std::any_of(c.messages.begin(), c.messages.end(),
                                        [](const std::string& m) { return m.starts_with(kNotRespond); });
    const int operationWatchdogMs = unanswered ? 400 : 4000;
    if (c.op == Op::StartUp) {
        watchdogMs = operationWatchdogMs;
        Inject(options, c.op, c.fault);
        StartHandset();
        WriteSettings();
        if (c.fault == Fault::Vanish) {
            // The settings name a device that is gone for good: the vanished handset's pty number
            // may be handed at once to a test running beside this one.
            handset->Vanish();
            WriteSettings((root / "vanished-port").string());
        }
        Open();
        ASSERT_TRUE(WaitUntil([this] { return win->Link->Channel().Idle(); }));
        handset->ReleaseStray();
        ASSERT_TRUE(WaitUntil([this] { return !handset->StrayPending(); }));
        ASSERT_TRUE(WaitUntil([this] { return win->Link->Channel().Idle(); }));
    } else {
        StartHandset();
        WriteSettings();
        Open();
        ASSERT_TRUE(WaitIdle());
        ASSERT_EQ(win->PanelText(2).toStdString(), "Online");
        if (c.op == Op::Midlet)
            OpenPhoneFolder("/java");
        else
            OpenPhoneFolder("/user/sounds");
        RefreshPC();
        pcBefore = Snapshot(pc);
        dialogs->Clear();
        reported.clear();
        handset->ClearLog();
        if (c.fault == Fault::Vanish)
            handset->Vanish();
        else
            handset->Update([&](HandsetOptions& o) { Inject(o, c.op, c.fault); });
        win->Link->SetWatchdogIntervalForTests(operationWatchdogMs);
        if (c.fault == Fault::VanishMidway) {
            // The handset vanishes once it has the command it holds back its answer to.
            auto* watch = new QTimer(win);
            QObject::connect(watch, &QTimer::timeout, win, [this, watch, target = Target(c.op)] {
                const std::vector<std::string> got = handset->Commands();
                if (std::none_of(got.begin(), got.end(), [&](const std::string& l) { return l.find(target) != std::string::npos; }))
                    return;
                watch->stop();
                handset->Vanish();
            });
            watch->start(1);
        }
        RunOperation(c.op);
        ASSERT_TRUE(WaitUntil([this] { return win->Link->Channel().Idle(); }));
        // A stray reply still held back arrives while nothing is outstanding.
        handset->ReleaseStray();
        ASSERT_TRUE(WaitUntil([this] { return !handset->StrayPending(); }));
        ASSERT_TRUE(WaitUntil([this] { return win->Link->Channel().Idle(); }));
    }

    EXPECT_EQ(Texts(), c.messages);
    std::vector<LinkError> kinds;
    for (const std::string& m : c.messages)
        if (const std::optional<LinkError> kind = KindOf(m))
            kinds.push_back(*kind);
    EXPECT_EQ(reported, kinds);
    EXPECT_TRUE(win->Panel_PC->isEnabled());
    EXPECT_TRUE(win->Panel_Phone->isEnabled());
    EXPECT_FALSE(win->Link->Busy());
    EXPECT_TRUE(win->Link->Channel().Idle());
    if (c.op != Op::StartUp)
        ExpectPcFolderSound(c.op);
    Recover(c.fault);
}

// What the user is told, operation by operation. Faults that only a read can suffer (a damaged
// byte, a wrong size, a short block) appear only with the operations that read. An error in the
// middle of a reply names no command: its line was cleared when the first block passed the echo
// check. A stray block or prompt right after a final reply is read as the start of the next
// command's reply, which then fails its echo check; when a queue sends its next command at once,
// the refused reply's own echo fails that one's check too. With no command after it, the stray
// reply is acknowledged and dropped. Unsolicited result codes are never taken for part of a reply.
const std::string kListSounds = "AT+FSDL=\"/user/sounds\"\r\n";
const std::string kReadA = "AT+FSFR= -1,\"a.mmf\"\r\n";
const std::string kReadB = "AT+FSFR= -1,\"b.mmf\"\r\n";
const std::string kReadC = "AT+FSFR= -1,\"c.mmf\"\r\n";
const std::string kWriteUp1 = "AT+FSFW=-1,\"up1.bin\",0,\" \",1500,2649332777\r\n";
const std::string kWriteUp2 = "AT+FSFW=-1,\"up2.bin\",0,\" \",700,3068433541\r\n";
const std::string kWriteUp3 = "AT+FSFW=-1,\"up3.bin\",0,\" \",40,1741015054\r\n";
const std::string kWriteJar = "AT+FSFW=-1,\"#Game_suite.jar\",0,\" \",1200,1360797953\r\n";
const std::string kEraseC = "AT+FSFE= -1,\"c.mmf\"\r\n";
const std::string kAskA = "File: a.mmf\r\nexists. Owerwrite?";
const std::string kAskC = "Deleting file: c.mmf\r\nA you sure?";
const std::string kFetchFailed = "File: \"suites.utf upload fail.";
const std::string kExtract2 = "Extract data error code:-2";
std::string SizeError(const std::string& name, int announced, int received)
{
    return "File: " + name + "\r\nSize error.\r\nFile size: " + std::to_string(announced) + "\r\nRecv size: "
           + std::to_string(received);
}
std::string CrcError(const std::string& name, const std::string& calc, const std::string& recv)
{
    return "File: " + name + "\r\nCRC error.\r\nCalc CRC: " + calc + "\r\nRecv CRC: " + recv;
}

const std::vector<Case> kCases = {
    // ---- listing
    {Op::Listing, Fault::Silence, {kNotRespond + "+FSDL"}},
    {Op::Listing, Fault::CmeError, {kCommandError + kListSounds}},
    {Op::Listing, Fault::CmeErrorLater, {kCommandError}},
    {Op::Listing, Fault::NoEcho, {kRespondIncorrect + kListSounds}},
    {Op::Listing, Fault::WrongEcho, {kRespondIncorrect + kListSounds}},
    {Op::Listing, Fault::SplitReply, {}},
    {Op::Listing, Fault::PlainError, {kCommandError + kListSounds}},
    {Op::Listing, Fault::UnsolicitedBlock, {}},
    {Op::Listing, Fault::UnsolicitedPrompt, {}},
    {Op::Listing, Fault::UnsolicitedLines, {}},
    {Op::Listing, Fault::Vanish, {kSendError}},
    {Op::Listing, Fault::VanishMidway, {kNotRespond + "+FSDL"}},
    // ---- read (over an existing PC file: the question comes first)
    {Op::Read, Fault::Silence, {kAskA, kNotRespond + "+FSFR"}},
    {Op::Read, Fault::CmeError, {kAskA, kCommandError + kReadA}},
    {Op::Read, Fault::CmeErrorLater, {kAskA, kCommandError}},
    {Op::Read, Fault::NoEcho, {kAskA, kRespondIncorrect + kReadA}},
    {Op::Read, Fault::WrongEcho, {kAskA, kRespondIncorrect + kReadA}},
    {Op::Read, Fault::CorruptByte, {kAskA, CrcError("a.mmf", "2616861753", "990078812")}},
    {Op::Read, Fault::SizeTooBig, {kAskA, SizeError("a.mmf", 3007, 3000)}},
    {Op::Read, Fault::SizeTooSmall, {kAskA, SizeError("a.mmf", 2993, 3000)}},
    {Op::Read, Fault::ShortBlock, {kAskA, kExtract2, SizeError("a.mmf", 3000, 952)}},
    {Op::Read, Fault::SplitReply, {kAskA}},
    {Op::Read, Fault::PlainError, {kAskA, kCommandError + kReadA}},
    {Op::Read, Fault::UnsolicitedBlock, {kAskA}},
    {Op::Read, Fault::UnsolicitedPrompt, {kAskA}},
    {Op::Read, Fault::UnsolicitedLines, {kAskA}},
    {Op::Read, Fault::Vanish, {kAskA, kSendError}},
    {Op::Read, Fault::VanishMidway, {kAskA, kNotRespond + "+FSFR"}},
    // ---- write (the handset still waits for the data after a refused first reply, so it takes
    //      the listing that follows as data and stays silent)
    {Op::Write, Fault::Silence, {kNotRespond + "+FSFW"}},
    {Op::Write, Fault::CmeError, {kCommandError + kWriteUp1}},
    {Op::Write, Fault::CmeErrorLater, {kCommandError}},
    {Op::Write, Fault::NoEcho, {kRespondIncorrect + kWriteUp1, kNotRespond + "+FSDL"}},
    {Op::Write, Fault::WrongEcho, {kRespondIncorrect + kWriteUp1, kNotRespond + "+FSDL"}},
    {Op::Write, Fault::SplitReply, {}},
    {Op::Write, Fault::UnsolicitedBlock, {kRespondIncorrect + kListSounds}},
    {Op::Write, Fault::UnsolicitedPrompt, {kRespondIncorrect + kListSounds}},
    {Op::Write, Fault::UnsolicitedLines, {}},
    {Op::Write, Fault::Vanish, {kSendError, kSendError}},
    {Op::Write, Fault::VanishMidway, {kNotRespond + "+FSFW"}},
    // ---- erase
    {Op::Erase, Fault::Silence, {kAskC, kNotRespond + "+FSFE"}},
    {Op::Erase, Fault::CmeError, {kAskC, kCommandError + kEraseC}},
    {Op::Erase, Fault::NoEcho, {kAskC, kRespondIncorrect + kEraseC, kRespondIncorrect + kListSounds}},
    {Op::Erase, Fault::WrongEcho, {kAskC, kRespondIncorrect + kEraseC, kRespondIncorrect + kListSounds}},
    {Op::Erase, Fault::SplitReply, {kAskC}},
    {Op::Erase, Fault::UnsolicitedBlock, {kAskC, kRespondIncorrect + kListSounds}},
    {Op::Erase, Fault::UnsolicitedPrompt, {kAskC, kRespondIncorrect + kListSounds}},
    {Op::Erase, Fault::UnsolicitedLines, {kAskC}},
    {Op::Erase, Fault::Vanish, {kAskC, kSendError, kSendError}},
    // ---- start-up (aimed at AT+CGMM)
    {Op::StartUp, Fault::Silence, {kNotRespond + "+CGMM"}},
    {Op::StartUp, Fault::CmeError, {kCommandError + "AT+CGMM\r"}},
    {Op::StartUp, Fault::PlainError, {kCommandError + "AT+CGMM\r"}},
    {Op::StartUp, Fault::UnsolicitedLines, {}},
    {Op::StartUp, Fault::NoEcho, {kRespondIncorrect + "ATZ\r", kRespondIncorrect + "AT+CGMM\r", kRespondIncorrect + "AT+FSIF\r"}},
    {Op::StartUp, Fault::WrongEcho, {kRespondIncorrect + "ATZ\r", kRespondIncorrect + "AT+CGMM\r", kRespondIncorrect + "AT+FSIF\r"}},
    {Op::StartUp, Fault::SplitReply, {}},
    {Op::StartUp, Fault::UnsolicitedBlock, {kRespondIncorrect + "AT+CGMM\r", kRespondIncorrect + "AT+FSIF\r"}},
    {Op::StartUp, Fault::UnsolicitedPrompt, {kRespondIncorrect + "AT+CGMM\r", kRespondIncorrect + "AT+FSIF\r"}},
    {Op::StartUp, Fault::Vanish, {kErrorOpenPort}},
    // ---- three files down (aimed at b.mmf; damage and wrong sizes hit every read)
    {Op::MultiDownload, Fault::Silence, {kAskA, kNotRespond + "+FSFR"}},
    {Op::MultiDownload, Fault::CmeError, {kAskA, kCommandError + kReadB}},
    {Op::MultiDownload, Fault::CmeErrorLater, {kAskA, kCommandError}},
    {Op::MultiDownload, Fault::NoEcho, {kAskA, kRespondIncorrect + kReadA, kRespondIncorrect + kReadB, kRespondIncorrect + kReadC}},
    {Op::MultiDownload, Fault::WrongEcho, {kAskA, kRespondIncorrect + kReadA, kRespondIncorrect + kReadB, kRespondIncorrect + kReadC}},
    {Op::MultiDownload, Fault::CorruptByte,
     {kAskA, CrcError("a.mmf", "2616861753", "990078812"), CrcError("b.mmf", "39248062", "3120623213"),
      CrcError("c.mmf", "2505792136", "626215657")}},
    {Op::MultiDownload, Fault::SizeTooBig,
     {kAskA, SizeError("a.mmf", 3007, 3000), SizeError("b.mmf", 5007, 5000), SizeError("c.mmf", 107, 100)}},
    {Op::MultiDownload, Fault::SizeTooSmall,
     {kAskA, SizeError("a.mmf", 2993, 3000), SizeError("b.mmf", 4993, 5000), SizeError("c.mmf", 93, 100)}},
    {Op::MultiDownload, Fault::ShortBlock,
     {kAskA, kExtract2, SizeError("a.mmf", 3000, 952), kExtract2, SizeError("b.mmf", 5000, 2952), kExtract2,
      SizeError("c.mmf", 100, 0)}},
    {Op::MultiDownload, Fault::SplitReply, {kAskA}},
    {Op::MultiDownload, Fault::UnsolicitedLines, {kAskA}},
    {Op::MultiDownload, Fault::UnsolicitedBlock, {kAskA, kRespondIncorrect + kReadB, kRespondIncorrect + kReadC}},
    {Op::MultiDownload, Fault::UnsolicitedPrompt, {kAskA, kRespondIncorrect + kReadB, kRespondIncorrect + kReadC}},
    {Op::MultiDownload, Fault::Vanish, {kAskA, kSendError, kSendError, kSendError}},
    {Op::MultiDownload, Fault::VanishMidway, {kAskA, kNotRespond + "+FSFR"}},
    // ---- three files up (aimed at up2.bin)
    {Op::MultiUpload, Fault::Silence, {kNotRespond + "+FSFW"}},
    {Op::MultiUpload, Fault::CmeError, {kCommandError + kWriteUp2}},
    {Op::MultiUpload, Fault::CmeErrorLater, {kCommandError}},
    {Op::MultiUpload, Fault::NoEcho, {kRespondIncorrect + kWriteUp1, kNotRespond + "+FSFW"}},
    {Op::MultiUpload, Fault::WrongEcho, {kRespondIncorrect + kWriteUp1, kNotRespond + "+FSFW"}},
    {Op::MultiUpload, Fault::SplitReply, {}},
    {Op::MultiUpload, Fault::UnsolicitedLines, {}},
    {Op::MultiUpload, Fault::UnsolicitedBlock, {kRespondIncorrect + kWriteUp2, kRespondIncorrect + kWriteUp3, kNotRespond + "+FSDL"}},
    {Op::MultiUpload, Fault::UnsolicitedPrompt, {kRespondIncorrect + kWriteUp2, kRespondIncorrect + kWriteUp3, kNotRespond + "+FSDL"}},
    {Op::MultiUpload, Fault::Vanish, {kSendError, kSendError, kSendError, kSendError}},
    {Op::MultiUpload, Fault::VanishMidway, {kNotRespond + "+FSFW"}},
    // ---- MIDlet installation: two index files fetched, six files sent (aimed at the JAR)
    {Op::Midlet, Fault::Silence, {kNotRespond + "+FSFW"}},
    {Op::Midlet, Fault::CmeError, {kCommandError + kWriteJar}},
    {Op::Midlet, Fault::CmeErrorLater, {kCommandError}},
    {Op::Midlet, Fault::NoEcho,
     {kRespondIncorrect + "AT+FSFR= -1,\"suites.utf\"\r\n", kRespondIncorrect + "AT+FSFR= -1,\"suitesName.utf\"\r\n", kFetchFailed}},
    {Op::Midlet, Fault::WrongEcho,
     {kRespondIncorrect + "AT+FSFR= -1,\"suites.utf\"\r\n", kRespondIncorrect + "AT+FSFR= -1,\"suitesName.utf\"\r\n", kFetchFailed}},
    {Op::Midlet, Fault::CorruptByte,
     {CrcError("suites.utf", "3980035329", "859800560"), CrcError("suitesName.utf", "2455643913", "751178724"), kFetchFailed}},
    {Op::Midlet, Fault::SizeTooBig, {SizeError("suites.utf", 14, 7), SizeError("suitesName.utf", 12, 5), kFetchFailed}},
    {Op::Midlet, Fault::ShortBlock,
     {kExtract2, SizeError("suites.utf", 7, 0), kExtract2, SizeError("suitesName.utf", 5, 0), kFetchFailed}},
    {Op::Midlet, Fault::SplitReply, {}},
    {Op::Midlet, Fault::UnsolicitedLines, {}},
    {Op::Midlet, Fault::UnsolicitedBlock,
     {kRespondIncorrect + "AT+FSFR= -1,\"suitesName.utf\"\r\n", "File: \"suitesName.utf upload fail."}},
    {Op::Midlet, Fault::UnsolicitedPrompt,
     {kRespondIncorrect + "AT+FSFR= -1,\"suitesName.utf\"\r\n", "File: \"suitesName.utf upload fail."}},
    {Op::Midlet, Fault::Vanish, {kSendError, kSendError, kFetchFailed}},
};

INSTANTIATE_TEST_SUITE_P(Link, FaultMatrix, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(OpName(info.param.op)) + "_" + FaultName(info.param.fault);
                         });

} // namespace
