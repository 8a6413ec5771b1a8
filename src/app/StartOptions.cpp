#include "app/StartOptions.h"

#include <string_view>

const char* const kStartUsage =
    "usage: tarvel [--trace FILE] [--log] [--check-port] [--help] [--version]\n"
    "  --trace FILE   write every byte of the serial line both ways to FILE, with time stamps\n"
    "                 (also TARVEL_TRACE=FILE); shows Help > Log\n"
    "  --log          show Help > Log\n"
    "  --check-port   check the port of tarvel.ini step by step and end; exit status 0 only\n"
    "                 when every check passed (needs no display)\n";

StartOptions ParseStartOptions(int argc, const char* const* argv, const char* envTrace)
{
    StartOptions o;
    if (envTrace && *envTrace)
        o.TraceFile = envTrace;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--trace") {
            // The next option is no file name: the name is missing.
            if (i + 1 >= argc || !*argv[i + 1] || *argv[i + 1] == '-') {
                o.Error = "--trace needs a file name";
                return o;
            }
            o.TraceFile = argv[++i];
        } else if (a.rfind("--trace=", 0) == 0) {
            o.TraceFile = std::string(a.substr(8));
        } else if (a == "--log") {
            o.ShowLog = true;
        } else if (a == "--check-port") {
            o.CheckPort = true;
        } else if (a == "--help" || a == "-h") {
            o.Help = true;
        } else if (a == "--version") {
            o.Version = true;
        }
    }
    if (!o.TraceFile.empty())
        o.ShowLog = true;
    return o;
}
