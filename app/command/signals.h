// Ctrl-C, SIGTERM and SIGHUP as the host's cancel request. The first signal
// is remembered and reaches the plug-in at its next cancel query; a second
// one removes any temporary file and ends the process at once.
#pragma once

void InstallCancelSignals();
// The first signal received, or 0.
int CancelSignal();
// The exit status a cancel by that signal ends with: 130, 143 or 129.
int CancelStatus(int signal);
