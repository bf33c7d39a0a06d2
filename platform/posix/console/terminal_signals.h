// The terminal's modes as the console switches them (key mode, the kitty
// keyboard protocol) and the way back from every way out: a normal end, a
// run-time error, a fault, each signal that ends the process, and a suspend.
// What a signal handler runs here is async-signal-safe: its bytes are ready
// beforehand and it only writes, sets terminal modes and raises.
#pragma once

#include <termios.h>

#include "platform/posix/console/output_buffer.h"

namespace posix::console {

// Takes the terminal on `fd` into key mode and installs the handlers that
// put `saved` back. `pending`: what is drawn but not yet sent, which goes
// out, as it is, in front of every put-back; `drawPending` first draws into
// it what changed on the console since the last frame.
void ArmTerminal(int fd, const termios &saved, OutputBuffer *pending, void (*drawPending)());

// Brackets the host's work on the console's state (its screen, what the
// terminal shows, the output buffer), which a handler must not see half
// done: a signal that needs them to draw waits until LeaveHost, which takes
// it. Not nested; a wait inside the host leaves it first, with everything
// drawn sent. SIGABRT and a fault never wait: the terminal then goes back
// with what was already sent.
void EnterHost();
void LeaveHost();
struct HostSection {
  HostSection() { EnterHost(); }
  ~HostSection() { LeaveHost(); }
  HostSection(const HostSection &) = delete;
  HostSection &operator=(const HostSection &) = delete;
};
// The terminal answered the protocol's query: SetKeyboardProtocol may use it.
void TerminalSpeaksKeyboardProtocol();

// The kitty keyboard protocol is on only while the program reads keys:
// then the terminal driver no longer sees Ctrl+C, Ctrl+\ and Ctrl+Z, and
// the console raises their signals itself (RaiseForKey). Switching it is a
// push or a pop, never more pushes than pops; it does nothing on a terminal
// without the protocol.
void SetKeyboardProtocol(bool on);
bool KeyboardProtocolOn();

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

}  // namespace posix::console
