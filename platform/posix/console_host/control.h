// The console host of the POSIX kernel32 layer: what serves the console
// calls (GetConsoleScreenBufferInfo, WriteConsoleOutputA, ReadConsoleInputA,
// ...). By default that is the process's terminal (/dev/tty), started at its
// first use; tests install an in-memory console instead.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "platform/posix/kernel32.h"

// Puts the terminal back as the process found it: the terminal mode, the
// colours and the keyboard protocol. Safe in a signal handler and idempotent;
// a signal that arrives meanwhile is taken once it is done. Does nothing
// when the terminal host never started. Runs by itself at exit (ExitProcess
// too), on SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGABRT, and before a fault
// the exception filter declines ends the process.
void ConsoleHostRestore();

namespace platform_posix {

namespace console_host {
struct MemoryAccess;
}

// The handles that stand for the console's screen buffer ("CONOUT$") and its
// input ("CONIN$").
HANDLE ConsoleOutputHandle();
HANDLE ConsoleInputHandle();

// A console that lives in memory: a screen buffer of any size and a queue of
// input events. While one is installed, GetStdHandle(STD_OUTPUT_HANDLE) and
// CreateFileA("CONOUT$") give its screen buffer, GetStdHandle(STD_INPUT_HANDLE)
// its input, every console call on them is served by it, WriteFile to the
// screen buffer is processed console output, GetFileType says
// FILE_TYPE_CHAR, and CloseHandle succeeds without closing anything.
class MemoryConsole {
 public:
  MemoryConsole(int columns, int rows);
  ~MemoryConsole();
  MemoryConsole(const MemoryConsole &) = delete;
  MemoryConsole &operator=(const MemoryConsole &) = delete;

  int Columns() const;
  int Rows() const;
  unsigned char CharAt(int x, int y) const;
  WORD AttributeAt(int x, int y) const;
  // The characters of row y, one byte per cell.
  std::string RowText(int y) const;
  void SetCell(int x, int y, unsigned char ch, WORD attr);
  // Sets every cell.
  void Fill(unsigned char ch, WORD attr);

  COORD Cursor() const;
  void SetCursor(COORD position);
  // The attribute GetConsoleScreenBufferInfo reports as wAttributes and
  // processed output writes with.
  WORD Attributes() const;
  void SetAttributes(WORD attr);
  CONSOLE_CURSOR_INFO cursorInfo{25, TRUE};

  // Events that ReadConsoleInputA hands out, oldest first.
  std::deque<INPUT_RECORD> input;
  // Bells that processed output rang.
  int bells = 0;

  // Ways for the console to be missing, to test how callers cope.
  bool stdOutputIsConsole = true;  // else GetStdHandle gives the process's real stdout
  bool stdInputIsConsole = true;   // else GetStdHandle gives the process's real stdin
  bool conoutOpens = true;         // else CreateFileA("CONOUT$") fails
  bool screenInfoWorks = true;     // else GetConsoleScreenBufferInfo fails

 private:
  friend struct console_host::MemoryAccess;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Serves the console calls from `console` until RemoveMemoryConsole.
void InstallMemoryConsole(MemoryConsole &console);
void RemoveMemoryConsole();

// What the terminal host sent to the terminal so far.
struct TerminalOutputStats {
  unsigned long long bytes;
  unsigned long long writeCalls;
};
TerminalOutputStats TerminalHostStats();

}  // namespace platform_posix
