#pragma once
// The commands of tarvel-cli over one link. Each returns the exit status: 0 all done, 1 a file
// or the link failed (each failure on its own line of standard error).
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Answers.h"
#include "serial/CPDrvTypes.h"

struct CliSettings {
    std::string Port;
    std::uint32_t BaudRate = 115200;
    bool CheckLineStatus = false;
    THwFlowControl HwFlow = hfNONERTSON;
    bool Quiet = false;
    bool Verbose = false;
    bool Trace = false;
    CliAnswers::Policy Answers;
};

// A handset file named on the command line: its phone-tree folder and its name.
struct PhoneFileArg {
    std::string Folder;
    std::string Name;
};

int RunModel(const CliSettings& s);
int RunList(const CliSettings& s, const std::string& folder, bool json);
int RunGet(const CliSettings& s, const std::vector<PhoneFileArg>& files, const std::string& outDir);
int RunPut(const CliSettings& s, const std::vector<std::string>& paths, const std::string& folder, bool asMelody);
int RunRemove(const CliSettings& s, const std::vector<PhoneFileArg>& files);
int RunBackup(const CliSettings& s, const std::string& dir);
// Installs the suite of `jad` into the application store in the phone folder `folder`.
int RunInstallMidlet(const CliSettings& s, const std::string& jad, const std::string& folder);
// The port check of `tarvel --check-port`, with these line settings.
int RunCheck(const CliSettings& s);
int RunPorts();
// Serves the whole phone as a folder at `mountPoint` until it is unmounted (fusermount3 -u,
// Ctrl+C, SIGTERM); in the background unless `foreground`. `options`: those of -o, checked.
struct MountOptions;
int RunMount(const CliSettings& s, const std::string& mountPoint, bool foreground, const MountOptions& options);
