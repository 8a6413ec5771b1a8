#pragma once
// The rules of the phone folder, as pure functions: which names the handset takes, which files
// stay on the PC, what a link result means to the program that called, where unsent files go,
// the mount's own options and the handset's dates.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "phone/LinkResult.h"

// The errno a file operation returns for what the link made of it (0 when done). The handset
// saying it has no room ("+CME ERROR: 20", memory full) is ENOSPC; every other failure is EIO.
int ErrnoFor(const LinkResult& result);

// Whether the handset takes `name` (a name in the mounted folder, as PcFileName shows handset
// names) for a new file: 0, ENAMETOOLONG (the handset would have to shorten it) or EINVAL
// (characters that cannot go on the wire, or a name that is not UTF-8).
int CheckNewName(std::string_view name);

// Names that editors and copy tools give their temporary files, which stay on the PC and never
// reach the handset themselves: ".goutputstream-XXXXXX", rsync's ".NAME.XXXXXX", backups
// ending in "~", swap files ("*.swp", "*.swo", "*.swx") and the probe file "4913".
bool IsLocalOnlyName(std::string_view name);

// The folder for files whose upload failed: $XDG_STATE_HOME/tarvel/unsent, or
// HOME/.local/state/tarvel/unsent (either may be null or empty; a relative XDG_STATE_HOME is
// ignored, as the base-directory rules say). Empty when neither is usable.
std::string UnsentFolder(const char* xdgStateHome, const char* home);

// A handset date ("2024/03/05 14:07", local time) as seconds since the epoch; nothing when it
// cannot be read.
std::optional<std::int64_t> HandsetDateSeconds(std::string_view date);

// The options of `-o` (comma-separated): the mount's own ones are taken out, the rest are
// passed on to the kernel side. auto_unmount is on unless noauto_unmount is given.
struct MountOptions {
    int RelistSeconds = 5;        // relist=N: a folder opened after its listing is this old is listed again
    int NegativeSeconds = 2;      // negative_timeout=N: how long a name found absent stays absent
    bool AutoUnmount = true;
    std::vector<std::string> Passed;   // for libfuse, in order
    std::string Error;                 // not empty: the options cannot be used (what is wrong)
};
MountOptions ParseMountOptions(std::string_view text);
