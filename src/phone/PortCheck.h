#pragma once
// The port check (`tarvel --check-port`, `tarvel-cli check`): the steps from "is there a port" to "does the handset
// know the file-system commands", in order, each printed with its result. The commands go through
// a command channel of its own (phone/Channel.h). Needs a QCoreApplication (the channel runs on
// its event loop), no window.
#include <cstdint>
#include <ostream>
#include <string>

#include "phone/Task.h"
#include "serial/PortAdvice.h"

struct PortCheckSettings {
    std::string Port;                 // a port name as PORT holds it ("ttyUSB0", "COM1", a path)
    std::uint32_t BaudRate = 115200;
    std::int32_t HwFlow = 1;          // as COMHwFlow
    bool CheckLineStatus = false;
    int ReplyTimeoutMs = 4000;        // the watchdog time of one command
    AdviceReader Reader = AdviceReader::Window;   // `tarvel --check-port` or `tarvel-cli check`
};

// Runs the checks, writing one line per check ("ok" or "FAILED" and what was found, with
// advice lines below a failure); the checks behind a failed one are listed as not run. True
// only when every check passed.
Task<bool> RunPortCheck(PortCheckSettings settings, std::ostream* out);
