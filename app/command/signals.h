// Ctrl-C, SIGTERM and SIGHUP as the host's cancel request.
//
// The first signal is remembered and reaches the plug-in at its next cancel
// query; a write under way when it comes is abandoned, so its target keeps
// the old file. Any of the three arriving within kOneCancelMs of the first
// belongs to the same cancel (`timeout`, for one, signals both the process
// and its group). A later one removes any temporary file and ends the
// process at once, as EndBySignal does with the first signal.
//
// SIGPIPE is ignored, so that a closed stderr never ends a run: what the
// command writes there is advice, and a failure to write it is no failure.
#pragma once

#include <initializer_list>

namespace dunsmere {

inline constexpr int kOneCancelMs = 200;

void InstallCancelSignals();
// The first signal received, or 0.
int CancelSignal();
// The status a shell shows for a run ended by that signal: 130, 143 or 129.
int CancelStatus(int signal);
// Ends the process by SIGNAL with its default action, so that whoever waits
// for it sees a death by that signal (a shell loop stops). Streams are not
// flushed. Async-signal-safe.
[[noreturn]] void EndBySignal(int signal);

// Paths a later signal removes before it ends the process, after the
// temporary files: each unlinked, or removed as an empty directory, in the
// order given (a scratch directory's files, then the directory). Replaces
// the paths set before; an empty list forgets them. At most
// kEndRemovalPaths, each shorter than kEndRemovalBytes; one that is not is
// left to the normal clean-up.
inline constexpr int kEndRemovalPaths = 4;
inline constexpr int kEndRemovalBytes = 4096;
void RemoveAtSecondSignal(std::initializer_list<const char*> paths);

}  // namespace dunsmere
