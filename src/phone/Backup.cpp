#include "phone/Backup.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "phone/PhoneLink.h"
#include "platform/Files.h"
#include "protocol/PhoneTree.h"
#include "protocol/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kManifestHeader = "# tarvel backup 2: size, date, handset path (%XX: control bytes, %)\n";
// The first format held dates and paths as they are (a line break or tab in a name broke its line).
constexpr std::string_view kFirstManifestHeader = "# tarvel backup 1:";

// A manifest field with its control bytes and "%" as %XX (PercentDecoded reads it back).
std::string EscapeField(std::string_view field)
{
    return PercentEncoded(field, [](unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; });
}

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
        text += std::to_string(record.Size) + "\t" + EscapeField(record.Date) + "\t" + EscapeField(path) + "\n";
    return text;
}

BackupManifest ParseBackupManifest(std::string_view text)
{
    BackupManifest manifest;
    const bool escaped = text.starts_with(kManifestHeader.substr(0, kFirstManifestHeader.size()));
    const auto field = [escaped](std::string_view f) { return escaped ? PercentDecoded(f) : std::string(f); };
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        BackupRecord record;
        if (tab2 == std::string_view::npos || !ParseInt32(line.substr(0, tab1), record.Size) || record.Size < 0)
            continue;
        std::string path = field(line.substr(tab2 + 1));
        if (!path.starts_with('/'))
            continue;
        record.Date = field(line.substr(tab1 + 1, tab2 - tab1 - 1));
        manifest[std::move(path)] = record;
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

namespace {

// The PC path of a handset file inside the backup folder ("user/sounds/a.mmf").
fs::path PathInBackup(const std::string& folder, const std::string& name)
{
    const std::string pcName = folder == "/" && name == kBackupManifest ? "%2E" + name.substr(1) : PcFileName(name);
    return fs::path(folder).relative_path() / pcName;
}

} // namespace

std::string BackupTarget(const std::string& dir, const std::string& folder, const std::string& name)
{
    return (fs::path(dir) / PathInBackup(folder, name)).string();
}

std::string BackupCounts(const BackupSummary& summary)
{
    return std::to_string(summary.New.size()) + " new, " + std::to_string(summary.Changed.size()) + " changed, "
        + std::to_string(summary.Unchanged.size()) + " unchanged, " + std::to_string(summary.Failed.size())
        + " failed" + (summary.NotTried.empty() ? "" : ", " + std::to_string(summary.NotTried.size()) + " not tried");
}

namespace {

// A folder of the tree as the handset listed it.
struct ListedFolder {
    std::string Folder;
    std::vector<TFileInfo> Records;
};

// What a listed file will be, from the manifest and the copy on the PC, before any fetch.
BackupState StateBeforeFetch(const BackupManifest& manifest, const std::string& dir, const std::string& folder,
                             const TFileInfo& entry)
{
    const auto known = manifest.find(PhonePath(folder, entry.Name));
    if (known == manifest.end())
        return BackupState::New;
    const BackupRecord now{entry.Size, entry.Date};
    return known->second == now && CopyIntact(BackupTarget(dir, folder, entry.Name), now.Size) ? BackupState::Unchanged
                                                                                             : BackupState::Changed;
}

} // namespace

Task<BackupSummary> TPhoneLink::Backup(std::string dir, BackupOptions options)
{
    BackupSummary summary;
    cancelRequested_ = false;
    std::error_code error;
    fs::create_directories(dir, error);
    if (error || !fs::is_directory(dir, error)) {
        summary.Error = "Cannot create the folder " + dir + (error ? ": " + error.message() : std::string());
        co_return summary;
    }
    BackupManifest manifest;
    // No manifest yet (a first run): nothing is known to be there.
    if (std::string text; ReadWholeFile(fs::path(dir) / kBackupManifest, text) == ReadResult::Ok)
        manifest = ParseBackupManifest(text);
    // Whether to stop before the next folder or file (the window closing counts as a cancel).
    bool offline = false;
    const auto stopped = [&] {
        if (cancelRequested_ || closing_)
            summary.Cancelled = true;
        else if (!online_)
            offline = true;
        return summary.Cancelled || offline;
    };

    // The folder each read names is listed (and shown) first: `current`, while known.
    std::string current;
    SetBusy(true);

    // Every folder is listed first, so that the files to fetch and their bytes are known as one
    // queue before the first fetch; a folder with files to fetch is listed again before them.
    std::vector<ListedFolder> listed;
    std::size_t files = 0;
    std::int64_t bytes = 0;
    const std::vector<std::string> folders = options.Folders.empty() ? PhoneTreeFolders() : options.Folders;
    for (const std::string& folder : folders) {
        if (stopped())
            break;
        if (options.FolderStarted)
            options.FolderStarted(folder);
        const LinkResult result = co_await ListFolder(folder);
        current = result.Ok() && phoneDir_ == folder ? folder : std::string();
        if (current.empty()) {
            summary.FailedFolders.push_back(folder);
            continue;
        }
        listed.push_back({folder, phoneRecords_});
        for (const TFileInfo& entry : phoneRecords_)
            if (StateBeforeFetch(manifest, dir, folder, entry) != BackupState::Unchanged) {
                ++files;
                bytes += std::max<std::int32_t>(entry.Size, 0);
            }
    }
    // A listing that stopped leaves nothing to fetch; the folders listed are still counted.
    const bool queued = files > 0 && !stopped();
    if (queued)
        BeginQueue(pcFSFR, files, bytes, "backed up");

    bool yesToAll = false;
    // The PC files this run has written or found current, by their names in lower case: a
    // handset file that would land on one of them (through a folder that is a link to another,
    // or on a file system that ignores case) fails rather than replacing it.
    std::multimap<std::string, std::string> claimed;
    const auto key = [](const std::string& target) {
        std::string name = fs::path(target).filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        return name;
    };
    const auto claim = [&](const std::string& target) { claimed.emplace(key(target), target); };
    claim((fs::path(dir) / kBackupManifest).string());
    const auto claimedBefore = [&](const std::string& target) {
        std::error_code e;
        if (!fs::exists(target, e))
            return false;
        const auto [from, to] = claimed.equal_range(key(target));
        return std::any_of(from, to, [&](const auto& c) { return c.second == target || fs::equivalent(c.second, target, e); });
    };

    for (const auto& [folder, records] : listed) {
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
        // Listed again (at most once) when a file of it is to be fetched; not listed: its
        // files to fetch fail.
        bool relisted = false, here = current == folder;
        for (const TFileInfo& entry : records) {
            const std::string path = PhonePath(folder, entry.Name);
            const std::string target = BackupTarget(dir, folder, entry.Name);
            const auto known = before.find(path);
            BackupState state = StateBeforeFetch(before, dir, folder, entry);
            if (state != BackupState::Unchanged) {
                // A cancel or the link going offline during the listing stops before the fetch.
                if (!stopped() && !here && !relisted) {
                    relisted = true;
                    if (options.FolderStarted)
                        options.FolderStarted(folder);
                    const LinkResult result = co_await ListFolder(folder);
                    here = result.Ok() && phoneDir_ == folder;
                    current = here ? folder : std::string();
                }
                if (stopped()) {
                    if (known != before.end())
                        manifest.insert(*known);
                    if (offline)
                        summary.NotTried.push_back(path);
                    continue;
                }
                const std::int64_t size = std::max<std::int32_t>(entry.Size, 0);
                const std::string pcName = PathInBackup(folder, entry.Name).generic_string();
                if (!here || !IsPlainFileName(PcFileName(entry.Name))) {
                    state = BackupState::Failed;
                } else if (claimedBefore(target)) {
                    LinkResult clash = Result(LinkError::SameTarget);
                    clash.Name = pcName;
                    Report(clash);
                    state = BackupState::Failed;
                } else if (known == before.end() && !yesToAll && fs::exists(target, error)) {
                    // Not written by the backup: replaced only with the user's consent.
                    const Prompts::Answer answer = co_await Ask(Prompts::Kind::YesNoYesToAll, Prompts::OverwriteQuestion(pcName));
                    yesToAll = answer == Prompts::Answer::YesToAll;
                    if (answer != Prompts::Answer::Yes && !yesToAll)
                        state = BackupState::Failed;
                }
                if (state == BackupState::Failed) {
                    QueueFileOver(size, false, false);
                } else {
                    QueueFileStarts();
                    const LinkResult fetched = co_await Fetch(folder, entry, target);
                    if (!fetched.Ok())
                        state = BackupState::Failed;
                    QueueFileOver(size, state != BackupState::Failed, true);
                }
            }
            if (state != BackupState::Failed)
                claim(target);
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
                manifest[path] = BackupRecord{entry.Size, entry.Date};
            }
        }
        if (!SaveManifest(dir, manifest))
            summary.Error = "Cannot write " + (fs::path(dir) / kBackupManifest).string();
    }
    if (offline)
        summary.Error = "The phone is offline; the backup is not complete.";
    // The summary tells of a cancel; the queue's own message would say it twice.
    if (queued)
        EndQueue(false);
    SetBusy(false);
    co_return summary;
}
