// Small helpers over a terminal's file descriptor.
#pragma once

#include <cstddef>

struct termios;

namespace platform_posix::console_host {

// Writes all bytes to `fd`, retrying after interruptions, and waiting for
// room where the terminal has none: as long as it takes, or, once a limit is
// set, until then. Returns whether all went out. Safe in a signal handler.
bool WriteAll(int fd, const char *bytes, std::size_t length);
// The time (MonotonicNs) at which a write to `fd` still waiting for room
// gives up, 0 for none: a process that is ending, or stopping, must not
// hang on a terminal that reads nothing (a suspended remote client, a
// frozen emulator). While a limit is set, `fd` is non-blocking, so that
// also a write that a signal interrupted and that restarts comes back to
// wait for room within the limit. LimitWrites keeps an earlier limit. Safe
// in a signal handler.
void LimitWrites(int fd, long long deadlineNs);
long long WriteLimit();
void SetWriteLimit(int fd, long long deadlineNs);
// Reads what has come, without waiting: -1 with EAGAIN where nothing has.
// A signal key (Ctrl+C) flushes the terminal's input, so bytes that a poll
// found may be gone by the read; with the signals held off, a read that
// waited would wait for the next key typed. Safe in a signal handler.
long ReadWithoutWaiting(int fd, unsigned char *bytes, std::size_t capacity);
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
