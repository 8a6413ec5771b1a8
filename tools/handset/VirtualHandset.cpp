#include "VirtualHandset.h"

#include "HandsetWire.h"
#include "LinePacer.h"
#include "platform/Files.h"
#include "protocol/CRC.h"
#include "protocol/WireTrace.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Thrown inside the serving loop when it is asked to stop; caught by Serve.
struct StopServing {};

constexpr std::string_view kFinal = "\r\nOK\r\n";
constexpr std::string_view kAck = "##>\r\n";
constexpr std::string_view kPrompt = "\r\n##>\r\n";
constexpr std::string_view kStrayBlock = "\r\n#OK#\r\n";
constexpr std::string_view kUnknown = "\r\nERROR\r\n";   // what a handset answers to a command it lacks
constexpr std::size_t kWriteBlock = 512;
constexpr int kMaxReadBlock = 4073;          // what fits a 4096-byte receive buffer
constexpr std::int64_t kCapacity = 64 << 20; // the largest file the handset takes
constexpr int kLineFeedWaitMs = 200;         // for the LF behind the CR of a command with arguments
constexpr int kWriteIdleMs = 3000;           // a write whose data stop coming is given up
constexpr std::size_t kMaxLine = 64 * 1024;  // a line longer than this is noise
constexpr std::size_t kMaxLog = 8 << 20;     // bytes of Received() kept (the latest)
constexpr std::size_t kMaxCommands = 100000; // lines of Commands() kept (the latest)

// CME error codes.
constexpr int kNotFound = 4;
constexpr int kBadCrc = 5;
constexpr int kCannotStore = 20;
constexpr int kBadArgument = 50;

std::mutex g_traceMutex;

// A line of the wire trace, or a remark between them, on standard error.
void TraceOut(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Trace(WireTrace::Side from, std::string_view bytes)
{
    TraceOut(WireTrace::FormatLine(std::chrono::system_clock::now(), from, bytes));
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// True when the command text starts with `prefix` (compared without regard to case), also
// when the prefix leaves out the leading "AT" ("+FSDL" matches AT+FSDL=...).
bool Matches(std::string_view cmd, std::string_view prefix)
{
    if (prefix.empty())
        return false;
    auto startsWith = [](std::string_view s, std::string_view p) {
        if (s.size() < p.size())
            return false;
        for (std::size_t i = 0; i < p.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(s[i])) !=
                std::toupper(static_cast<unsigned char>(p[i])))
                return false;
        return true;
    };
    return startsWith(cmd, prefix) || (startsWith(cmd, "AT") && startsWith(cmd.substr(2), prefix));
}

std::time_t ModTime(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

} // namespace

struct VirtualHandset::Impl {
    // Shared with other threads, under `mu`.
    mutable std::mutex mu;
    HandsetOptions opt;
    std::string received;
    std::vector<std::string> commands;

    int master = -1;
    int slave = -1;
    int wakeRead = -1;
    int wakeWrite = -1;

    const std::atomic<bool>* stop = nullptr;
    std::atomic<bool> vanish{false};
    std::mutex serveMu;
    std::condition_variable serveCv;
    bool serving = false;

    // State of the serving thread.
    std::string in;             // received and not yet consumed
    std::string out;            // the reply being put together
    fs::path folderDir;         // the folder listed last (where reads, writes and erases act)
    HandsetOptions cur;         // the options in force for the command at hand
    int commandCount = 0;
    int blocksSent = 0;         // blocks and prompts of the command at hand
    bool cmeArmed = false;
    handset::LinePacer toPc;    // the paced line, each way
    handset::LinePacer fromPc;
    int violations = 0;         // faults of the PC's side of the protocol (under `mu`)
    bool strayTaken = false;    // a stray reply taken up and not yet read by the PC (under `mu`)
    std::atomic<bool> releaseStray{false};
    std::string heldStray;      // the stray reply held back (HoldStray)
    std::atomic<bool> awaitingPc{false};   // waiting for a command line or an acknowledgement,
                                           // with nothing received

    explicit Impl(HandsetOptions o) : opt(std::move(o)) {}

    void Wake()
    {
        if (wakeWrite >= 0) {
            char b = 1;
            [[maybe_unused]] ssize_t n = ::write(wakeWrite, &b, 1);
        }
    }

    void CheckStop() const
    {
        if ((stop && stop->load()) || vanish.load())
            throw StopServing{};
    }

    void DrainWake()
    {
        char buf[64];
        while (::read(wakeRead, buf, sizeof buf) > 0) {
        }
    }

    bool TraceOn() const
    {
        std::lock_guard<std::mutex> lock(mu);
        return opt.Trace;
    }

    // Waits up to timeoutMs for bytes from the PC and appends them to `in`. True when some came.
    bool Fill(int timeoutMs)
    {
        CheckStop();
        pollfd fds[2] = {{master, POLLIN, 0}, {wakeRead, POLLIN, 0}};
        int r = ::poll(fds, 2, timeoutMs);
        if (r < 0) {
            CheckStop();
            return false;
        }
        if (fds[1].revents)
            DrainWake();
        CheckStop();
        if (!(fds[0].revents & POLLIN)) {
            if (fds[0].revents & (POLLHUP | POLLERR))
                Sleep(timeoutMs); // nothing to read until the other end is back
            return false;
        }
        char buf[4096];
        awaitingPc = false;   // before the bytes leave the line (see Idle)
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            return false;
        std::string_view got(buf, static_cast<std::size_t>(n));
        bool trace;
        int rate;
        {
            std::lock_guard<std::mutex> lock(mu);
            received.append(got);
            if (received.size() > kMaxLog)
                received.erase(0, received.size() - kMaxLog / 2);
            trace = opt.Trace;
            rate = opt.LineRate;
        }
        if (trace)
            Trace(WireTrace::Side::Pc, got);
        // On a paced line the bytes are here once the line has carried them.
        fromPc.SetRate(rate);
        SleepUntil(fromPc.Carry(got.size(), Clock::now()));
        in.append(got);
        return true;
    }

    // Sleeps, waking early only to stop.
    void Sleep(int ms) { SleepUntil(Clock::now() + std::chrono::milliseconds(ms)); }

    void SleepUntil(Clock::time_point until)
    {
        for (;;) {
            CheckStop();
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count();
            if (left <= 0)
                return;
            const long long ns = std::min<long long>(left, 100000000);   // looks at `stop` 10 times a second
            const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            pollfd fd{wakeRead, POLLIN, 0};
            if (::ppoll(&fd, 1, &wait, nullptr) > 0)
                DrainWake();
        }
    }

    void NoteViolation(const std::string& what)
    {
        {
            std::lock_guard<std::mutex> lock(mu);
            ++violations;
        }
        TraceOut("handset: protocol violation: " + WireTrace::Escape(what) + "\n");
    }

    void WriteRaw(std::string_view bytes)
    {
        if (bytes.empty())
            return;
        if (TraceOn())
            Trace(WireTrace::Side::Handset, bytes);
        while (!bytes.empty()) {
            CheckStop();
            ssize_t n = ::write(master, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return; // the pty is gone
            pollfd fds[2] = {{master, POLLOUT, 0}, {wakeRead, POLLIN, 0}};
            if (::poll(fds, 2, 100) > 0 && fds[1].revents)
                DrainWake();
        }
    }

    // Writes at the line rate when one is set: each piece reaches the PC once the line has
    // carried all of it, so nothing arrives before its time.
    void Paced(std::string_view bytes)
    {
        toPc.SetRate(cur.LineRate);
        toPc.SetPiece(cur.LinePiece > 0 ? static_cast<std::size_t>(cur.LinePiece) : 0);
        if (!toPc.Paced()) {
            WriteRaw(bytes);
            return;
        }
        for (bool first = true; !bytes.empty(); first = false) {
            std::string_view piece = bytes.substr(0, toPc.Piece());
            SleepUntil(first ? toPc.Carry(piece.size(), Clock::now()) : toPc.CarryOn(piece.size()));
            WriteRaw(piece);
            bytes.remove_prefix(piece.size());
        }
    }

    // Waits until the PC has taken everything from the line (bounded: the port may be closed).
    void WaitDrained(int maxMs)
    {
        Sleep(20);
        auto until = Clock::now() + std::chrono::milliseconds(maxMs);
        while (Clock::now() < until) {
            int pending = 0;
            if (::ioctl(slave, FIONREAD, &pending) != 0 || pending == 0)
                return;
            Sleep(10);
        }
    }

    void Flush()
    {
        if (out.empty())
            return;
        std::string data;
        data.swap(out);
        const std::size_t piece =
            cur.SplitWrites > 0 ? static_cast<std::size_t>(cur.SplitWrites) : data.size();
        for (std::size_t pos = 0; pos < data.size(); pos += piece) {
            if (pos > 0) {
                WaitDrained(1000);
                Sleep(cur.SplitPauseMs);
            }
            Paced(std::string_view(data).substr(pos, piece));
        }
    }

    // The next command line, terminator included: up to a CR, with the LF that follows it.
    std::string TakeLine()
    {
        for (;;) {
            std::size_t cr = in.find('\r');
            if (cr != std::string::npos) {
                std::size_t end = cr + 1;
                if (end == in.size() && in.find('=') < cr)
                    Fill(kLineFeedWaitMs); // a command with arguments ends with CR LF
                if (end < in.size() && in[end] == '\n')
                    ++end;
                std::string line = in.substr(0, end);
                in.erase(0, end);
                return line;
            }
            if (in.size() > kMaxLine)
                in.clear();
            if (releaseStray)
                SendHeldStray();
            awaitingPc = in.empty() && heldStray.empty();
            Fill(100);
            awaitingPc = false;
        }
    }

    // True once the PC has acknowledged a block with exactly "##>\r\n". Anything else means the
    // PC has given up the command: the bytes stay for the next command line.
    bool WaitAck()
    {
        for (;;) {
            std::size_t n = std::min(in.size(), kAck.size());
            if (in.compare(0, n, kAck.data(), n) != 0)
                return false;
            if (n == kAck.size()) {
                in.erase(0, n);
                return true;
            }
            awaitingPc = in.empty();
            Fill(100);
            awaitingPc = false;
        }
    }

    // Exactly `count` raw bytes of a write; false when they stop coming.
    bool ReadExact(std::size_t count, std::string& data)
    {
        auto last = Clock::now();
        while (in.size() < count) {
            if (Fill(100))
                last = Clock::now();
            else if (Clock::now() - last > std::chrono::milliseconds(kWriteIdleMs))
                return false;
        }
        data = in.substr(0, count);
        in.erase(0, count);
        return true;
    }

    void SendError(int code)
    {
        out += "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
        Flush();
    }

    // The injected "+CME ERROR", when its time has come (before a block, a prompt or the final).
    bool CmeDue()
    {
        if (!cmeArmed || blocksSent < std::max(0, cur.CmeErrorAfterBlocks))
            return false;
        SendError(kNotFound);
        return true;
    }

    // The unsolicited line, framed as a handset sends it.
    void Unsolicited(bool due)
    {
        if (due && !cur.Unsolicited.empty())
            out += "\r\n" + cur.Unsolicited + "\r\n";
    }

    bool SendBlock(std::string_view block)
    {
        Unsolicited(cur.UnsolicitedBetweenBlocks && blocksSent > 0);
        out += block;
        Flush();
        ++blocksSent;
        return WaitAck();
    }

    void SendFinal()
    {
        if (CmeDue())
            return;
        // The stray reply is taken before the final one goes out: once the PC has the final
        // reply it may change the options for its next command, and that change must not reach
        // back to this one.
        std::string stray;
        bool hold;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (opt.UnsolicitedBlock)
                stray += kStrayBlock;
            if (opt.UnsolicitedPrompt)
                stray += kPrompt;
            hold = opt.HoldStray;
            opt.UnsolicitedBlock = opt.UnsolicitedPrompt = false;
            strayTaken = !stray.empty();
        }
        Unsolicited(cur.UnsolicitedBetweenBlocks && blocksSent > 0);
        out += kFinal;
        Unsolicited(cur.UnsolicitedWithFinal);
        Flush();
        if (cur.UnsolicitedAfterFinal && !cur.Unsolicited.empty()) {
            WaitDrained(2000);
            Unsolicited(true);
            Flush();
        }
        if (hold)
            heldStray = stray;
        else
            SendStray(stray);
    }

    // A stray reply reaches the PC on its own, neither glued to the final reply before it nor
    // to what follows; a block and a prompt each in a write of their own.
    void SendStray(std::string_view stray)
    {
        if (stray.empty())
            return;
        while (!stray.empty()) {
            const std::size_t piece = stray.starts_with(kStrayBlock) ? kStrayBlock.size() : kPrompt.size();
            WaitDrained(2000);
            out += stray.substr(0, piece);
            Flush();
            stray.remove_prefix(std::min(piece, stray.size()));
        }
        WaitDrained(10000);
        std::lock_guard<std::mutex> lock(mu);
        strayTaken = false;
    }

    // The held stray reply, when the next command line has come or the test lets it go.
    void SendHeldStray()
    {
        releaseStray = false;
        std::string stray;
        stray.swap(heldStray);
        SendStray(stray);
    }

    void Echo(const std::string& line)
    {
        if (!cur.Echo)
            return;
        std::size_t body = line.find('\r');
        std::string echo = line;
        if (cur.WrongEcho)
            echo = "AT+WRONG" + line.substr(body == std::string::npos ? line.size() : body);
        if (cur.EchoCrOnly && echo.size() >= 2 && echo.compare(echo.size() - 2, 2, "\r\n") == 0)
            echo.pop_back();
        out += echo;
    }

    // Plays the handset's side of a recorded trace: the bytes the PC sent are taken in the
    // order recorded, and once the PC has sent all of one record the handset's records that
    // follow it go out, one write each, as they were split in the trace. When the PC sends
    // something else than the trace has, the handset says so and answers nothing more. Played
    // to its end, the trace begins again (for the PC's next session).
    void Replay(const std::vector<WireTrace::Record>& trace)
    {
        std::size_t next = 0;
        bool lost = false;
        for (;;) {
            if (next == trace.size() && trace.front().from == WireTrace::Side::Pc)
                next = 0;
            for (bool first = true; !lost && next < trace.size() && trace[next].from == WireTrace::Side::Handset;
                 ++next, first = false) {
                if (!first)
                    WaitDrained(1000);   // each record reaches the PC on its own
                WriteRaw(trace[next].bytes);
            }
            if (lost || next == trace.size()) {
                Fill(100);
                in.clear();
                continue;
            }
            const std::string& want = trace[next].bytes;
            while (in.size() < want.size() && want.compare(0, in.size(), in) == 0)
                Fill(100);
            if (in.compare(0, want.size(), want) != 0) {
                TraceOut("handset: replay: the PC sent " + WireTrace::Escape(in.substr(0, want.size()))
                         + " where the trace has " + WireTrace::Escape(want) + "; answering nothing more\n");
                lost = true;
                continue;
            }
            in.erase(0, want.size());
            ++next;
        }
    }

    void ServeOne()
    {
        std::string line = TakeLine();
        std::string_view cmd = handset::TrimLine(line);
        if (cmd.empty() || cmd == "##>")
            return; // blank lines and acknowledgements of stray blocks are not commands
        if (!heldStray.empty())
            SendHeldStray();
        {
            std::lock_guard<std::mutex> lock(mu);
            if (commands.size() >= kMaxCommands)
                commands.erase(commands.begin(), commands.begin() + kMaxCommands / 2);
            commands.push_back(line);
            cur = opt;
        }
        ++commandCount;
        if (cur.SilentAfter >= 0 && commandCount > cur.SilentAfter)
            return;
        if (Matches(cmd, cur.SilentOn))
            return;
        Unsolicited(cur.UnsolicitedBeforeEcho);
        Echo(line);
        blocksSent = 0;
        cmeArmed = Matches(cmd, cur.CmeErrorOn);
        if (CmeDue())
            return;
        if (Matches(cmd, cur.ErrorOn)) {
            out += kUnknown;
            Flush();
            return;
        }

        handset::CommandLine c = handset::SplitCommand(line);
        if (!c.hasArgs && (c.verb == "ATZ" || c.verb == "AT"))
            SendFinal();
        else if (!c.hasArgs && c.verb == "AT+CGMM")
            DoModel();
        else if (!c.hasArgs && c.verb == "AT+FSIF")
            DoInfo();
        else if (c.hasArgs && c.verb == "AT+FSDL")
            DoList(c.args);
        else if (c.hasArgs && c.verb == "AT+FSFR")
            DoRead(c.args);
        else if (c.hasArgs && c.verb == "AT+FSFW")
            DoWrite(c.args);
        else if (c.hasArgs && c.verb == "AT+FSFE")
            DoErase(c.args);
        else {
            out += kUnknown;
            Flush();
        }
    }

    // An empty model name gives a bare "OK" (a handset that does not tell its model).
    void DoModel()
    {
        if (!cur.Model.empty())
            out += "\r\n" + cur.Model + "\r\n";
        SendFinal();
    }

    // "+FSIF: <capacity>,<free>": the served files count as used, the rest of the capacity
    // (bounded by the PC's free space) as free.
    void DoInfo()
    {
        std::int64_t used = 0;
        std::error_code ec;
        int seen = 0; // a big folder tree is counted only in part
        for (auto it = fs::recursive_directory_iterator(cur.Root, ec);
             !ec && it != fs::recursive_directory_iterator() && ++seen <= 20000;
             it.increment(ec)) {
            std::error_code e2;
            if (it->is_regular_file(e2))
                used += static_cast<std::int64_t>(it->file_size(e2));
        }
        std::int64_t free = std::max<std::int64_t>(0, kCapacity - used);
        struct statvfs sv {};
        if (::statvfs(cur.Root.c_str(), &sv) == 0)
            free = std::min<std::int64_t>(free, static_cast<std::int64_t>(sv.f_bavail) *
                                                    static_cast<std::int64_t>(sv.f_frsize));
        out += "\r\n+FSIF: " + std::to_string(used + free) + "," + std::to_string(free) + "\r\n";
        SendFinal();
    }

    void DoList(const std::string& args)
    {
        std::string path;
        std::vector<std::string> parts;
        if (!handset::ParseFolderArg(args, path) || !handset::SplitFolderPath(path, parts)) {
            SendError(kBadArgument);
            return;
        }
        fs::path dir = cur.Root;
        for (const std::string& p : parts)
            dir /= p;
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) {
            SendError(kNotFound);
            return;
        }
        std::vector<std::string> names;
        for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            std::error_code e2;
            // Hidden files (our own half-written files among them) and names that cannot
            // travel in quotes are not shown.
            if (name.empty() || name.front() == '.' || !handset::IsPlainName(name) ||
                (cur.CodedNames && handset::DecodeDiskName(name).find_first_of("\"\r") != std::string::npos) ||
                !it->is_regular_file(e2))
                continue;
            names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        folderDir = dir;

        const std::size_t perBlock = static_cast<std::size_t>(std::max(1, cur.EntriesPerBlock));
        std::string finalEntries;
        for (std::size_t i = 0; i < names.size(); i += perBlock) {
            std::string block;
            for (std::size_t k = i; k < std::min(names.size(), i + perBlock); ++k) {
                fs::path file = dir / names[k];
                std::error_code e2;
                auto size = static_cast<std::int64_t>(fs::file_size(file, e2));
                if (e2)
                    size = 0;
                const std::string shown = cur.CodedNames ? handset::DecodeDiskName(names[k]) : names[k];
                block += handset::DirEntryLine(shown, handset::TypeCodeFor(shown), size,
                                               handset::FormatDate(ModTime(file)));
            }
            if (cur.EntriesInFinal && i + perBlock >= names.size()) {
                finalEntries = block;
                break;
            }
            block += "#OK#\r\n";
            if (CmeDue() || !SendBlock(block))
                return;
        }
        out += finalEntries;
        SendFinal();
    }

    bool FileArg(const std::string& args, std::string& name, fs::path& file)
    {
        if (!handset::ParseNameArgs(args, name)
            || !handset::IsPlainName(cur.CodedNames ? handset::EncodeDiskName(name) : name)) {
            SendError(kBadArgument);
            return false;
        }
        file = CurrentDir() / (cur.CodedNames ? handset::EncodeDiskName(name) : name);
        return true;
    }

    fs::path CurrentDir() const { return folderDir.empty() ? fs::path(cur.Root) : folderDir; }

    void DoRead(const std::string& args)
    {
        std::string name, data;
        fs::path file;
        if (!FileArg(args, name, file))
            return;
        std::error_code ec;
        if (!fs::is_regular_file(file, ec) || ReadWholeFile(file, data) != ReadResult::Ok) {
            SendError(kNotFound);
            return;
        }
        const std::uint32_t crc = CalcCRC(data);
        const auto announcedSize = static_cast<std::int64_t>(data.size()) + cur.AnnouncedSizeDelta;
        std::string header = cur.ReadHeaderText;
        if (header.empty())
            header = handset::ReadHeaderBlock(name, handset::TypeCodeFor(name), announcedSize,
                                              handset::FormatDate(ModTime(file)), crc);
        else if (!std::string_view(header).ends_with("#OK#\r\n")) {
            out += header;   // a reply that ends here (a final "OK", say): no data follow
            Flush();
            return;
        }
        if (!SendBlock(header))
            return;
        if (cur.CorruptReadByte && !data.empty())
            data[data.size() / 2] = static_cast<char>(data[data.size() / 2] ^ 0xFF);

        const std::size_t blockSize =
            static_cast<std::size_t>(std::clamp(cur.ReadBlockSize, 1, kMaxReadBlock));
        int number = 1;
        for (std::size_t pos = 0; pos < data.size(); pos += blockSize, ++number) {
            std::string_view chunk = std::string_view(data).substr(pos, blockSize);
            const auto announced = static_cast<std::int64_t>(chunk.size());
            if (cur.ShortBlock && pos == 0)
                chunk.remove_suffix(1);
            if (CmeDue())
                return;
            if (!SendBlock(handset::ReadDataBlock(chunk, announced, number,
                                                  std::max(0, cur.LeadInBreaks),
                                                  cur.BlanksInLength)))
                return;
        }
        SendFinal();
    }

    void DoWrite(const std::string& args)
    {
        handset::WriteArgs w;
        if (!handset::ParseWriteArgs(args, w) || !handset::IsPlainName(w.name) ||
            w.size > kCapacity) {
            SendError(kBadArgument);
            return;
        }
        const fs::path dir = CurrentDir();
        std::string data;
        data.reserve(static_cast<std::size_t>(w.size));
        while (data.size() < static_cast<std::size_t>(w.size)) {
            if (CmeDue())
                return;
            CheckNothingBeforePrompt();
            out += kPrompt;
            Flush();
            ++blocksSent;
            std::string chunk;
            if (!ReadExact(std::min(kWriteBlock, static_cast<std::size_t>(w.size) - data.size()),
                           chunk))
                return; // the PC went away in the middle of the file
            data += chunk;
        }
        CheckNothingBeforePrompt();
        for (int i = 0; i < cur.ExtraWritePrompts; ++i) {
            out += kPrompt;
            Flush();
            WaitDrained(2000);   // each reaches the PC on its own
        }
        if (CalcCRC(data) != w.crc) {
            SendError(kBadCrc);
            return;
        }
        if (CmeDue())
            return;
        if (SaveFileReplacing((dir / w.name).string(), reinterpret_cast<const std::uint8_t*>(data.data()), data.size())
            != SaveResult::Ok) {
            SendError(kCannotStore);
            return;
        }
        SendFinal();
    }

    // The data of a write block go out only once its prompt has come: bytes already here when a
    // prompt (or the final reply) is due came too early. They are reported and then taken as
    // they stand.
    void CheckNothingBeforePrompt()
    {
        while (Fill(0)) {
        }
        if (!in.empty())
            NoteViolation(std::to_string(in.size()) + " byte(s) of a write before their prompt");
    }

    void DoErase(const std::string& args)
    {
        std::string name;
        fs::path file;
        if (!FileArg(args, name, file))
            return;
        std::error_code ec;
        if (!fs::is_regular_file(file, ec) || !fs::remove(file, ec)) {
            SendError(kNotFound);
            return;
        }
        SendFinal();
    }
};

VirtualHandset::VirtualHandset(HandsetOptions options) : impl_(new Impl(std::move(options))) {}

VirtualHandset::~VirtualHandset()
{
    Stop();
    CloseFd(impl_->master);
    CloseFd(impl_->slave);
    CloseFd(impl_->wakeRead);
    CloseFd(impl_->wakeWrite);
    delete impl_;
}

bool VirtualHandset::Open(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        CloseFd(impl_->master);
        CloseFd(impl_->slave);
        return false;
    };
    if (impl_->master >= 0)
        return true;
    std::error_code ec;
    if (!fs::is_directory(impl_->opt.Root, ec)) {
        if (error)
            *error = "not a folder: " + impl_->opt.Root;
        return false;
    }
    if (impl_->wakeRead < 0) {
        int p[2];
        if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0)
            return fail("pipe");
        impl_->wakeRead = p[0];
        impl_->wakeWrite = p[1];
    }
    impl_->master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (impl_->master < 0)
        return fail("posix_openpt");
    if (::grantpt(impl_->master) != 0 || ::unlockpt(impl_->master) != 0)
        return fail("grantpt/unlockpt");
    char name[256];
    if (::ptsname_r(impl_->master, name, sizeof name) != 0)
        return fail("ptsname_r");
    ::fcntl(impl_->master, F_SETFD, FD_CLOEXEC);
    ::fcntl(impl_->master, F_SETFL, ::fcntl(impl_->master, F_GETFL) | O_NONBLOCK);
    // Our own slave descriptor keeps the pty alive while the PC closes and reopens the port.
    impl_->slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (impl_->slave < 0)
        return fail("open slave");
    termios t{};
    if (::tcgetattr(impl_->slave, &t) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    if (::tcsetattr(impl_->slave, TCSANOW, &t) != 0)
        return fail("tcsetattr");
    slavePath_ = name;
    impl_->vanish = false;
    return true;
}

void VirtualHandset::Start()
{
    if (thread_.joinable())
        return;
    stop_ = false;
    thread_ = std::thread([this] { Serve(stop_); });
}

void VirtualHandset::Stop()
{
    stop_ = true;
    impl_->Wake();
    if (thread_.joinable())
        thread_.join();
}

void VirtualHandset::Serve(const std::atomic<bool>& stop)
{
    if (impl_->master < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(impl_->serveMu);
        impl_->serving = true;
    }
    impl_->stop = &stop;
    impl_->folderDir.clear();
    try {
        const std::vector<WireTrace::Record> replay = Options().Replay;
        if (!replay.empty())
            impl_->Replay(replay);
        for (;;)
            impl_->ServeOne();
    } catch (const StopServing&) {
    }
    impl_->out.clear();
    impl_->heldStray.clear();
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->strayTaken = false;
    }
    {
        std::lock_guard<std::mutex> lock(impl_->serveMu);
        impl_->serving = false;
    }
    impl_->serveCv.notify_all();
}

void VirtualHandset::Vanish()
{
    impl_->vanish = true;
    impl_->Wake();
    if (thread_.joinable())
        thread_.join();
    {
        std::unique_lock<std::mutex> lock(impl_->serveMu);
        impl_->serveCv.wait(lock, [this] { return !impl_->serving; });
    }
    CloseFd(impl_->master);
    CloseFd(impl_->slave);
}

void VirtualHandset::ReleaseStray()
{
    impl_->releaseStray = true;
    impl_->Wake();
}

bool VirtualHandset::Idle() const
{
    auto unread = [](int fd) {
        int pending = 0;
        return fd >= 0 && ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
    };
    // The line first: bytes taken from it after this look have cleared awaitingPc already.
    const bool nothingUnread = !unread(impl_->master);
    return nothingUnread && impl_->awaitingPc;
}

bool VirtualHandset::StrayPending() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->opt.UnsolicitedBlock || impl_->opt.UnsolicitedPrompt || impl_->strayTaken;
}

void VirtualHandset::Update(const std::function<void(HandsetOptions&)>& change)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    change(impl_->opt);
}

HandsetOptions VirtualHandset::Options() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->opt;
}

std::string VirtualHandset::Received() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->received;
}

int VirtualHandset::ProtocolViolations() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->violations;
}

std::vector<std::string> VirtualHandset::Commands() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->commands;
}

void VirtualHandset::ClearLog()
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->received.clear();
    impl_->commands.clear();
}
