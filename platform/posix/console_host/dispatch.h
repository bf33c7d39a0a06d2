// Where the file calls hand over to the console host: console names and
// handles, and file descriptors that are the console's terminal. Each hook
// returns true when it took the call.
#pragma once

#include "platform/posix/kernel32.h"

namespace platform_posix::console_host {

bool IsConsoleHandle(HANDLE h);
bool OpenConsoleName(LPCSTR name, HANDLE *result);
bool ConsoleStdHandle(DWORD which, HANDLE *result);
bool ConsoleWriteFile(HANDLE h, LPCVOID data, DWORD length, LPDWORD written, BOOL *result);
bool ConsoleReadFile(HANDLE h, LPVOID data, DWORD length, LPDWORD read, BOOL *result);
bool ConsoleCloseHandle(HANDLE h, BOOL *result);
bool ConsoleFileType(HANDLE h, DWORD *type);

// Waits until descriptor `fd`, which is not the console, is ready for
// `events` (a FIFO, a pipe, a standard handle): 0 then, else the errno of a
// failed poll. Before it, what is drawn goes to the terminal and the
// terminal's own signal keys are made to work; meanwhile, whatever a signal
// asks of the console (a repaint after a resume or a resize) is done at
// once, and a terminal that goes away ends the process.
int WaitForDescriptor(int fd, short events);

}  // namespace platform_posix::console_host
