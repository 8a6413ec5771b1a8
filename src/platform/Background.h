#pragma once
// Going on in the background, as a mounting program does: DetachToBackground splits the process;
// the caller's terminal gets its prompt back once the background part has told how its start
// went (ReportStarted), and the first process ends with that status. It returns what
// ReportStarted needs (-1 where the platform cannot detach, or it failed: the caller then stays
// in the foreground).
int DetachToBackground();
// Tells the waiting first process the start's status (0: running). Does nothing for -1.
void ReportStarted(int token, int status);
