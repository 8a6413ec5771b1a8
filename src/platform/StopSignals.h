#pragma once
// Ctrl+C and SIGTERM as something an event loop can wait for: after InstallStopSignals, each
// such signal makes the returned descriptor readable (one byte per signal; read them to clear
// it). -1 where the platform has no such signals or the descriptor could not be made.
int InstallStopSignals();
