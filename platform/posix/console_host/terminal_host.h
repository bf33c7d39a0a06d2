// The console on the process's terminal (/dev/tty).
#pragma once

#include "platform/posix/console_host/console_host.h"

namespace platform_posix::console_host {

// The terminal host, started at the first call: the terminal goes into key
// mode, the cursor position and the keyboard protocol are asked for, and the
// way back is prepared for every way out. Null when the process has no
// terminal.
ConsoleHost *Terminal();
// The terminal host if it has started, else null.
ConsoleHost *ActiveTerminal();
// Whether descriptor `fd` is the console's terminal (starts the host).
bool IsConsoleTerminal(int fd);
// Called before `fd` is closed: it may be reused for another file.
void ForgetTerminalFd(int fd);
// Sleep while the terminal host runs: what is drawn goes out first, and a
// stop, continue or resize meanwhile is served at once. False, without
// sleeping, when the host has not started.
bool SleepOnTerminal(DWORD milliseconds);

}  // namespace platform_posix::console_host
