// kernel32's console calls, served by the console host: the in-memory console
// while one is installed, else the terminal.
#include <sched.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/posix/console_host/control.h"
#include "platform/posix/console_host/dispatch.h"
#include "platform/posix/console_host/memory_console.h"
#include "platform/posix/console_host/terminal_host.h"
#include "platform/posix/console_host/terminal_signals.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/timer_tick.h"

namespace platform_posix {
namespace {

using console_host::ConsoleHost;

// Low two bits set: never a descriptor handle, never INVALID_HANDLE_VALUE.
constexpr std::intptr_t kOutputValue = 0x1007;
constexpr std::intptr_t kInputValue = 0x100B;

MemoryConsole *gMemory = nullptr;

BOOL Fail(DWORD code) {
  SetLastErrorCode(code);
  return FALSE;
}

// The descriptor handle last found to be the terminal: a console driver
// makes thousands of calls on one handle. Forgotten when it is closed.
HANDLE gTerminalHandle = nullptr;

// The host behind a handle to a screen buffer, or null.
ConsoleHost *ScreenHost(HANDLE h) {
  if (h == ConsoleOutputHandle()) {
    if (gMemory != nullptr) return &console_host::MemoryAccess::Host(*gMemory);
    return console_host::Terminal();
  }
  if (gMemory != nullptr || h == ConsoleInputHandle()) return nullptr;
  if (h == gTerminalHandle) return console_host::ActiveTerminal();
  int fd = FdFromHandle(h);
  if (fd < 0 || !console_host::IsConsoleTerminal(fd)) return nullptr;
  gTerminalHandle = h;
  return console_host::Terminal();
}

// The host behind a handle to console input, or null.
ConsoleHost *InputHost(HANDLE h) {
  if (h == ConsoleInputHandle()) {
    if (gMemory != nullptr) return &console_host::MemoryAccess::Host(*gMemory);
    return console_host::Terminal();
  }
  if (gMemory != nullptr || h == ConsoleOutputHandle()) return nullptr;
  int fd = FdFromHandle(h);
  return fd >= 0 && console_host::IsConsoleTerminal(fd) ? console_host::Terminal() : nullptr;
}

}  // namespace

HANDLE ConsoleOutputHandle() { return reinterpret_cast<HANDLE>(kOutputValue); }
HANDLE ConsoleInputHandle() { return reinterpret_cast<HANDLE>(kInputValue); }

void InstallMemoryConsole(MemoryConsole &console) { gMemory = &console; }
void RemoveMemoryConsole() { gMemory = nullptr; }

namespace console_host {

bool IsConsoleHandle(HANDLE h) { return h == ConsoleOutputHandle() || h == ConsoleInputHandle(); }

bool OpenConsoleName(LPCSTR name, HANDLE *result) {
  if (name == nullptr) return false;
  bool output = strcasecmp(name, "CONOUT$") == 0;
  if (!output && strcasecmp(name, "CONIN$") != 0) return false;
  bool available = gMemory != nullptr ? gMemory->conoutOpens : Terminal() != nullptr;
  if (!available) {
    SetLastErrorCode(ERROR_INVALID_HANDLE);
    *result = INVALID_HANDLE_VALUE;
  } else {
    SetLastErrorCode(ERROR_SUCCESS);
    *result = output ? ConsoleOutputHandle() : ConsoleInputHandle();
  }
  return true;
}

bool ConsoleStdHandle(DWORD which, HANDLE *result) {
  if (gMemory == nullptr) return false;
  if (which == STD_OUTPUT_HANDLE && gMemory->stdOutputIsConsole) *result = ConsoleOutputHandle();
  else if (which == STD_INPUT_HANDLE && gMemory->stdInputIsConsole) *result = ConsoleInputHandle();
  else return false;
  return true;
}

bool ConsoleWriteFile(HANDLE h, LPCVOID data, DWORD length, LPDWORD written, BOOL *result) {
  HostSection section;
  ConsoleHost *host = nullptr;
  if (h == ConsoleOutputHandle()) {
    host = ScreenHost(h);
  } else if (h == ConsoleInputHandle()) {
    host = nullptr;
  } else {
    // A descriptor that is the terminal goes through the console only once
    // the console is in use; before that the terminal itself shows it.
    int fd = FdFromHandle(h);
    if (gMemory != nullptr || fd < 0 || ActiveTerminal() == nullptr || !IsConsoleTerminal(fd)) return false;
    host = ActiveTerminal();
  }
  if (written != nullptr) *written = 0;
  if (host == nullptr) {
    *result = Fail(ERROR_INVALID_HANDLE);
    return true;
  }
  host->WriteProcessed(static_cast<const char *>(data), length);
  if (written != nullptr) *written = length;
  *result = TRUE;
  return true;
}

bool ConsoleReadFile(HANDLE h, LPVOID data, DWORD length, LPDWORD read, BOOL *result) {
  if (!IsConsoleHandle(h)) return false;
  HostSection section;
  if (read != nullptr) *read = 0;
  ConsoleHost *host = InputHost(h);
  if (host == nullptr) {
    *result = Fail(ERROR_INVALID_HANDLE);
    return true;
  }
  // The characters of the key presses waiting; nothing waiting is the end.
  char *to = static_cast<char *>(data);
  DWORD n = 0, count = 0;
  while (n < length && host->InputCount(&count) && count > 0) {
    INPUT_RECORD r;
    DWORD got = 0;
    host->ReadInput(&r, 1, &got);
    if (got == 1 && r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown && r.Event.KeyEvent.uChar.AsciiChar != 0)
      to[n++] = r.Event.KeyEvent.uChar.AsciiChar;
  }
  if (read != nullptr) *read = n;
  *result = TRUE;
  return true;
}

bool ConsoleCloseHandle(HANDLE h, BOOL *result) {
  if (h == gTerminalHandle) gTerminalHandle = nullptr;
  if (int fd = FdFromHandle(h); fd >= 0) ForgetTerminalFd(fd);
  if (!IsConsoleHandle(h)) return false;
  *result = TRUE;
  return true;
}

bool ConsoleFileType(HANDLE h, DWORD *type) {
  if (!IsConsoleHandle(h)) return false;
  *type = FILE_TYPE_CHAR;
  return true;
}

}  // namespace console_host
}  // namespace platform_posix

using platform_posix::InputHost;
using platform_posix::ScreenHost;

BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE hConsoleOutput, PCONSOLE_SCREEN_BUFFER_INFO info) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr || (platform_posix::gMemory != nullptr && !platform_posix::gMemory->screenInfoWorks))
    return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->GetInfo(info);
}

BOOL WINAPI GetConsoleCursorInfo(HANDLE hConsoleOutput, PCONSOLE_CURSOR_INFO info) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr) return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->GetCursorInfo(info);
}

BOOL WINAPI WriteConsoleOutputA(HANDLE hConsoleOutput, const CHAR_INFO *lpBuffer, COORD dwBufferSize,
                                COORD dwBufferCoord, PSMALL_RECT lpWriteRegion) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr) return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->WriteOutput(lpBuffer, dwBufferSize, dwBufferCoord, lpWriteRegion);
}

BOOL WINAPI ScrollConsoleScreenBufferA(HANDLE hConsoleOutput, const SMALL_RECT *lpScrollRectangle,
                                       const SMALL_RECT *lpClipRectangle, COORD dwDestinationOrigin,
                                       const CHAR_INFO *lpFill) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr) return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->Scroll(lpScrollRectangle, lpClipRectangle, dwDestinationOrigin, lpFill);
}

BOOL WINAPI FillConsoleOutputCharacterA(HANDLE hConsoleOutput, CHAR cCharacter, DWORD nLength, COORD dwWriteCoord,
                                        LPDWORD lpNumberOfCharsWritten) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr) {
    if (lpNumberOfCharsWritten != nullptr) *lpNumberOfCharsWritten = 0;
    return platform_posix::Fail(ERROR_INVALID_HANDLE);
  }
  return host->FillCharacter(static_cast<unsigned char>(cCharacter), nLength, dwWriteCoord, lpNumberOfCharsWritten);
}

BOOL WINAPI FillConsoleOutputAttribute(HANDLE hConsoleOutput, WORD wAttribute, DWORD nLength, COORD dwWriteCoord,
                                       LPDWORD lpNumberOfAttrsWritten) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr) {
    if (lpNumberOfAttrsWritten != nullptr) *lpNumberOfAttrsWritten = 0;
    return platform_posix::Fail(ERROR_INVALID_HANDLE);
  }
  return host->FillAttribute(wAttribute, nLength, dwWriteCoord, lpNumberOfAttrsWritten);
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE hConsoleOutput, COORD dwCursorPosition) {
  platform_posix::console_host::HostSection section;
  platform_posix::console_host::ConsoleHost *host = ScreenHost(hConsoleOutput);
  if (host == nullptr) return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->SetCursor(dwCursorPosition);
}

BOOL WINAPI GetNumberOfConsoleInputEvents(HANDLE hConsoleInput, LPDWORD lpNumberOfEvents) {
  platform_posix::console_host::HostSection section;
  if (lpNumberOfEvents != nullptr) *lpNumberOfEvents = 0;
  platform_posix::console_host::ConsoleHost *host = InputHost(hConsoleInput);
  if (host == nullptr) return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->InputCount(lpNumberOfEvents);
}

BOOL WINAPI ReadConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer, DWORD nLength,
                              LPDWORD lpNumberOfEventsRead) {
  platform_posix::console_host::HostSection section;
  if (lpNumberOfEventsRead != nullptr) *lpNumberOfEventsRead = 0;
  platform_posix::console_host::ConsoleHost *host = InputHost(hConsoleInput);
  if (host == nullptr || lpBuffer == nullptr) return platform_posix::Fail(ERROR_INVALID_HANDLE);
  return host->ReadInput(lpBuffer, nLength, lpNumberOfEventsRead);
}

// Sleep(n) lasts at least n ms, and on to the system timer's next tick
// unless console input ends it sooner (see timer_tick.h). Sleep(0) gives up
// the processor and returns.
void WINAPI Sleep(DWORD dwMilliseconds) {
  // On the terminal, what is drawn shows before the process waits.
  if (platform_posix::console_host::SleepOnTerminal(dwMilliseconds)) return;
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  const long long earliest = platform_posix::MonotonicNs() + static_cast<long long>(dwMilliseconds) * 1000000;
  // Input that the in-memory console holds ends it as typed keys do.
  const bool input = platform_posix::gMemory != nullptr && !platform_posix::gMemory->input.empty();
  platform_posix::SleepUntil(input ? earliest : platform_posix::TickAtOrAfter(earliest));
}
