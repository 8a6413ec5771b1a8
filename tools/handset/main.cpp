// tarvel-handset: a handset on a pseudo-terminal, serving a folder of this computer as the
// handset's file system. Prints the device path on its first line of output, then serves until
// SIGINT or SIGTERM.
#include "VirtualHandset.h"
#include "TarvelVersion.h"
#include "protocol/PhoneTree.h"
#include "platform/Files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

const char kUsage[] =
    "usage: tarvel-handset --root DIR [options]\n"
    "Serves DIR as the file system of a handset on a new pseudo-terminal and prints the\n"
    "terminal's path. Point Tarvel's PORT setting at that path (or at --link).\n"
    "\n"
    "  --root DIR             the folder served as the handset's \"/\" (required)\n"
    "  --link PATH            also make PATH a symbolic link to the terminal (removed on exit)\n"
    "  --create-tree          create the handset's standard folders under DIR\n"
    "  --model TEXT           the model name the handset reports (default \"TV-1 Virtual\")\n"
    "  --rate BYTES_PER_S     pace the line both ways to a rate (11520 is 115200 bit/s)\n"
    "  --piece N              with --rate: send in pieces of N bytes (default: 20 ms of the line)\n"
    "  --trace                show every byte both ways on standard error\n"
    "  --version              print the version and end\n"
    "  --replay TRACE         play the handset's side of a trace (Tarvel's --trace or this\n"
    "                         program's): each time the PC has sent what the trace has, send\n"
    "                         what the handset sent then, split as recorded (--root not needed)\n"
    "  --read-block N         data bytes per read block (1 to 4073, default 2048)\n"
    "  --entries-per-block N  listing entries per block (default 8)\n"
    "faults, for trying a PC program's error handling:\n"
    "  --no-echo              do not echo commands\n"
    "  --echo-cr-only         echo a CR LF command with its CR only\n"
    "  --wrong-echo           echo something else than the command\n"
    "  --silent-after N       answer N commands, then nothing\n"
    "  --silent-on CMD        answer nothing to commands starting with CMD (e.g. +FSDL)\n"
    "  --cme-on CMD           answer \"+CME ERROR: 4\" to commands starting with CMD\n"
    "  --cme-after-blocks N   ... after N blocks of the answer\n"
    "  --error-on CMD         answer a plain \"ERROR\" to commands starting with CMD\n"
    "  --urc LINE             send the unsolicited line LINE (e.g. RING) at the moments of --urc-at\n"
    "  --urc-at WHEN,...      before-echo, between-blocks, with-final (behind the final reply)\n"
    "                         and after-final (once the PC has read it); default after-final\n"
    "  --corrupt-read         damage one data byte of every read\n"
    "  --size-delta N         add N to the size a read announces\n"
    "  --short-block          the first data block of a read lacks its last byte\n"
    "  --lead-in N            line-break bytes before each read data block (default 2)\n"
    "  --zero-padded          zero-padded numbers in read data blocks (default: blanks)\n"
    "  --split N              write replies in pieces of N bytes\n"
    "  --split-pause MS       pause between pieces\n";

bool ToInt(const char* text, int& out)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < -1000000000L || v > 1000000000L)
        return false;
    out = static_cast<int>(v);
    return true;
}

// "before-echo,with-final": the moments at which the unsolicited line is sent.
bool UnsolicitedMoments(const std::string& list, HandsetOptions& o)
{
    o.UnsolicitedBeforeEcho = o.UnsolicitedBetweenBlocks = o.UnsolicitedWithFinal = o.UnsolicitedAfterFinal = false;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = list.find(',', from);
        const std::string moment = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (moment == "before-echo")
            o.UnsolicitedBeforeEcho = true;
        else if (moment == "between-blocks")
            o.UnsolicitedBetweenBlocks = true;
        else if (moment == "with-final")
            o.UnsolicitedWithFinal = true;
        else if (moment == "after-final")
            o.UnsolicitedAfterFinal = true;
        else
            return false;
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

int Usage(const std::string& problem)
{
    std::cerr << "tarvel-handset: " << problem << "\n\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    HandsetOptions o;
    std::string link;
    std::string replay;
    bool createTree = false;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        // A value never starts with "--": that is the next option, the value is missing.
        auto value = [&](const char*& out) {
            if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0)
                return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](int& out) {
            const char* v = nullptr;
            return value(v) && ToInt(v, out);
        };
        const char* v = nullptr;
        bool ok = true;
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "tarvel-handset " << kTarvelVersion << "\n";
            return 0;
        } else if (a == "--root") {
            ok = value(v);
            if (ok)
                o.Root = v;
        } else if (a == "--link") {
            ok = value(v);
            if (ok)
                link = v;
        } else if (a == "--replay") {
            ok = value(v);
            if (ok)
                replay = v;
        } else if (a == "--model") {
            ok = value(v);
            if (ok)
                o.Model = v;
        } else if (a == "--silent-on") {
            ok = value(v);
            if (ok)
                o.SilentOn = v;
        } else if (a == "--cme-on") {
            ok = value(v);
            if (ok)
                o.CmeErrorOn = v;
        } else if (a == "--error-on") {
            ok = value(v);
            if (ok)
                o.ErrorOn = v;
        } else if (a == "--urc") {
            ok = value(v);
            if (ok)
                o.Unsolicited = v;
        } else if (a == "--urc-at") {
            ok = value(v) && UnsolicitedMoments(v, o);
        } else if (a == "--rate")
            ok = number(o.LineRate);
        else if (a == "--piece")
            ok = number(o.LinePiece) && o.LinePiece > 0;
        else if (a == "--read-block")
            ok = number(o.ReadBlockSize);
        else if (a == "--entries-per-block")
            ok = number(o.EntriesPerBlock);
        else if (a == "--silent-after")
            ok = number(o.SilentAfter);
        else if (a == "--cme-after-blocks")
            ok = number(o.CmeErrorAfterBlocks);
        else if (a == "--size-delta")
            ok = number(o.AnnouncedSizeDelta);
        else if (a == "--lead-in")
            ok = number(o.LeadInBreaks);
        else if (a == "--split")
            ok = number(o.SplitWrites);
        else if (a == "--split-pause")
            ok = number(o.SplitPauseMs);
        else if (a == "--trace")
            o.Trace = true;
        else if (a == "--create-tree")
            createTree = true;
        else if (a == "--no-echo")
            o.Echo = false;
        else if (a == "--echo-cr-only")
            o.EchoCrOnly = true;
        else if (a == "--wrong-echo")
            o.WrongEcho = true;
        else if (a == "--corrupt-read")
            o.CorruptReadByte = true;
        else if (a == "--short-block")
            o.ShortBlock = true;
        else if (a == "--zero-padded")
            o.BlanksInLength = false;
        else
            return Usage("unknown option " + a);
        if (!ok)
            return Usage("missing or bad value for " + a);
    }
    if (!replay.empty()) {
        std::string text;
        const bool read = ReadWholeFile(replay, text) == ReadResult::Ok;
        o.Replay = WireTrace::ParseTrace(text);
        if (!read || o.Replay.empty()) {
            std::cerr << "tarvel-handset: " << replay << " holds no trace records\n";
            return 1;
        }
        if (o.Root.empty())
            o.Root = ".";
    }
    if (o.Root.empty())
        return Usage("--root is required");
    if (!o.Unsolicited.empty() && !o.UnsolicitedBeforeEcho && !o.UnsolicitedBetweenBlocks && !o.UnsolicitedWithFinal)
        o.UnsolicitedAfterFinal = true;

    std::error_code ec;
    if (createTree)
        for (const std::string& folder : PhoneTreeFolders())
            std::filesystem::create_directories(std::filesystem::path(o.Root) / folder.substr(1), ec);

    VirtualHandset handset(o);
    std::string error;
    if (!handset.Open(&error)) {
        std::cerr << "tarvel-handset: " << error << "\n";
        return 1;
    }

    if (!link.empty()) {
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::cerr << "tarvel-handset: " << link << " exists and is not a link\n";
                return 1;
            }
            ::unlink(link.c_str());
        }
        if (::symlink(handset.SlavePath().c_str(), link.c_str()) != 0) {
            std::cerr << "tarvel-handset: cannot link " << link << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    std::cout << handset.SlavePath() << std::endl;
    std::cerr << "tarvel-handset: serving " << o.Root << " on " << handset.SlavePath()
              << (link.empty() ? "" : " (" + link + ")") << "; Ctrl+C ends\n";

    handset.Serve(g_stop);

    if (!link.empty()) {
        char target[512];
        ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == handset.SlavePath())
            ::unlink(link.c_str());
    }
    return 0;
}
