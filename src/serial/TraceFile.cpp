#include "serial/TraceFile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "serial/CPDrv.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
std::unique_ptr<std::FILE, FileCloser> g_traceFile;
std::FILE* g_traceStream = nullptr;   // the file above, or a stream owned elsewhere

void TraceTo(std::FILE* stream)
{
    g_traceStream = stream;
    TCommPortDriver::SetTrace([](WireTrace::Side from, std::string_view bytes) {
        const std::string line = WireTrace::FormatLine(std::chrono::system_clock::now(), from, bytes);
        std::fwrite(line.data(), 1, line.size(), g_traceStream);
        // Flushed line by line: the trace of a session that ends badly is what it is for.
        std::fflush(g_traceStream);
    });
}

} // namespace

bool StartTraceFile(const std::string& path, std::string* error)
{
    StopTraceFile();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    g_traceFile = std::move(file);
    TraceTo(g_traceFile.get());
    return true;
}

void StartTraceStream(std::FILE* stream)
{
    StopTraceFile();
    TraceTo(stream);
}

void StopTraceFile()
{
    TCommPortDriver::SetTrace({});
    g_traceStream = nullptr;
    g_traceFile.reset();
}
