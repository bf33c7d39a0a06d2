// The run-time driver built for Windows, under Wine: processor and floating
// faults reach the run-time error message through the unhandled-exception
// filter, with the fault's location and the frames of the faulting code,
// and the printed addresses name places in the executable file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
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

ChildResult Drive(std::vector<std::string> args, OutputKind kind = OutputKind::kPipe) {
  args.insert(args.begin(), {GRADES_WINE, RUNTIME_DRIVER_EXE});
  return RunChild(args, kind);
}

// The main routine's return point into the start-up code.
std::string MainReturnPoint() {
  static const std::string point = [] {
    Message message = ParseMessage(Drive({"null-write"}).output);
    return message.frames.size() == 2 ? message.frames[1] : std::string("?");
  }();
  return point;
}

// The name Wine gives a Linux path.
std::string WinePath(const fs::path &path) {
  std::string name = "Z:" + path.string();
  for (char &c : name)
    if (c == '/') c = '\\';
  return name;
}

TEST(WindowsFaults, ReachTheMessageThroughTheFilter) {
  struct Case {
    std::vector<std::string> args;
    int number;
  } cases[] = {
      // The x87 unit under the run's control word.
      {{"quotient", "0", "0"}, 207},
      {{"quotient", "5", "0"}, 200},
      {{"double-quotient", "0", "0"}, 207},
      {{"double-quotient", "5", "0"}, 200},
      {{"overflow"}, 205},
      // The processor.
      {{"int-quotient", "5", "0"}, 200},
      {{"null-write"}, 216},
      {{"illegal"}, 217},
      {{"single-step"}, 217},
      // Raised by the run-time layer itself.
      {{"raise", "201"}, 201},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    ChildResult result = Drive(c.args);
    ASSERT_TRUE(result.exited) << Describe(result);
    EXPECT_EQ(result.exitCode, c.number) << Describe(result);
    Message message = ParseMessage(result.output);
    ASSERT_TRUE(message.found) << Describe(result);
    EXPECT_TRUE(message.wellFormed) << Describe(result);
    EXPECT_EQ(message.before, "");
    EXPECT_EQ(message.number, c.number);
    // The fault's location, then the main routine's return point.
    ASSERT_EQ(message.frames.size(), 2u) << Describe(result);
    EXPECT_EQ(message.frames[0], message.location);
    EXPECT_EQ(message.frames[1], MainReturnPoint());
  }
}

TEST(WindowsFaults, ExtendedArithmeticOnTheHardwareAndInSoftware) {
  ExpectExtendedQuotientStops([](std::vector<std::string> args) { return Drive(args); }, MainReturnPoint());
}

TEST(WindowsFaults, StackOverflowIs202WithTheLongestBackTrace) {
  ChildResult result = Drive({"recurse"});
  ASSERT_TRUE(result.exited) << Describe(result);
  EXPECT_EQ(result.exitCode, 202) << Describe(result);
  Message message = ParseMessage(result.output);
  EXPECT_TRUE(message.wellFormed) << Describe(result);
  EXPECT_EQ(message.number, 202);
  EXPECT_EQ(message.frames.size(), 1u + 257u);
  // Every frame of the recursion returns to the same place.
  std::set<std::string> returns(message.frames.begin() + 2, message.frames.end());
  EXPECT_EQ(returns.size(), 1u);
}

TEST(WindowsFaults, BackTraceToPipeAndFile) {
  for (OutputKind kind : {OutputKind::kPipe, OutputKind::kFile}) {
    for (auto [depth, lines] : {std::pair{3, 1u + 5u}, std::pair{300, 1u + 257u}}) {
      SCOPED_TRACE("depth " + std::to_string(depth) + ", kind " + std::to_string(static_cast<int>(kind)));
      ChildResult result = Drive({"deep", std::to_string(depth)}, kind);
      EXPECT_EQ(result.exitCode, 216) << Describe(result);
      Message message = ParseMessage(result.output);
      EXPECT_TRUE(message.wellFormed) << Describe(result);
      EXPECT_EQ(message.frames.size(), lines);
      if (depth < 9) {
        EXPECT_EQ(message.frames.back(), MainReturnPoint());
      }
    }
  }
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
    ASSERT_TRUE(terminal.Start({GRADES_WINE, TERMINAL_KEYS_EXE, "--screen", WinePath(screen),
                                WinePath(RUNTIME_DRIVER_EXE), "deep", std::to_string(depth)}));
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

TEST(WindowsFaults, FrameZeroIsLeftToThePlatform) {
  ChildResult result = Drive({"frame-zero"});
  EXPECT_EQ(result.output.find("Runtime error"), std::string::npos) << Describe(result);
  EXPECT_FALSE(result.exited && result.exitCode == 216) << Describe(result);
}

TEST(WindowsFaults, FloatingUnitUnderTheRunControlWord) {
  ChildResult quiet = Drive({"quiet-float"});
  EXPECT_EQ(quiet.exitCode, 0) << Describe(quiet);
  EXPECT_EQ(quiet.output, "1\r\n1\r\n1\r\n");
  // No SSE unit in this build: the x87 is the hardware arithmetic.
  EXPECT_EQ(Drive({"float-state"}).output, "main cw 1332 flags 00\r\n");
  // After a floating fault, and with one still pending at another fault,
  // the termination runs on a clean unit.
  ChildResult after = Drive({"float-after-fault", "--trace"});
  EXPECT_EQ(after.exitCode, 207) << Describe(after);
  EXPECT_NE(after.output.find("final 4 cw 1332 flags 00\r\n"), std::string::npos) << Describe(after);
  ChildResult pending = Drive({"pending-float-fault", "--trace"});
  EXPECT_EQ(pending.exitCode, 216) << Describe(pending);
  EXPECT_NE(pending.output.find("final 4 cw 1332 flags 00\r\n"), std::string::npos) << Describe(pending);
}

TEST(WindowsStartup, ProcessStreamsStackAndIoErrors) {
  ChildResult info = Drive({"process-info"});
  EXPECT_EQ(info.exitCode, 0) << Describe(info);
  // On Windows the disk-space loader finds its function in kernel32.
  EXPECT_EQ(info.output, "module\r\ncommand line\r\nlibrary\r\nstreams\r\n");
  ChildResult stack = Drive({"use-stack", "28"});
  EXPECT_EQ(stack.exitCode, 0) << Describe(stack);
  EXPECT_EQ(stack.output, "28\r\n");

  const fs::path missing = fs::temp_directory_path() / "wine-runtime-missing.txt";
  for (auto [path, number] : {std::pair{missing, 2}, std::pair{missing.parent_path() / "no-such-folder" / "x.txt", 3}}) {
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
  auto LineOf = [](const std::string &address) { return SourceLineOf(WINDOWS_ADDR2LINE, RUNTIME_DRIVER_EXE, address); };
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
