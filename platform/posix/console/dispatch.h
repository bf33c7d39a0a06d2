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

}  // namespace posix::console
