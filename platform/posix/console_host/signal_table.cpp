#include "platform/posix/console_host/signal_table.h"

#include <csignal>

namespace platform_posix::console_host {
namespace {

// Signals that only some processors have.
#ifdef SIGSTKFLT
constexpr int kStackFault = SIGSTKFLT;
#else
constexpr int kStackFault = 0;
#endif
#ifdef SIGPWR
constexpr int kPowerFailure = SIGPWR;
#else
constexpr int kPowerFailure = 0;
#endif

using enum SignalRole;

// SIGALRM and SIGIO would end the process too, but the console uses them
// itself; SIGTRAP is a fault, as a breakpoint instruction is on Windows.
// clang-format off
constexpr SignalEntry kTable[] = {
    {"SIGHUP", SIGHUP, kEnds},
    {"SIGINT", SIGINT, kEnds},
    {"SIGQUIT", SIGQUIT, kEnds},
    {"SIGILL", SIGILL, kFault},
    {"SIGTRAP", SIGTRAP, kFault},
    {"SIGABRT", SIGABRT, kEnds},
    {"SIGBUS", SIGBUS, kFault},
    {"SIGFPE", SIGFPE, kFault},
    {"SIGKILL", SIGKILL, kUncatchable},
    {"SIGUSR1", SIGUSR1, kEnds},
    {"SIGSEGV", SIGSEGV, kFault},
    {"SIGUSR2", SIGUSR2, kEnds},
    {"SIGPIPE", SIGPIPE, kIgnored},
    {"SIGALRM", SIGALRM, kFrameTimer},
    {"SIGTERM", SIGTERM, kEnds},
    {"SIGSTKFLT", kStackFault, kEnds},
    {"SIGCHLD", SIGCHLD, kNoEffect},
    {"SIGCONT", SIGCONT, kContinues},
    {"SIGSTOP", SIGSTOP, kUncatchable},
    {"SIGTSTP", SIGTSTP, kSuspends},
    {"SIGTTIN", SIGTTIN, kStopsAsJob},
    {"SIGTTOU", SIGTTOU, kStopsAsJob},
    {"SIGURG", SIGURG, kNoEffect},
    {"SIGXCPU", SIGXCPU, kEnds},
    {"SIGXFSZ", SIGXFSZ, kIgnored},
    {"SIGVTALRM", SIGVTALRM, kEnds},
    {"SIGPROF", SIGPROF, kEnds},
    {"SIGWINCH", SIGWINCH, kResizes},
    {"SIGIO", SIGIO, kInput},
    {"SIGPWR", kPowerFailure, kEnds},
    {"SIGSYS", SIGSYS, kEnds},
    {"SIGRTMIN to SIGRTMAX", -1, kEnds},
};
// clang-format on

}  // namespace

const SignalEntry *SignalTable(std::size_t *count) {
  *count = sizeof kTable / sizeof kTable[0];
  return kTable;
}

const char *RoleText(SignalRole role) {
  switch (role) {
    case kEnds:
      return "the terminal goes back (the last frame, colours, keyboard protocol, mode, a line end), then the "
             "process ends by the signal; stopped or in the background, it ends at once and leaves the terminal "
             "alone";
    case kFault: return "the exception filter's: a run-time error, or, where it declines, an end as above";
    case kSuspends: return "the terminal goes back, then the process stops (Ctrl+Z)";
    case kContinues: return "once in the foreground: key mode, the keyboard protocol and a repaint";
    case kStopsAsJob:
      return "raised by the console itself: outside the foreground it waits stopped, touching nothing, until it "
             "is brought back";
    case kResizes: return "the terminal shows the part of the console's buffer around the cursor";
    case kFrameTimer: return "the frame timer: what changed goes to the terminal";
    case kInput: return "keys came under the keyboard protocol: Ctrl+C, Ctrl+\\ and Ctrl+Z act at once";
    case kIgnored: return "ignored: the write that would raise it fails instead, as on Windows (a run-time error)";
    case kNoEffect: return "nothing";
    case kUncatchable:
      return "cannot be caught: after SIGKILL the terminal stays in key mode (`stty sane` gives it back); "
             "SIGSTOP stops the process with the terminal in key mode, which an interactive shell puts back "
             "itself, and `fg` repaints";
  }
  return "";
}

int FirstRealTimeSignal() { return SIGRTMIN; }
int LastRealTimeSignal() { return SIGRTMAX; }

}  // namespace platform_posix::console_host
