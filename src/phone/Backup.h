#pragma once
// Backup of the handset into a PC folder: every folder of the phone tree (protocol/PhoneTree.h)
// into the same folders under the backup folder. Incremental: the backup folder keeps a
// manifest (kBackupManifest) with the handset's size and date of every file it holds; a file
// is fetched again only when the handset lists it with another size or date, or when its copy
// on the PC is missing or no longer has the size saved. Nothing on the PC is ever deleted, and
// a file that fails keeps its old copy (and its old manifest line, so the next run tries again).
// A PC file the manifest does not know (one the backup did not write) is replaced only when the
// overwrite question says so; declined, the handset file fails. Handset names become PC names
// one to one (PcFileName), and no two handset files of one run land on the same PC file.
// Widget-free: the command line and the window both call BackupPhone.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/FileInfo.h"

// The manifest's name inside the backup folder. A file of the handset's root folder with this
// name is kept under another name (BackupTarget).
inline constexpr const char* kBackupManifest = ".tarvel-backup";

// What the manifest knows of one handset file, by its handset path ("/user/sounds/a.mmf").
struct BackupRecord {
    std::int32_t Size = 0;
    std::string Date;   // the handset's date text
    bool operator==(const BackupRecord&) const = default;
};
using BackupManifest = std::map<std::string, BackupRecord>;

// The manifest as text (a header line, then "size<TAB>date<TAB>path" lines, where the date and
// the path have each byte below 32, 127 and "%" written as %XX) and back; lines that are not of
// that form are passed over. A manifest with the header of the first format (or none) holds its
// dates and paths as they are, and is read so.
std::string FormatBackupManifest(const BackupManifest& manifest);
BackupManifest ParseBackupManifest(std::string_view text);

enum class BackupState { New, Changed, Unchanged, Failed };
const char* BackupStateName(BackupState state);   // "new", "changed", "unchanged", "failed"

// What one run did, each by handset path, in the order of the tree and the listings.
struct BackupSummary {
    std::vector<std::string> New, Changed, Unchanged, Failed;
    // Files to fetch that were never tried because the link went offline.
    std::vector<std::string> NotTried;
    // Folders of the tree the handset did not list (no such folder, an error): their files are
    // neither fetched nor forgotten.
    std::vector<std::string> FailedFolders;
    bool Cancelled = false;   // stopped by the link's Cancel (between files)
    // The backup folder could not be made or its manifest not written (then the next run
    // fetches again what this one fetched).
    std::string Error;
    bool Ok() const { return Failed.empty() && NotTried.empty() && FailedFolders.empty() && !Cancelled && Error.empty(); }
};

// "3 new, 1 changed, 12 unchanged, 0 failed", and ", 4 not tried" when there are such.
std::string BackupCounts(const BackupSummary& summary);

struct BackupOptions {
    // The handset folders to back up; empty: every folder of the phone tree.
    std::vector<std::string> Folders;
    // Called as each folder is about to be listed, and as each file has its state (after its
    // fetch, if any).
    std::function<void(const std::string& folder)> FolderStarted;
    std::function<void(const std::string& path, BackupState state)> FileDone;
};

// The PC path of a handset file in the backup folder `dir` ("/user/sounds", "a.mmf" ->
// dir/user/sounds/a.mmf); the handset name as PcFileName gives it, except that the root
// folder's file named as the manifest is kept as "%2Etarvel-backup" (which no other handset name
// gives).
std::string BackupTarget(const std::string& dir, const std::string& folder, const std::string& name);

// The backup itself is TPhoneLink::Backup(dir, options): it runs into `dir` (created when
// missing) over a link that is online: every folder is listed first, then the files to fetch are
// read as one queue of the link (its progress signals; its cancel message is left to whoever
// shows the summary). It clears and honours the link's cancel request. Errors of single files are
// reported by the link and counted in the summary; the overwrite question goes to the link's
// asker (Yes to All answers it for the rest of the run).
