#pragma once
// The trace of the serial line in a file: `tarvel --trace FILE` or TARVEL_TRACE=FILE.
#include <cstdio>
#include <string>

// Makes every serial driver of the process write what it sends and receives to `path` (created
// or emptied), in the trace format of protocol/WireTrace.h. False with the system's reason.
bool StartTraceFile(const std::string& path, std::string* error = nullptr);
// The same into a stream that stays open (standard error for a command-line program).
void StartTraceStream(std::FILE* stream);
// Ends the trace and closes the file.
void StopTraceFile();
