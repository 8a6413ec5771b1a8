#include "platform/StopSignals.h"

int InstallStopSignals() { return -1; }
