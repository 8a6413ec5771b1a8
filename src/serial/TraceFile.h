#pragma once
// The trace of the serial line in a file: `tarvel --trace FILE` or TARVEL_TRACE=FILE.
#include <string>

// Makes every serial driver of the process write what it sends and receives to `path` (created
// or emptied), in the trace format of protocol/WireTrace.h. False with the system's reason.
bool StartTraceFile(const std::string& path, std::string* error = nullptr);
// Ends the trace and closes the file.
void StopTraceFile();
