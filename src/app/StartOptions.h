#pragma once
// Tarvel's own command-line options, read before the window system starts (so that the port
// check runs without a display). Options it does not know are left for Qt (-platform ...).
#include <string>

struct StartOptions {
    std::string TraceFile;   // --trace FILE, else the TARVEL_TRACE variable
    bool ShowLog = false;    // --log or a trace: the Log entry of the Help menu shows
    bool CheckPort = false;  // --check-port: run the port check and end
    bool Help = false;       // --help
    bool Version = false;    // --version
    std::string Error;       // what was wrong with the command line ("" when nothing)
};

// `envTrace` is the value of TARVEL_TRACE (nullptr when unset).
StartOptions ParseStartOptions(int argc, const char* const* argv, const char* envTrace);

extern const char* const kStartUsage;
