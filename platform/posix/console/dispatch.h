// Where the file calls hand over to the console host: console names and
// handles, and file descriptors that are the console's terminal. Each hook
// returns true when it took the call.
#pragma once

#include "platform/posix/kernel32.h"

namespace posix::console {

bool IsConsoleHandle(HANDLE h);
bool OpenConsoleName(LPCSTR name, HANDLE *result);
bool ConsoleStdHandle(DWORD which, HANDLE *result);
bool ConsoleWriteFile(HANDLE h, LPCVOID data, DWORD length, LPDWORD written, BOOL *result);
bool ConsoleReadFile(HANDLE h, LPVOID data, DWORD length, LPDWORD read, BOOL *result);
bool ConsoleCloseHandle(HANDLE h, BOOL *result);
bool ConsoleFileType(HANDLE h, DWORD *type);

// Around a wait for a descriptor that is not the console (a FIFO, a pipe, a
// standard handle): before it, what is drawn goes to the terminal and the
// terminal's own signal keys are made to work; after a signal interrupted
// it, whatever the signal asked of the console (a repaint after a resume or
// a resize) is done, and the wait goes on.
void BeforeOutsideWait();
void AfterInterruptedWait();

}  // namespace posix::console
