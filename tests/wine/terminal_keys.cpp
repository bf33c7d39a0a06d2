// terminal_keys [--screen FILE] PROGRAM [ARGUMENTS]: runs PROGRAM in this
// console and ends with its exit code. Before, it looks once at the
// console's input without waiting; after, with --screen, it writes what the
// console's window shows to FILE.
//
// Wine's console on a Unix terminal differs from a Windows console in two
// ways that matter here, and this is how the tests get around them:
// - It reads the terminal's keys only once some program has waited on,
//   peeked at or read its input; a program that only counts the pending
//   input events, as the console module does before it reads one, never
//   sees a key. The look here starts that reading, so that keys typed on
//   the terminal reach PROGRAM as key events from its start, as on Windows.
// - It draws on the terminal as on a log, line after line, and does not
//   redraw what scrolling the screen buffer moved. What a Windows console
//   shows is its buffer, so the screen is read from the buffer itself:
//   FILE gets a first line "cursor ROW COLUMN" (0-based, in the window),
//   then every row of the window in UTF-8, trailing blanks removed.
// - It refuses a scroll of the screen buffer whose destination starts
//   outside the buffer, where Windows clips it: the console module's scroll
//   of the window by one line, which moves it to the row above its top,
//   does nothing when the window starts at the buffer's first row, as it
//   does in a console as large as the terminal. The tests that need the
//   screen to scroll say so and are skipped under Wine; the others use a
//   terminal tall enough for the whole report.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

// The next argument of the command line at `line`, and `line` behind it.
std::string NextArgument(const char *&line) {
  while (*line == ' ') ++line;
  std::string argument;
  bool quoted = false;
  for (; *line != '\0' && (quoted || *line != ' '); ++line) {
    if (*line == '"') quoted = !quoted;
    else argument += *line;
  }
  while (*line == ' ') ++line;
  return argument;
}

bool WriteScreen(const std::string &path) {
  HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) return false;
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const SMALL_RECT window = info.srWindow;
  std::fprintf(out, "cursor %d %d\n", info.dwCursorPosition.Y - window.Top, info.dwCursorPosition.X - window.Left);
  const int width = window.Right - window.Left + 1;
  std::wstring cells(static_cast<size_t>(width), L' ');
  for (SHORT row = window.Top; row <= window.Bottom; ++row) {
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, cells.data(), static_cast<DWORD>(width), COORD{window.Left, row}, &read);
    std::wstring text(cells.data(), read);
    while (!text.empty() && text.back() == L' ') text.pop_back();
    char utf8[4 * 512];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8, sizeof utf8,
                                           nullptr, nullptr);
    std::fwrite(utf8, 1, static_cast<size_t>(length), out);
    std::fputc('\n', out);
  }
  std::fclose(out);
  CloseHandle(screen);
  return true;
}

}  // namespace

int main() {
  const char *line = GetCommandLineA();
  NextArgument(line);  // this program
  std::string screenFile;
  if (std::strncmp(line, "--screen ", 9) == 0) {
    NextArgument(line);
    screenFile = NextArgument(line);
  }
  if (*line == '\0') {
    std::fputs("usage: terminal_keys [--screen FILE] PROGRAM [ARGUMENTS]\n", stderr);
    return 125;
  }
  std::string command = line;

  INPUT_RECORD record;
  DWORD seen = 0;
  PeekConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &seen);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "terminal_keys: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!screenFile.empty() && !WriteScreen(screenFile)) {
    std::fprintf(stderr, "terminal_keys: cannot read the screen into %s\n", screenFile.c_str());
    return 124;
  }
  return static_cast<int>(exitCode);
}
