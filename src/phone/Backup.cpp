#include "phone/Backup.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "phone/PhoneLink.h"
#include "platform/Files.h"
#include "protocol/PhoneTree.h"
#include "protocol/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kManifestHeader = "# tarvel backup 1: size, date, handset path\n";

std::string PhonePath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The PC copy is there with the size the manifest saved for it.
bool CopyIntact(const std::string& target, std::int32_t size)
{
    std::error_code error;
    return fs::is_regular_file(target, error)
        && fs::file_size(target, error) == static_cast<std::uintmax_t>(size) && !error;
}

bool SaveManifest(const std::string& dir, const BackupManifest& manifest)
{
    const std::string text = FormatBackupManifest(manifest);
    return SaveFileReplacing((fs::path(dir) / kBackupManifest).string(),
                             reinterpret_cast<const std::uint8_t*>(text.data()), text.size())
        == SaveResult::Ok;
}

} // namespace

std::string FormatBackupManifest(const BackupManifest& manifest)
{
    std::string text(kManifestHeader);
    for (const auto& [path, record] : manifest)
        text += std::to_string(record.Size) + "\t" + record.Date + "\t" + path + "\n";
    return text;
}

BackupManifest ParseBackupManifest(std::string_view text)
{
    BackupManifest manifest;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        BackupRecord record;
        if (tab2 == std::string_view::npos || !ParseInt32(line.substr(0, tab1), record.Size) || record.Size < 0
            || tab2 + 1 >= line.size() || line[tab2 + 1] != '/')
            continue;
        record.Date = std::string(line.substr(tab1 + 1, tab2 - tab1 - 1));
        manifest[std::string(line.substr(tab2 + 1))] = record;
    }
    return manifest;
}

const char* BackupStateName(BackupState state)
{
    switch (state) {
    case BackupState::New: return "new";
    case BackupState::Changed: return "changed";
    case BackupState::Unchanged: return "unchanged";
    case BackupState::Failed: break;
    }
    return "failed";
}

std::string BackupTarget(const std::string& dir, const std::string& folder, const std::string& name)
{
    return (fs::path(dir) / fs::path(folder).relative_path() / ShowableName(name)).string();
}

bool FetchFile(TPhoneLink& link, const TFileInfo& entry, const std::string& target)
{
    link.WaitReplyDone();   // the records of a command under way are its own until it ends
    if (link.Closing || !link.PhoneOnline)
        return false;
    link.SetBusy(true);   // the end of the read clears it
    link.CurrentFile = entry;
    link.BufPos = 0;
    link.ReadTarget = target;
    link.LastReadSaved = false;
    link.SendFSFR();
    link.WaitReplyDone();
    return link.LastReadSaved;
}

BackupSummary BackupPhone(TPhoneLink& link, const std::string& dir, const BackupOptions& options)
{
    BackupSummary summary;
    link.CancelRequested = false;
    std::error_code error;
    fs::create_directories(dir, error);
    if (error || !fs::is_directory(dir, error)) {
        summary.Error = "Cannot create the folder " + dir + (error ? ": " + error.message() : std::string());
        return summary;
    }
    BackupManifest manifest;
    {
        std::ifstream in(fs::path(dir) / kBackupManifest, std::ios::binary);
        manifest = ParseBackupManifest(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    const std::vector<std::string> folders = options.Folders.empty() ? PhoneTreeFolders() : options.Folders;
    for (const std::string& folder : folders) {
        if (!link.PhoneOnline) {
            summary.Error = "The phone is offline; the backup is not complete.";
            break;
        }
        if (link.CancelRequested || link.Closing) {
            summary.Cancelled = true;
            break;
        }
        if (options.FolderStarted)
            options.FolderStarted(folder);
        link.WaitReplyDone();
        link.SetBusy(true);
        link.LastFinished = pcNone;
        link.ListFolder(folder);
        link.WaitReplyDone();
        if (link.LastFinished != pcFSDL || link.PhoneDir != folder) {
            summary.FailedFolders.push_back(folder);
            continue;
        }
        const std::vector<TFileInfo> records = link.PhoneRecords;
        // The folder's lines are made again from what the handset lists now: files gone from
        // the handset are forgotten (their copies stay on the PC).
        BackupManifest before;
        const std::string prefix = folder == "/" ? "/" : folder + "/";
        for (auto it = manifest.lower_bound(prefix); it != manifest.end() && it->first.starts_with(prefix);) {
            if (it->first.find('/', prefix.size()) == std::string::npos) {
                before.insert(*it);
                it = manifest.erase(it);
            } else {
                ++it;
            }
        }
        fs::create_directories(fs::path(dir) / fs::path(folder).relative_path(), error);
        for (const TFileInfo& entry : records) {
            const std::string path = PhonePath(folder, entry.Name);
            const std::string target = BackupTarget(dir, folder, entry.Name);
            const BackupRecord now{entry.Size, entry.Date};
            const auto known = before.find(path);
            BackupState state = BackupState::New;
            if (known != before.end())
                state = known->second == now && CopyIntact(target, now.Size) ? BackupState::Unchanged
                                                                              : BackupState::Changed;
            if (state != BackupState::Unchanged) {
                if (link.CancelRequested || link.Closing) {
                    summary.Cancelled = true;
                    if (known != before.end())
                        manifest.insert(*known);
                    continue;
                }
                if (!IsPlainFileName(ShowableName(entry.Name)) || !FetchFile(link, entry, target))
                    state = BackupState::Failed;
            }
            if (options.FileDone)
                options.FileDone(path, state);
            switch (state) {
            case BackupState::New: summary.New.push_back(path); break;
            case BackupState::Changed: summary.Changed.push_back(path); break;
            case BackupState::Unchanged: summary.Unchanged.push_back(path); break;
            case BackupState::Failed: summary.Failed.push_back(path); break;
            }
            if (state == BackupState::Failed) {
                if (known != before.end())
                    manifest.insert(*known);   // tried again next time
            } else {
                manifest[path] = now;
            }
        }
        if (!SaveManifest(dir, manifest))
            summary.Error = "Cannot write " + (fs::path(dir) / kBackupManifest).string();
    }
    link.SetBusy(false);
    return summary;
}
