// Transfer benchmark (run by hand, not a test): Tarvel's main window, offscreen, against the
// virtual handset as its own process on a pseudo-terminal; once paced to a 115200 bit/s line
// (11,520 bytes/s), once unpaced (what a USB or Bluetooth link is like: no line pacing). Each
// run lists a folder of 200 entries, reads a file from the handset and writes one of the same
// size to it, and copies the same bytes raw through a pseudo-terminal paced the same way, so
// that each figure can be read as a share of what the link carries. Prints the times, the
// throughput, and the CPU time this process used per second of transfer and per MB.
//
//   bench_transfer [--paced | --unpaced] [--size BYTES (524289)] [--read-block BYTES (2048)]
//                  [--piece BYTES (paced: 20 ms of the line, 230)]
//
// MB and kB are 10^6 and 10^3 bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include "handset/LinePacer.h"
#include "ui/Dialogs.h"
#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLineRate = 11520;   // bytes per second at 115200 bit/s
constexpr int kListingEntries = 200;

// CPU seconds of this process (Tarvel), of its finished children (the handset), or of the calling
// thread (Tarvel's main thread, where the link and the windows run).
double CpuSeconds(int who = RUSAGE_SELF)
{
    rusage ru{};
    getrusage(who, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

std::string Pattern(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& bytes)
{
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Measure {
    double seconds = 0;
    double cpu = 0;
    double mainThreadCpu = 0;
};

// Times `work` and the CPU time this process spends meanwhile.
Measure Timed(const std::function<void()>& work)
{
    Measure m;
    const double cpu0 = CpuSeconds();
    const double thread0 = CpuSeconds(RUSAGE_THREAD);
    QElapsedTimer t;
    t.start();
    work();
    m.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    m.cpu = CpuSeconds() - cpu0;
    m.mainThreadCpu = CpuSeconds(RUSAGE_THREAD) - thread0;
    return m;
}

// ---- The raw copy -----------------------------------------------------------------------------

void WriteFully(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
        } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd pf{fd, POLLOUT, 0};
            ::poll(&pf, 1, 100);
        }
    }
}

// Seconds a raw copy of `data` takes through a pseudo-terminal set up as the virtual handset's
// (raw, non-blocking), paced as it paces (`rate` 0: unpaced; `piece` 0: 20 ms of the line); towards the slave side (the PC)
// or from it. Negative when no pseudo-terminal can be had.
double RawCopy(const std::string& data, int rate, std::size_t piece, bool toPc)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return -1;
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    for (int fd : {master, slave})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int from = toPc ? master : slave;
    const int to = toPc ? slave : master;

    QElapsedTimer timer;
    timer.start();
    std::thread writer([&] {
        handset::LinePacer line(rate);
        line.SetPiece(piece);
        for (std::size_t pos = 0; pos < data.size();) {
            const std::size_t piece = line.Paced() ? std::min(line.Piece(), data.size() - pos) : data.size() - pos;
            std::this_thread::sleep_until(pos == 0 ? line.Carry(piece, handset::LinePacer::Clock::now())
                                                   : line.CarryOn(piece));
            WriteFully(from, data.data() + pos, piece);
            pos += piece;
        }
    });
    std::size_t got = 0;
    char buf[65536];
    while (got < data.size()) {
        pollfd pf{to, POLLIN, 0};
        if (::poll(&pf, 1, 5000) <= 0)
            break;
        const ssize_t n = ::read(to, buf, sizeof buf);
        if (n > 0)
            got += static_cast<std::size_t>(n);
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    writer.join();
    ::close(slave);
    ::close(master);
    return got == data.size() ? seconds : -1;
}

// ---- One run against the handset ---------------------------------------------------------------

struct Run {
    bool ok = false;
    Measure listing, read, write;
    double rawToPc = 0, rawToHandset = 0;
    double handsetCpu = 0;   // the handset's whole session
    int violations = 0;
};

void Report(const char* what, std::size_t bytes, const Measure& m, bool paced, double raw)
{
    const double rate = static_cast<double>(bytes) / m.seconds;
    std::printf("  %-7s %7zu bytes %7.2f s %9.0f bytes/s", what, bytes, m.seconds, rate);
    if (paced)
        std::printf(" %5.1f %% of the line rate", 100.0 * rate / kLineRate);
    if (raw > 0)
        std::printf(" %5.1f %% of the raw copy", 100.0 * raw / m.seconds);
    std::printf("  CPU %.3f s: %.1f ms per second (%.2f %% of a core), %.0f ms per MB; main thread %.2f %%\n", m.cpu,
                1000.0 * m.cpu / m.seconds, 100.0 * m.cpu / m.seconds, 1000.0 * m.cpu / (static_cast<double>(bytes) / 1e6),
                100.0 * m.mainThreadCpu / m.seconds);
}

Run RunOnce(bool paced, std::size_t size, int readBlock, int piece)
{
    Run run;
    QTemporaryDir tmp;
    const fs::path root = tmp.path().toStdString();
    const fs::path phone = root / "phone", pc = root / "pc", settings = root / "settings";
    for (const fs::path& d : {phone, pc, settings})
        fs::create_directories(d);
    // The handset's "/": the file to read and small files that make a 200-entry listing.
    const std::string data = Pattern(size, 12345u);
    WriteAll(phone / "bench.bin", data);
    for (int i = 1; i < kListingEntries; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "entry%03d.mmf", i);
        WriteAll(phone / name, std::string(static_cast<std::size_t>(i), 'x'));
    }

    const double childCpu0 = CpuSeconds(RUSAGE_CHILDREN);
    QProcess handset;
    handset.setProgram(QStringLiteral(TARVEL_HANDSET_PATH));
    QStringList args{"--root", QString::fromStdString(phone.string()), "--read-block", QString::number(readBlock)};
    if (paced)
        args << "--rate" << QString::number(kLineRate);
    if (paced && piece > 0)
        args << "--piece" << QString::number(piece);
    handset.setArguments(args);
    handset.start();
    if (!handset.waitForStarted(5000) || !WaitFor([&] { return handset.canReadLine(); }, 5000)) {
        std::fprintf(stderr, "the virtual handset did not start\n");
        return run;
    }
    const std::string port = handset.readLine().trimmed().toStdString();
    std::ofstream(settings / "tarvel.ini") << "[COMMON]\nPORT=" << port << "\nCOMPortBaudRate=115200\nHOMEDIR="
                                           << pc.string() << "\nCOMCheckLineStatus=0\nCOMHwFlow=1\n";

    Dialogs::Recorder dialogs;
    SettingsDir = settings.string();
    auto* win = new TForm_Main;
    Form_Log = new TForm_Log;
    Form_Progress = new TForm_Progress(win);
    win->show();
    const bool online = WaitFor([&] { return win->Link->Online() && win->Link->Channel().Idle() && win->ListView_PNFiles->topLevelItemCount() > 0; },
                                30000);

    bool listed = false, readOk = false, writeOk = false;
    if (online) {
        // The listing, from the command to the last entry in the list.
        run.listing = Timed([&] {
            win->ShowPhoneDir("/");
            WaitFor([&] { return win->Link->Channel().Idle(); }, 30000);
        });
        listed = win->ListView_PNFiles->topLevelItemCount() == kListingEntries;

        // A read, as the download loop runs it.
        const TFileInfo* record = nullptr;
        for (int i = 0; i < win->ListView_PNFiles->topLevelItemCount() && !record; ++i)
            if (win->ListView_PNFiles->topLevelItem(i)->text(0) == QLatin1String("bench.bin"))
                record = PhoneItemRecord(win->ListView_PNFiles->topLevelItem(i));
        if (record) {
            win->Panel_PC->setEnabled(false);
            win->Panel_Phone->setEnabled(false);
            run.read = Timed([&] { WaitFor(win->Link->Fetch(win->Link->PhoneDir(), *record, (pc / "bench.bin").string())); });
            readOk = ReadAll(pc / "bench.bin") == data;
        }

        // A write of the same size, as the upload loop runs it.
        const std::string upload = Pattern(size, 54321u);
        std::vector<std::uint8_t> bytes(upload.begin(), upload.end());
        run.write = Timed([&] { WaitFor(win->Link->Write(win->Link->PhoneDir(), "up.bin", 0, std::move(bytes))); });
        writeOk = ReadAll(phone / "up.bin") == upload;
    }

    for (const std::string& text : dialogs.Texts())
        std::printf("  message: %s\n", text.c_str());
    if (!online)
        std::printf("  FAILED: the start-up did not finish\n");
    else if (!listed || !readOk || !writeOk)
        std::printf("  FAILED: %s\n", !listed ? "the listing is incomplete"
                                               : (!readOk ? "the read file differs" : "the written file differs"));
    run.ok = online && listed && readOk && writeOk;

    win->close();
    delete Form_Log;
    Form_Log = nullptr;
    delete win;
    Form_Progress = nullptr;
    handset.terminate();
    handset.waitForFinished(3000);
    run.handsetCpu = CpuSeconds(RUSAGE_CHILDREN) - childCpu0;
    const QString log = QString::fromLocal8Bit(handset.readAllStandardError());
    run.violations = static_cast<int>(log.count(QStringLiteral("protocol violation")));

    run.rawToPc = RawCopy(data, paced ? kLineRate : 0, static_cast<std::size_t>(piece), true);
    run.rawToHandset = paced ? 0 : RawCopy(data, 0, 0, false);   // paced, both ways are alike
    return run;
}

bool Print(bool paced, std::size_t size, const Run& run)
{
    std::printf("%s\n", paced ? "paced to 11,520 bytes/s (115200 bit/s)" : "unpaced");
    std::printf("  listing %3d entries %7.3f s  CPU %.3f s\n", kListingEntries, run.listing.seconds, run.listing.cpu);
    Report("read", size, run.read, paced, run.rawToPc);
    Report("write", size, run.write, paced, run.rawToHandset);
    if (run.rawToPc > 0)
        std::printf("  raw copy to the PC      %7.3f s %9.0f bytes/s\n", run.rawToPc, static_cast<double>(size) / run.rawToPc);
    if (run.rawToHandset > 0)
        std::printf("  raw copy to the handset %7.3f s %9.0f bytes/s\n", run.rawToHandset,
                    static_cast<double>(size) / run.rawToHandset);
    std::printf("  the handset's CPU over its whole session: %.3f s\n", run.handsetCpu);
    std::printf("  protocol violations seen by the handset: %d\n", run.violations);
    return run.ok && run.violations == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    bool paced = true, unpaced = true;
    std::size_t size = 524289;
    int readBlock = 2048;
    int piece = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--paced")
            unpaced = false;
        else if (a == "--unpaced")
            paced = false;
        else if (a == "--size" && i + 1 < argc)
            size = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--read-block" && i + 1 < argc)
            readBlock = std::atoi(argv[++i]);
        else if (a == "--piece" && i + 1 < argc && std::atoi(argv[i + 1]) > 0)
            piece = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: bench_transfer [--paced | --unpaced] [--size BYTES] [--read-block BYTES] [--piece BYTES]\n");
            return 2;
        }
    }
    std::printf("file of %zu bytes, read blocks of %d bytes, listing of %d entries, paced pieces of %d bytes; "
                "load average %s\n", size, readBlock, kListingEntries, piece > 0 ? piece : kLineRate / 50,
                LoadAverage().c_str());
    bool ok = true;
    for (const bool p : {true, false}) {
        if ((p && !paced) || (!p && !unpaced))
            continue;
        const Run run = RunOnce(p, size, readBlock, piece);
        ok = Print(p, size, run) && ok;
    }
    std::printf("load average at the end %s\n", LoadAverage().c_str());
    return ok ? 0 : 1;
}
