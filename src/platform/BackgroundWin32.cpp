#include "platform/Background.h"

int DetachToBackground() { return -1; }
void ReportStarted(int, int) {}
