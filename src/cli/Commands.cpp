#include "cli/Commands.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include <unistd.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include "cli/Answers.h"
#include "cli/ProgressLine.h"
#include "midlet/Installer.h"
#include "mount/FuseSession.h"
#include "mount/MountRules.h"
#include "mount/PhoneMount.h"
#include "phone/Backup.h"
#include "phone/PhoneLink.h"
#include "platform/Background.h"
#include "platform/SerialPorts.h"
#include "platform/StopSignals.h"
#include "protocol/Text.h"
#include "protocol/Upload.h"
#include "phone/PortCheck.h"
#include "settings/Unit_COMPorts.h"

namespace fs = std::filesystem;
using CliAnswers::Complain;

namespace {

// The link, started (reset, model, file system), with the progress line on its signals.
class Session {
public:
    explicit Session(const CliSettings& s) : settings_(s), progress_(link_, !s.Quiet && !s.Trace, s.Verbose)
    {
        link_.SetPortAdvice(AdviceReader::CommandLine);
        QObject::connect(&link_, &TPhoneLink::ModelKnown, &link_, [this](const std::string& m) { Model = m; });
        // What the link reports is said on standard error; every failure counts against the
        // command. Questions are answered by the options or on the terminal (cli/Answers).
        QObject::connect(&link_, &TPhoneLink::Reported, &link_, [this](const LinkResult& result, const std::string&) {
            if (result.Failed())
                ++failures_;
            Prompts::Show(ResultIsInformation(result) ? Prompts::Kind::Information : Prompts::Kind::Error, ResultText(result));
        });
        link_.SetAsker([](Prompts::Kind kind, const std::string& text, const TPhoneLink::Answer& answer) {
            answer(Prompts::Show(kind, text));
        });
        // An entry the phone listed but that could not be read is a failure of the command.
        QObject::connect(&link_, &TPhoneLink::ListingEntryRefused, &link_,
                         [this](const std::string& folder, const std::string& line) {
                             ++refused_;
                             Complain(PrintableName(folder) + ": the phone listed an entry that could not be read: " + PrintableName(line));
                         });
        CliAnswers::Install(s.Answers, [this] { progress_.Clear(); });
    }
    ~Session()
    {
        link_.Close();
        CliAnswers::Install(settings_.Answers, {});
    }

    TPhoneLink& Link() { return link_; }
    ProgressLine& Progress() { return progress_; }
    std::string Model;

    bool Start()
    {
        WaitFor(link_.Connect(settings_.Port, settings_.BaudRate, settings_.CheckLineStatus, settings_.HwFlow));
        // A start-up command the handset refused (a handset without AT+CGMM) has been said; it
        // is no failure of the command that follows.
        startupFailures_ = failures_;
        startupAnswerFailures_ = CliAnswers::Failures();
        if (!link_.Online()) {
            // A port that did not open has been reported by the link already.
            if (failures_ == 0)
                Complain("no answer from the phone on " + settings_.Port);
            return false;
        }
        return true;
    }

    // Lists a folder of the phone; false (said) when the handset did not list it.
    bool List(const std::string& folder)
    {
        const LinkResult listed = WaitFor(link_.ListFolder(folder));
        if (listed.Ok() && link_.PhoneDir() == folder)
            return true;
        Complain(folder + ": the phone did not list this folder");
        return false;
    }

    // The position of a record of the listed folder by the name given on the command line (the
    // handset's own, as the PC shows it, or as `ls` prints it).
    std::optional<std::size_t> Find(const std::string& name) const
    {
        const auto& records = link_.PhoneRecords();
        for (std::size_t i = 0; i < records.size(); ++i)
            if (records[i].Name == name || ShowableName(records[i].Name) == name || PrintableName(records[i].Name) == name)
                return i;
        return std::nullopt;
    }

    // The command's own outcome: the link's failures since the start-up, questions left
    // unanswered and messages of Copy As MIDlet, and listing entries that could not be read.
    int Status() const
    {
        return failures_ > startupFailures_ || CliAnswers::Failures() > startupAnswerFailures_ || refused_ > 0 ? 1 : 0;
    }

private:
    int failures_ = 0;   // failures the link reported
    int startupFailures_ = 0;
    int startupAnswerFailures_ = 0;
    int refused_ = 0;   // listing entries that could not be read
    CliSettings settings_;
    TPhoneLink link_;
    ProgressLine progress_;
};

std::string PhonePath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The arguments grouped by folder, in the order each folder first appears.
std::vector<std::pair<std::string, std::vector<std::string>>> ByFolder(const std::vector<PhoneFileArg>& files)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> groups;
    for (const PhoneFileArg& f : files) {
        auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == f.Folder; });
        if (it == groups.end())
            it = groups.insert(groups.end(), {f.Folder, {}});
        it->second.push_back(f.Name);
    }
    return groups;
}

} // namespace

int RunModel(const CliSettings& s)
{
    Session session(s);
    if (!session.Start())
        return 1;
    // No model in the handset's answer (or no answer to AT+CGMM, said already) is a failure.
    if (session.Model.empty() || session.Model == "Extract Err") {
        Complain(session.Model.empty() ? "the phone named no model" : "Extract Err: the phone named no model");
        return 1;
    }
    std::cout << session.Model << "\n";
    return session.Status();
}

int RunList(const CliSettings& s, const std::string& folder, bool json)
{
    Session session(s);
    if (!session.Start() || !session.List(folder))
        return 1;
    const auto& records = session.Link().PhoneRecords();
    if (json) {
        QJsonArray list;
        for (const TFileInfo& r : records)
            list.append(QJsonObject{{"name", QString::fromStdString(ShowableName(r.Name))},
                                    {"type", r.FileType},
                                    {"size", r.Size},
                                    {"date", QString::fromStdString(r.Date)}});
        std::cout << QJsonDocument(QJsonObject{{"folder", QString::fromStdString(folder)}, {"files", list}})
                         .toJson(QJsonDocument::Indented)
                         .toStdString();
    } else {
        std::size_t width = 4;
        for (const TFileInfo& r : records)
            width = std::max(width, PrintableName(r.Name).size());
        for (const TFileInfo& r : records) {
            const std::string name = PrintableName(r.Name);
            const std::string type = std::to_string(r.FileType);
            const std::string size = std::to_string(r.Size);
            std::cout << name << std::string(width - name.size() + 2, ' ') << std::string(type.size() < 5 ? 5 - type.size() : 0, ' ')
                      << type << std::string(size.size() < 10 ? 10 - size.size() : 0, ' ') << size << "  " << r.Date << "\n";
        }
    }
    return session.Status();
}

int RunGet(const CliSettings& s, const std::vector<PhoneFileArg>& files, const std::string& outDir)
{
    Session session(s);
    if (!session.Start())
        return 1;
    CliAnswers::SetQuestion(CliAnswers::Question::Overwrite);
    int status = 0;
    for (const auto& [folder, names] : ByFolder(files)) {
        if (!session.List(folder)) {
            status = 1;
            continue;
        }
        std::vector<TFileInfo> queue;
        for (const std::string& name : names) {
            if (const auto index = session.Find(name)) {
                queue.push_back(session.Link().PhoneRecords()[*index]);
            } else {
                Complain(PhonePath(folder, name) + ": no such file on the phone");
                status = 1;
            }
        }
        const std::vector<LinkResult> outcomes = WaitFor(session.Link().Download(queue, outDir));
        for (std::size_t i = 0; i < outcomes.size(); ++i)
            if (outcomes[i].Failed())
                status = 1;   // the link has said why
            else if (outcomes[i].Ok() && s.Verbose)
                std::cerr << "saved " << PhonePath(folder, PrintableName(queue[i].Name)) << "\n";
    }
    return std::max(status, session.Status());
}

int RunPut(const CliSettings& s, const std::vector<std::string>& paths, const std::string& folder, bool asMelody)
{
    // Files that cannot be opened are named here, before anything goes to the phone; the others
    // are still sent.
    int status = 0;
    std::vector<std::string> readable;
    for (const std::string& path : paths) {
        std::error_code error;
        if (fs::is_regular_file(path, error) && ::access(path.c_str(), R_OK) == 0) {
            readable.push_back(path);
        } else {
            Complain(path + ": cannot open this file");
            status = 1;
        }
    }
    if (readable.empty())
        return status;
    Session session(s);
    if (!session.Start() || !session.List(folder))
        return 1;
    CliAnswers::SetQuestion(CliAnswers::Question::Overwrite);
    TPhoneLink& link = session.Link();
    std::map<std::string, TFileInfo> before;
    for (const TFileInfo& r : link.PhoneRecords())
        before[r.Name] = r;
    // The files whose write went out (a write of an empty file has no prompt, so none is seen).
    std::set<std::string> written;
    QObject::connect(&link, &TPhoneLink::TransferShown, &link, [&](TPhoneCommand kind, const std::string& name, std::int32_t) {
        if (kind == pcFSFW)
            written.insert(name);
    });
    const int failuresBefore = CliAnswers::Failures();
    const TPhoneLink::UploadOutcome sent = WaitFor(link.Upload(readable, asMelody, true));
    if (sent.Ended != LinkError::None) {
        Complain("PC files list creating error.");
        return 1;
    }
    for (const LinkResult& file : sent.Files)
        if (file.Failed())
            status = 1;   // the link has said why
    // Each file is on the handset now with its whole size, unless it was left alone on purpose;
    // a failure the link has not reported is reported here.
    for (const std::string& path : readable) {
        const std::string name = HandsetName(fs::path(path).filename().string(), asMelody);
        std::error_code error;
        const auto size = static_cast<std::int64_t>(fs::file_size(path, error) + (asMelody ? kMelodyHeaderSize : 0));
        const auto& records = link.PhoneRecords();
        const auto it = std::find_if(records.begin(), records.end(), [&](const TFileInfo& r) { return r.Name == name; });
        const bool listed = it != records.end();
        const bool existed = before.count(name) != 0;
        if (listed && it->Size == size && (written.count(name) || !existed || size == 0)) {
            if (s.Verbose)
                std::cerr << "sent " << PhonePath(folder, PrintableName(name)) << "\n";
            continue;
        }
        // Not replaced: the answer (or --skip-existing) said so.
        if (listed && existed && !written.count(name) && before[name] == *it)
            continue;
        status = 1;
        if (CliAnswers::Failures() == failuresBefore)
            Complain(PhonePath(folder, ShowableName(name)) + ": not on the phone after the upload");
    }
    return std::max(status, session.Status());
}

int RunRemove(const CliSettings& s, const std::vector<PhoneFileArg>& files)
{
    Session session(s);
    if (!session.Start())
        return 1;
    CliAnswers::SetQuestion(CliAnswers::Question::Confirm);
    int status = 0;
    TPhoneLink& link = session.Link();
    for (const auto& [folder, names] : ByFolder(files)) {
        if (!session.List(folder)) {
            status = 1;
            continue;
        }
        std::vector<std::size_t> indices;
        for (const std::string& name : names) {
            if (const auto index = session.Find(name))
                indices.push_back(*index);
            else {
                Complain(PhonePath(folder, name) + ": no such file on the phone");
                status = 1;
            }
        }
        // An erase that fails is reported by the link (and counts); a file the terminal's
        // answer kept is no failure.
        for (const LinkResult& erased : WaitFor(link.Delete(indices)))
            if (erased.Failed())
                status = 1;
    }
    return std::max(status, session.Status());
}

int RunBackup(const CliSettings& s, const std::string& dir)
{
    Session session(s);
    if (!session.Start())
        return 1;
    // Asked before a file in DIR that the backup did not write is replaced.
    CliAnswers::SetQuestion(CliAnswers::Question::Overwrite);
    BackupOptions options;
    options.FolderStarted = [&](const std::string& folder) {
        if (s.Verbose) {
            session.Progress().Clear();
            std::cerr << "listing " << folder << "\n";
        }
    };
    options.FileDone = [&](const std::string& path, BackupState state) {
        if (state == BackupState::Unchanged && !s.Verbose)
            return;
        session.Progress().Clear();
        std::cout << BackupStateName(state) << std::string(10 - std::string(BackupStateName(state)).size(), ' ')
                  << PrintableName(path) << std::endl;
    };
    const BackupSummary summary = WaitFor(session.Link().Backup(dir, options));
    for (const std::string& folder : summary.FailedFolders)
        Complain(folder + ": the phone did not list this folder; its files are not backed up");
    if (!summary.Error.empty())
        Complain(summary.Error);
    std::cout << BackupCounts(summary) << "\n";
    return summary.Ok() ? session.Status() : 1;
}

int RunInstallMidlet(const CliSettings& s, const std::string& jad, const std::string& folder)
{
    Session session(s);
    if (!session.Start() || !session.List(folder))
        return 1;
    // The store's question (make the index files anew) and the one before an index file on the
    // PC is replaced are both answered by --yes.
    CliAnswers::SetQuestion(CliAnswers::Question::Confirm);
    const MidletInstall install = WaitFor(InstallMidlet(session.Link(), jad));
    if (!install.Error.empty())
        Complain(CliAnswers::OneLine(install.Error));
    else if (!install.Installed && session.Status() == 0)
        Complain(jad + ": the suite was not installed");
    return install.Installed ? session.Status() : 1;
}

int RunCheck(const CliSettings& s)
{
    PortCheckSettings check;
    check.Port = s.Port;
    check.BaudRate = s.BaudRate;
    check.HwFlow = s.HwFlow;
    check.CheckLineStatus = s.CheckLineStatus;
    check.Reader = AdviceReader::CommandLine;
    return WaitFor(RunPortCheck(check, &std::cout)) ? 0 : 1;
}

int RunPorts()
{
    std::vector<std::string> ports;
    try {
        ListSerialPorts(ports);
    } catch (const EComPort& e) {
        Complain(e.what());
        return 1;
    }
    for (const std::string& port : ports)
        std::cout << port << "\n";
    for (const SerialPorts::StableName& name : SerialPorts::ListStableNames())
        std::cout << name.path << "  (now " << name.device << ")\n";
    return 0;
}

int RunMount(const CliSettings& s, const std::string& mountPoint, bool foreground, const MountOptions& options)
{
    if (!TFuseSession::Available()) {
        Complain("mounting is not available: this tarvel-cli was built without libfuse 3");
        return 1;
    }
    const int started = foreground ? -1 : DetachToBackground();
    Session session(s);
    if (!session.Start()) {
        ReportStarted(started, 1);
        return 1;
    }
    TPhoneLink& link = session.Link();
    TPhoneMount mount(link, options, UnsentFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
    // The next operation after the link was lost reconnects.
    mount.SetReconnect([&link, s] { return link.Connect(s.Port, s.BaudRate, s.CheckLineStatus, s.HwFlow); });
    QObject::connect(&mount, &TPhoneMount::LogLine, &mount, [](const std::string& line) { Complain(line); });
    QObject::connect(&mount, &TPhoneMount::NotUploaded, &mount, [](const std::string& line) { Complain(line); });
    TFuseSession fuse(mount);
    std::string error;
    if (!fuse.Start(mountPoint, s.Port, options, &error)) {
        Complain(error);
        ReportStarted(started, 1);
        return 1;
    }
    ReportStarted(started, 0);
    if (!s.Quiet)
        std::cerr << "The phone is mounted at " << mountPoint << " (\"fusermount3 -u " << mountPoint << "\" unmounts it).\n";

    QEventLoop loop;
    // Unmounted: what is under way ends, files never uploaded are kept, then the program ends.
    QObject::connect(&fuse, &TFuseSession::Ended, &loop, [&] {
        mount.Abandon();
        mount.WhenIdle([&loop] { loop.quit(); });
    });
    // Ctrl+C, SIGTERM: the transfer under way and the uploads waiting land first.
    std::unique_ptr<QSocketNotifier> stop;
    if (const int fd = InstallStopSignals(); fd >= 0) {
        stop = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, &loop, [&, fd] {
            char drained[16];
            while (::read(fd, drained, sizeof drained) > 0) {
            }
            stop->setEnabled(false);
            if (!mount.Idle() && !s.Quiet)
                std::cerr << "Unmounting once the transfers under way are done.\n";
            mount.WhenIdle([&fuse] { fuse.Unmount(); });
        });
    }
    loop.exec();
    fuse.Stop();
    return mount.FailedUploads() > 0 ? 1 : 0;
}
