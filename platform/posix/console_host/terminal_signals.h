// The terminal's modes as the console switches them (key mode, the kitty
// keyboard protocol) and the way back from every way out: a normal end, a
// run-time error, a fault, each signal that ends the process (the signal
// table, signal_table.h), a suspend, and a terminal that goes away. The
// console touches the terminal only while its process group is the
// terminal's foreground group; elsewhere it waits, stopped, as a job does.
// What a signal handler runs here is async-signal-safe: its bytes are ready
// beforehand and it only writes, reads, sets terminal modes and raises.
#pragma once

#include <poll.h>
#include <termios.h>

#include <cstddef>

#include "platform/posix/console_host/output_buffer.h"

namespace platform_posix::console_host {

// What the host does for a signal that asks it to act (never called while
// the host is in the middle of a change): SIGALRM, the frame timer is due;
// SIGIO, the terminal sent something while the keyboard protocol is on.
using ServeSignal = void (*)(int sig);

// Takes the terminal on `fd` into key mode and installs the handlers that
// put `saved` back.
void ArmTerminal(int fd, const termios &saved);

// Waits, stopped as a job that wants the terminal ("Stopped (tty output)"),
// until the process's group is the terminal's foreground group: true then.
// False at once when an ending signal waits to be taken, which the caller
// then lets in without touching the terminal. Where the group is orphaned
// and its stops are discarded, it looks again every 100 ms; a terminal
// that hangs up meanwhile ends the process (EndOnHangUp).
bool AwaitForeground();
// The host, once it is made. `pending`: what is drawn but not yet sent,
// which goes out, as it is, in front of every put-back; `drawPending` first
// draws into it what changed on the console since the last frame, after
// serving a resize or continue that came before.
void ConnectHost(OutputBuffer *pending, void (*drawPending)(), ServeSignal serve);

// Brackets the host's work on the console's state (its screen, what the
// terminal shows, the output buffer), which a handler must not see half
// done: a signal that needs them waits until LeaveHost, which takes it.
// Waiting signals keep the kernel's rules: a continue drops a stop that
// waits, a stop drops a continue, and a continue is taken first. Not
// nested. SIGABRT and a fault never wait: the terminal then goes back with
// what was already sent.
void EnterHost();
void LeaveHost();
struct HostSection {
  HostSection() { EnterHost(); }
  ~HostSection() { LeaveHost(); }
  HostSection(const HostSection &) = delete;
  HostSection &operator=(const HostSection &) = delete;
};

// Leaves the host for a wait in poll on `fds` (none: a sleep) for at most
// `timeoutNs` (-1: no limit), and enters it again. The handled signals are
// let in only while the wait itself runs, so none is missed: one that came
// meanwhile, also one that waited for LeaveHost, ends the wait at once, and
// a resize or continue whose repaint is still due keeps it from starting.
// Returns what poll returns; -1 with EINTR after a signal.
int WaitAwayFromHost(pollfd *fds, nfds_t count, long long timeoutNs);

// What the terminal answered when the console asked at the start.
void TerminalAnswered(bool keyboardProtocol, bool deviceAttributes);

// The kitty keyboard protocol is on only while the program reads keys:
// then the terminal driver no longer sees Ctrl+C, Ctrl+\ and Ctrl+Z, and
// the console raises their signals itself (RaiseForKey), also while the
// program computes or sleeps between reads (the terminal then signals its
// input, SIGIO). Switching it is a push or a pop, never more pushes than
// pops; it does nothing on a terminal without the protocol. After a pop,
// what the terminal sent before it saw the pop is read (up to its answer to
// a question asked behind the pop), so that none of it is left for the next
// reader: up to `capacity` bytes of it go to `keep`, as keys typed, and the
// count is returned.
std::size_t SetKeyboardProtocol(bool on, unsigned char *keep = nullptr, std::size_t capacity = 0);
bool KeyboardProtocolOn();

// The frame timer: SIGALRM in `ms` milliseconds, or not at all.
void StartFrameTimer(long long ms);
void StopFrameTimer();

// The terminal is being put back for good: the process ends.
bool Ending();

// What handlers leave for the main flow, each true once: the process was
// continued after a stop (the terminal must be repainted), or the terminal
// was resized.
bool TakeContinued();
bool TakeResized();

// The signal the terminal driver raises for control character `ch` under
// the mode the process found (Ctrl+C, Ctrl+\, Ctrl+Z by default), 0 for none.
int SignalForKey(unsigned char ch);
// Raises it as the driver does: at the terminal's foreground process group.
void RaiseForKey(int sig);

// The terminal went away (end of file or EIO on it, or its hang-up): the
// process ends as one whose console was closed, by SIGHUP, also where SIGHUP
// is ignored, for nothing can reach the user any more.
[[noreturn]] void EndOnHangUp();

}  // namespace platform_posix::console_host
