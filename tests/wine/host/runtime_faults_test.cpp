// The run-time driver built for Windows, under Wine: the back-trace to a
// file and to the console, start-up and I/O errors, and the printed
// addresses name places in the executable file (its faults are in
// tests/runtime/fault_table_test.cpp).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver_launch.h"
#include "run_error_message.h"
#include "tests/support/vterm_pty.h"

namespace {

namespace fs = std::filesystem;

// Every run here uses the one prefix, quietly.
const bool wineSettings = [] {
  setenv("WINEPREFIX", GRADES_WINEPREFIX, 1);
  setenv("WINEDEBUG", "-all", 1);
  return true;
}();

// The name Wine gives a Linux path.
std::string WinePath(const fs::path &path) {
  std::string name = "Z:" + path.string();
  for (char &c : name)
    if (c == '/') c = '\\';
  return name;
}

// A console gets at most 9 frame lines. The driver's standard output is the
// console of a terminal; what the console shows is read from its buffer by
// the launcher (see tests/wine/terminal_keys.cpp).
TEST(WindowsFaults, BackTraceToTheConsole) {
  const fs::path screen = fs::temp_directory_path() / ("wine-console-trace-" + std::to_string(getpid()) + ".txt");
  for (auto [depth, lines] : {std::pair{3, 1u + 5u}, std::pair{300, 1u + 9u}}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    fs::remove(screen);
    testsupport::VtermPty terminal({});
    ASSERT_TRUE(terminal.Start({GRADES_WINE, TERMINAL_KEYS_EXE, "--screen", WinePath(screen), WinePath(RUNTIME_DRIVER),
                                "deep", std::to_string(depth)}));
    ASSERT_TRUE(terminal.WaitForExit(60000));
    ASSERT_TRUE(WIFEXITED(terminal.Status()));
    EXPECT_EQ(WEXITSTATUS(terminal.Status()), 216) << terminal.ScreenText();

    // The screen's rows from the message's header on, as lines of output.
    std::ifstream in(screen);
    std::string row, text;
    bool inMessage = false;
    while (std::getline(in, row)) {
      inMessage = inMessage || row.rfind("Runtime error ", 0) == 0;
      if (inMessage) text += row + "\r\n";
    }
    while (text.size() > 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0) text.erase(text.size() - 2);
    text += "\r\n";
    Message message = ParseMessage(text);
    ASSERT_TRUE(message.found) << terminal.ScreenText();
    EXPECT_TRUE(message.wellFormed) << text;
    EXPECT_EQ(message.number, 216);
    EXPECT_EQ(message.frames.size(), lines) << text;
  }
  fs::remove(screen);
}

TEST(WindowsStartup, ProcessStreamsAndIoErrors) {
  ChildResult info = Drive({"process-info"});
  EXPECT_EQ(info.exitCode, 0) << Describe(info);
  // On Windows the disk-space loader finds its function in kernel32.
  EXPECT_EQ(info.output, "module\r\ncommand line\r\nlibrary\r\nstreams\r\n");

  const fs::path missing = fs::temp_directory_path() / "wine-runtime-missing.txt";
  for (auto [path, number] :
       {std::pair{missing, 2}, std::pair{missing.parent_path() / "no-such-folder" / "x.txt", 3}}) {
    ChildResult result = Drive({"read", WinePath(path)});
    EXPECT_EQ(result.exitCode, number) << Describe(result);
    Message message = ParseMessage(result.output);
    EXPECT_TRUE(message.wellFormed) << Describe(result);
    EXPECT_EQ(message.number, number);
  }
}

// "file:line" of the first driver line containing `text` after the line
// containing `after`.
std::string SourceLine(const std::string &after, const std::string &text) {
  std::ifstream source(RUNTIME_DRIVER_SOURCE);
  std::string line;
  bool seen = false;
  for (int number = 1; std::getline(source, line); ++number) {
    if (!seen) {
      seen = line.find(after) != std::string::npos;
      continue;
    }
    if (line.find(text) != std::string::npos) return std::string(RUNTIME_DRIVER_SOURCE) + ":" + std::to_string(number);
  }
  return "no line " + text;
}

TEST(WindowsFaults, AddressesAreThoseOfTheExecutableFile) {
  if (std::string(WINDOWS_ADDR2LINE).empty()) GTEST_SKIP() << "SKIPPED: no addr2line for Windows images";
  auto LineOf = [](const std::string &address) { return SourceLineOf(WINDOWS_ADDR2LINE, RUNTIME_DRIVER, address); };
  // A fault: the faulting statement itself (one the compiler cannot share
  // with another branch).
  Message fault = ParseMessage(Drive({"int-quotient", "5", "0"}).output);
  EXPECT_EQ(LineOf(fault.location), SourceLine("Is(\"int-quotient\")", "SayNumber(IntArg(2) / (IntArg(3) + zero));"));
  // An I/O error: the line after the check.
  Message io = ParseMessage(Drive({"read", WinePath(fs::temp_directory_path() / "wine-runtime-missing.txt")}).output);
  EXPECT_EQ(LineOf(io.location), SourceLine("Is(\"read\")", "// after-check: main-open"));
  // The main routine's return point lies in the start-up code.
  EXPECT_NE(LineOf(MainReturnPoint()).find("platform/x86/machine_x86.cpp"), std::string::npos);
}

}  // namespace
