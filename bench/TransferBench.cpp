// Transfer benchmark (run by hand): the virtual handset, as its own process, paces its output to
// a 115200 bit/s line (11,520 bytes/s); Tarvel's main window, offscreen, reads a file from it and
// writes one to it. Prints the effective throughput as a share of the line rate and the CPU time
// this process used per second of transfer.
//
//   bench_transfer [bytes (default 204800)] [read block (default 2048)]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include "protocol/CRC.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_Init.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

namespace fs = std::filesystem;

namespace {

constexpr double kLineRate = 11520.0;   // bytes per second at 115200 bit/s

double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
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

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    unsigned x = 12345u;
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

struct Measure {
    double seconds = 0;
    double cpu = 0;
};

void Report(const char* what, std::size_t bytes, const Measure& m)
{
    const double rate = static_cast<double>(bytes) / m.seconds;
    std::printf("%-6s %8zu bytes  %6.2f s  %8.0f bytes/s  %5.1f %% of the line rate  CPU %.3f s = %.1f ms per second of transfer\n",
                what, bytes, m.seconds, rate, 100.0 * rate / kLineRate, m.cpu, 1000.0 * m.cpu / m.seconds);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 204800;
    const int readBlock = argc > 2 ? std::atoi(argv[2]) : 2048;

    QTemporaryDir tmp;
    const fs::path root = tmp.path().toStdString();
    const fs::path phone = root / "phone", pc = root / "pc", settings = root / "settings";
    for (const fs::path& d : {phone, pc, settings})
        fs::create_directories(d);
    const std::string data = Pattern(size);
    std::ofstream(phone / "bench.bin", std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));

    QProcess handset;
    handset.setProgram(QStringLiteral(TARVEL_HANDSET_PATH));
    handset.setArguments({"--root", QString::fromStdString(phone.string()), "--rate", "11520", "--read-block",
                          QString::number(readBlock)});
    handset.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    handset.start();
    if (!handset.waitForStarted(5000) || !WaitFor([&] { return handset.canReadLine(); }, 5000)) {
        std::fprintf(stderr, "the virtual handset did not start\n");
        return 1;
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
    if (!WaitFor([&] { return win->PhoneOnline && win->ReplyDone && win->ListView_PNFiles->topLevelItemCount() > 0; },
                 15000)) {
        std::fprintf(stderr, "the start-up did not finish\n");
        return 1;
    }
    std::printf("line rate %.0f bytes/s, read blocks of %d bytes, receive polling every 50 ms\n", kLineRate, readBlock);

    // Read, as the download loop runs it.
    win->PCDir = pc.string();
    win->Panel_PC->setEnabled(false);
    win->Panel_Phone->setEnabled(false);
    win->CurrentFile = *PhoneItemRecord(win->ListView_PNFiles->topLevelItem(0));
    win->BufPos = 0;
    Measure read;
    QElapsedTimer t;
    double cpu0 = CpuSeconds();
    t.start();
    win->SendFSFR();
    win->WaitReplyDone();
    read.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    read.cpu = CpuSeconds() - cpu0;
    const bool readOk = ReadAll(pc / "bench.bin") == data;

    // Write, as the upload loop runs it.
    const std::string upload = Pattern(size).append("!");
    win->UploadFile.Clear();
    win->UploadFile.Name = "up.bin";
    win->UploadFile.Size = static_cast<std::int32_t>(upload.size());
    win->UploadFile.Crc = CalcCRC(upload);
    win->UploadFile.Kind = 1;
    win->TransferBuffer = std::make_unique<std::vector<std::uint8_t>>(upload.begin(), upload.end());
    win->BufPos = 0;
    Measure write;
    cpu0 = CpuSeconds();
    t.restart();
    win->SendFSFW();
    win->WaitReplyDone();
    write.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    write.cpu = CpuSeconds() - cpu0;
    const bool writeOk = ReadAll(phone / "up.bin") == upload;

    Report("read", data.size(), read);
    Report("write", upload.size(), write);
    for (const std::string& text : dialogs.Texts())
        std::printf("message: %s\n", text.c_str());
    if (!readOk || !writeOk)
        std::printf("FAILED: %s\n", !readOk ? "the read file differs" : "the written file differs");

    win->close();
    delete Form_Log;
    Form_Log = nullptr;
    delete win;
    Form_Progress = nullptr;
    handset.terminate();
    handset.waitForFinished(3000);
    return readOk && writeOk ? 0 : 1;
}
