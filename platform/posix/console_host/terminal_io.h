// Small helpers over a terminal's file descriptor.
#pragma once

#include <cstddef>

struct termios;

namespace platform_posix::console_host {

// Writes all bytes, retrying after interruptions. Safe in a signal handler.
bool WriteAll(int fd, const char *bytes, std::size_t length);
// Whether input arrives within `timeoutMs` (0: only what is there; <0: wait).
bool WaitReadable(int fd, int timeoutMs);
// Milliseconds of the monotonic clock (in ns: MonotonicNs, timer_tick.h).
long long NowMs();
// The mode the console reads keys in: no line editing, no echo, no input
// translation or flow control, so that every key arrives as typed; signal
// keys (Ctrl+C) keep working and output processing stays as it was.
void MakeKeyMode(const termios &from, termios *to);
// The terminal's size in cells, or 80 by 25 when it can't be asked.
void TerminalSize(int fd, int *columns, int *rows);

// The largest console buffer the terminal host makes, whatever size a
// terminal reports: a side of a console's screen buffer is below 32767
// cells, and at most 2^20 cells in all (about 40 MB of host memory with the
// renderer's copy and its output buffer); the rows give way first.
constexpr int kMaxConsoleSide = 32766;
constexpr long kMaxConsoleCells = 1L << 20;
void ClampConsoleSize(int *columns, int *rows);

}  // namespace platform_posix::console_host
