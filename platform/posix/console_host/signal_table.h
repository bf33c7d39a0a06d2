// Every signal, and what the process does with it while the console has the
// terminal: the one table that the handlers are installed from and that
// the documentation shows (docs/console-on-linux.md, kept equal by a test).
#pragma once

#include <cstddef>

namespace platform_posix::console_host {

enum class SignalRole : unsigned char {
  kEnds,         // its default action ends the process: the terminal goes back first, then it ends by the signal
  kFault,        // the exception filter's: a run-time error, or, declined, an end as above
  kSuspends,     // the terminal goes back, then the process stops
  kContinues,    // key mode again and a repaint, once the process is in the foreground
  kStopsAsJob,   // raised by the console itself to wait, stopped, for the foreground
  kResizes,      // the terminal shows the part of the buffer around the cursor
  kFrameTimer,   // ends a frame: what changed goes to the terminal
  kInput,        // keys came while the keyboard protocol is on
  kIgnored,      // ignored from the start: the write that would raise it fails instead
  kNoEffect,     // its default action does nothing, and neither does the process
  kUncatchable,  // no process can catch it
};

struct SignalEntry {
  const char *name;  // as the system's headers name it
  int number;        // 0: no such signal on this processor; -1: the real-time range
  SignalRole role;
};

// In the order of their numbers on x86 Linux; the real-time range last.
const SignalEntry *SignalTable(std::size_t *count);

// What the role means to a user, one sentence, for the documentation.
const char *RoleText(SignalRole role);

// The real-time signals that a program may use, first and last.
int FirstRealTimeSignal();
int LastRealTimeSignal();

}  // namespace platform_posix::console_host
