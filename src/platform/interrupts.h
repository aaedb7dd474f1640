// Ctrl-C and SIGTERM (Ctrl-Break on Windows) during a recording: the first asks
// the record loop to finish the recording it has, the second ends the process at once.
#pragma once

#include <string>
#include <vector>

namespace recmux::platform {

// Catches SIGINT and SIGTERM from here on, without restarting interrupted
// reads, so that a wait on a pipe returns. The second signal deletes the files
// of abandon (an unfinished replacement) and ends the process by that signal.
// A signal the process was started ignoring stays ignored.
void CatchInterrupts(std::vector<std::string> abandon);

// The signal that asked the recording to stop (SIGINT for Ctrl-C and
// Ctrl-Break); 0 while none has.
int InterruptSignal();

// Ends the process by the signal that stopped the recording, as a shell or a
// service manager expects of a program that a signal stopped (on Windows, with
// the status of a console interrupted by Ctrl-C).
[[noreturn]] void EndByInterruptSignal();

}  // namespace recmux::platform
