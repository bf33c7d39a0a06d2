// A program for the pseudo-terminal tests: it uses the console host the way
// the run-time layer does and reports what it saw to a log file.
//
//   console_child script NAME       run a console script, then end normally
//   console_child keys LOG          log every input record until Ctrl+D
//   console_child typeahead LOG     the same, but start the console late
//   console_child info LOG          log the screen buffer info after some raw output
//   console_child wait              start the console and wait for a signal
//   console_child pipe-wait         start the console, read keys once, then wait on a silent pipe
//   console_child compute           start the console, read keys once, then compute for ever
//   console_child stop-continue     a stop, then a continue, while the console is busy; then wait
//   console_child restore-exit      read keys once, restore the terminal by hand, then _exit(3)
//   console_child restore-blocked   read keys until one, fill the terminal's queue, then end
//   console_child paint-blocked     once a key comes, paint a frame larger than the terminal's queue
//   console_child bench LOG         paint the report and log the terminal's figures
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/console_host/control.h"
#include "platform/posix/console_host/terminal_signals.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/timer_tick.h"
#include "tests/platform/posix/console_scripts.h"

// The Latin-1 tests run this program with LOCPATH set, and glibc's newlocale
// keeps the search list it builds from it. Read only by the leak checker,
// which must not print its tally on the terminal under test. gcc's
// symbolizer names the routine __argz_add_sep, clang's argz_add_sep.
extern "C" const char *__lsan_default_suppressions() { return "leak:argz_add_sep\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

namespace {

int logFd = -1;

void Log(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char *format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  (void)!write(logFd, line, static_cast<std::size_t>(n));
}

CONSOLE_SCREEN_BUFFER_INFO StartConsole() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info);
  return info;
}

void Say(const char *text) {
  DWORD n;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &n, nullptr);
}

int LogKeys() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  Say("ready\r\n");
  for (;;) {
    INPUT_RECORD r;
    DWORD got = 0;
    if (!ReadConsoleInputA(in, &r, 1, &got) || got == 0) return 2;
    const KEY_EVENT_RECORD &k = r.Event.KeyEvent;
    if (k.bKeyDown && k.uChar.AsciiChar == 4) return 0;
    Log("%c %02X %02X %02X %04X\n", k.bKeyDown ? 'D' : 'U', k.wVirtualKeyCode, k.wVirtualScanCode,
        static_cast<unsigned char>(k.uChar.AsciiChar), static_cast<unsigned>(k.dwControlKeyState));
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 64;
  std::string mode = argv[1];
  if (argc >= 3 && mode != "script") logFd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);

  if (mode == "script" && argc >= 3) {
    CONSOLE_SCREEN_BUFFER_INFO info = StartConsole();
    return consoletest::RunScript(argv[2], GetStdHandle(STD_OUTPUT_HANDLE), info.dwSize.X, info.dwSize.Y) ? 0 : 65;
  }
  if (mode == "keys") {
    StartConsole();
    return LogKeys();
  }
  if (mode == "typeahead") {
    (void)!write(STDOUT_FILENO, "early\r\n", 7);
    usleep(300000);
    StartConsole();
    return LogKeys();
  }
  if (mode == "info") {
    (void)!write(STDOUT_FILENO, "abc\r\nde", 7);
    CONSOLE_SCREEN_BUFFER_INFO info = StartConsole();
    Log("size %d %d cursor %d %d attr %02X\n", info.dwSize.X, info.dwSize.Y, info.dwCursorPosition.X,
        info.dwCursorPosition.Y, info.wAttributes);
    Say("XY");
    // Scrolls the screen by one row: the text from before the console
    // moves up with everything else.
    for (int i = info.dwCursorPosition.Y; i < info.dwSize.Y; ++i) Say("\r\n");
    Say("end");
    return 0;
  }
  if (mode == "wait" || mode == "stop-continue") {
    StartConsole();
    if (mode == "stop-continue") {
      platform_posix::console_host::EnterHost();
      kill(getpid(), SIGTSTP);
      kill(getpid(), SIGCONT);
      platform_posix::console_host::LeaveHost();
    }
    DWORD count;
    GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count);
    Say("ready\r\n");
    for (;;) {
      Sleep(1);
      GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count);
    }
  }
  if (mode == "pipe-wait") {
    StartConsole();
    DWORD count;
    GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count);
    int ends[2];
    if (pipe(ends) != 0) return 66;
    Say("ready\r\n");
    char byte;
    DWORD got;
    ReadFile(platform_posix::HandleFromFd(ends[0]), &byte, 1, &got, nullptr);
    return 67;
  }
  if (mode == "compute") {
    StartConsole();
    DWORD count;
    GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count);
    Say("ready\r\n");
    volatile bool computing = true;
    while (computing) {
    }
    return 0;
  }
  // Sleeps as asked by the arguments after the log, each started 3 ms past
  // a tick of the system timer; "pending" first waits for a key. Logs each
  // sleep: what it asked, how long it took and how far past its tick it
  // ended, in microseconds.
  if (mode == "sleep") {
    StartConsole();
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD count = 0;
    GetNumberOfConsoleInputEvents(in, &count);
    Say("ready\r\n");
    for (int i = 3; i < argc; ++i) {
      if (std::strcmp(argv[i], "pending") == 0) {
        while (GetNumberOfConsoleInputEvents(in, &count) && count == 0) {
        }
        continue;
      }
      const DWORD asked = static_cast<DWORD>(std::atoi(argv[i]));
      platform_posix::SleepUntil(platform_posix::TickAtOrAfter(platform_posix::MonotonicNs()) + 3000000);
      const long long start = platform_posix::MonotonicNs();
      Sleep(asked);
      const long long end = platform_posix::MonotonicNs();
      const long long tick = platform_posix::TickAtOrAfter(start + asked * 1000000LL);
      Log("%u %lld %lld\n", static_cast<unsigned>(asked), (end - start) / 1000, (end - tick) / 1000);
    }
    return 0;
  }
  if (mode == "restore-exit") {
    StartConsole();
    DWORD count;
    GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count);
    Say("ready\r\n");
    ConsoleHostRestore();
    ConsoleHostRestore();
    _exit(3);
  }
  if (mode == "restore-blocked") {
    // The restore at the end then waits in its write until the terminal
    // reads again.
    StartConsole();
    Say("ready\r\n");
    INPUT_RECORD r;
    DWORD got = 0;
    ReadConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &r, 1, &got);
    int tty = open("/dev/tty", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    char fill[4096];
    std::memset(fill, 'x', sizeof fill);
    // Full only when it stays full: the kernel moves what was written on to
    // the reader's side later, which makes room again (under load, after
    // the first refusal).
    for (int refused = 0; refused < 3;) {
      if (write(tty, fill, sizeof fill) > 0) {
        refused = 0;
      } else {
        ++refused;
        usleep(20000);
      }
    }
    return 0;
  }
  if (mode == "paint-blocked") {
    // The test stops reading before the key: the frame's write then waits
    // half way, inside the console.
    CONSOLE_SCREEN_BUFFER_INFO info = StartConsole();
    Say("ready\r\n");
    INPUT_RECORD r;
    DWORD got = 0;
    ReadConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &r, 1, &got);
    const SHORT w = info.dwSize.X, h = info.dwSize.Y;
    std::vector<CHAR_INFO> cells(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      cells[i].Char.AsciiChar = static_cast<CHAR>('a' + i % 26);
      cells[i].Attributes = i % 2 != 0 ? 0x1E : 0x4F;  // a colour change in every cell
    }
    SMALL_RECT all{0, 0, static_cast<SHORT>(w - 1), static_cast<SHORT>(h - 1)};
    WriteConsoleOutputA(GetStdHandle(STD_OUTPUT_HANDLE), cells.data(), {w, h}, {0, 0}, &all);
    Sleep(1);
    return 0;
  }
  if (mode == "bench") {
    CONSOLE_SCREEN_BUFFER_INFO info = StartConsole();
    platform_posix::TerminalOutputStats before = platform_posix::TerminalHostStats();
    long flushes = 0;
    long size = consoletest::PaintReport(GetStdHandle(STD_OUTPUT_HANDLE), info.dwSize.X, info.dwSize.Y, &flushes);
    Sleep(0);  // the last frame goes out
    platform_posix::TerminalOutputStats after = platform_posix::TerminalHostStats();
    Log("report %ld flushes %ld bytes %llu writes %llu\n", size, flushes, after.bytes - before.bytes,
        after.writeCalls - before.writeCalls);
    return 0;
  }
  return 64;
}
