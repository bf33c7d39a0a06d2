// The run-time frame seen from outside: the driver program's standard
// output and exit code for I/O errors, stops and terminations, and the
// back-trace by device (its faults are in fault_table_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "driver_launch.h"
#include "run_error_message.h"

namespace {

namespace fs = std::filesystem;

std::string JoinLines(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) text += line + "\r\n";
  return text;
}

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/runtime-frame-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~Scratch() { fs::remove_all(root_); }
  std::string File(const std::string &name, const std::string &bytes) const {
    std::ofstream(root_ / name, std::ios::binary) << bytes;
    return (root_ / name).string();
  }
  std::string Path(const std::string &name) const { return (root_ / name).string(); }

 private:
  fs::path root_;
};

// "file:line" of the driver line marked "after-check: name".
std::string MarkedLine(const std::string &name) {
  std::ifstream source(RUNTIME_DRIVER_SOURCE);
  std::string text;
  for (int number = 1; std::getline(source, text); ++number)
    if (text.find("// after-check: " + name) != std::string::npos)
      return std::string(RUNTIME_DRIVER_SOURCE) + ":" + std::to_string(number);
  return "no marker " + name;
}

// --- run-time errors raised in the main routine ---------------------------

TEST(MainRoutineErrors, IoErrorsGiveTheFourLineMessage) {
  Scratch scratch;
  const std::string bad = scratch.File("bad.txt", "1\nabc\n");
  struct Case {
    std::vector<std::string> args;
    int number;
    std::string before;  // the program's own output before the message
  } cases[] = {
      {{"read", scratch.Path("missing.txt")}, 2, ""},
      {{"read", scratch.Path("no-folder/missing.txt")}, 3, ""},
      {{"read", bad}, 106, "opened\r\n1\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[1]);
    ChildResult result = Drive(c.args);
    ASSERT_TRUE(result.exited) << Describe(result);
    EXPECT_EQ(result.exitCode, c.number) << Describe(result);
    Message message = ParseMessage(result.output);
    EXPECT_TRUE(message.wellFormed) << Describe(result);
    EXPECT_EQ(message.before, c.before);
    EXPECT_EQ(message.number, c.number);
    ASSERT_EQ(message.frames.size(), 2u) << Describe(result);
    EXPECT_EQ(message.frames[0], message.location);
    EXPECT_EQ(message.frames[1], MainReturnPoint());
  }
  // Without a failure: the program's output only, exit code 0.
  ChildResult result = Drive({"read", scratch.File("good.txt", "7\r\n8\n")});
  EXPECT_TRUE(result.exited && result.exitCode == 0) << Describe(result);
  EXPECT_EQ(result.output, "opened\r\n7\r\n8\r\n");
}

TEST(MainRoutineErrors, LocationNamesTheLineAfterTheCheck) {
  // The addr2line of the processor the driver is built for.
  if (!fs::exists(RUNTIME_DRIVER_ADDR2LINE)) GTEST_SKIP() << "SKIPPED: " RUNTIME_DRIVER_ADDR2LINE " is not installed";
  auto LineOf = [](const std::string &address) {
    return SourceLineOf(RUNTIME_DRIVER_ADDR2LINE, RUNTIME_DRIVER, address);
  };
  Scratch scratch;
  const std::string bad = scratch.File("bad.txt", "abc\n");
  struct Case {
    std::vector<std::string> args;
    std::string marker;
    std::size_t frames;
  } cases[] = {
      {{"read", scratch.Path("missing.txt")}, "main-open", 2},
      {{"read", bad}, "main-read", 2},
      {{"read-nested", scratch.Path("missing.txt")}, "open", 3},
      {{"read-nested", bad}, "read", 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.marker);
    Message message = ParseMessage(Drive(c.args).output);
    ASSERT_EQ(message.frames.size(), c.frames);
    EXPECT_EQ(LineOf(message.location), MarkedLine(c.marker));
  }
  // The main routine's return point lies in the start-up code, the
  // processor's machine code.
  const std::string mainReturn = LineOf(MainReturnPoint());
  EXPECT_NE(mainReturn.find("platform/"), std::string::npos) << mainReturn;
  EXPECT_NE(mainReturn.find("/machine_"), std::string::npos) << mainReturn;
}

// --- the back-trace to a terminal (to a pipe and a file: the fault table) --

TEST(BackTrace, StopRulesOnATerminal) {
  struct Case {
    int depth;
    OutputKind kind;
    std::size_t lines;  // "  0x" lines: the location, then the frames
  } cases[] = {
      // depth + 1 frames of the recursion, then the main routine's.
      {3, OutputKind::kTerminal, 1 + 5},
      {300, OutputKind::kTerminal, 1 + 9},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.depth) + ", output kind " + std::to_string(static_cast<int>(c.kind)));
    ChildResult result = Drive({"deep", std::to_string(c.depth)}, c.kind);
    ASSERT_TRUE(result.exited) << Describe(result);
    EXPECT_EQ(result.exitCode, 216);
    Message message = ParseMessage(result.output);
    EXPECT_TRUE(message.wellFormed) << Describe(result);
    ASSERT_EQ(message.frames.size(), c.lines) << Describe(result);
    // Every frame of the recursion returns to the same place.
    std::set<std::string> recursion(message.frames.begin() + 1, message.frames.end() - (c.depth < 9 ? 2 : 0));
    EXPECT_EQ(recursion.size(), 1u);
    if (c.depth < 9) {
      EXPECT_EQ(message.frames.back(), MainReturnPoint());
    }
  }
}

TEST(Startup, CoreInitRecordsTheProcessAndBindsTheStandardStreams) {
  ChildResult result = Drive({"process-info"});
  EXPECT_EQ(result.exitCode, 0) << Describe(result);
  EXPECT_EQ(result.output, "module\r\ncommand line\r\nno library\r\nstreams\r\n");
}

// --- termination ----------------------------------------------------------

TEST(Termination, HandlersFinalisationsAndReentry) {
  const std::vector<std::string> inits = {"init 1", "init 2", "init 3", "init 4"};
  const std::vector<std::string> finals = {"final 4", "final 3", "final 2", "final 1"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> before;  // everything before the message
    int number;                       // of the message, -1 for none
  } cases[] = {
      {{"normal"}, 0, with(with(inits, {"hello"}), finals), -1},
      {{"stop", "1"}, 1, with(with(inits, {"stopping"}), finals), -1},
      {{"stop-in-init"}, 1, with(inits, {"final 3", "final 2", "final 1"}), -1},
      {{"exit-handler-chain"}, 0, with(with(inits, {"exit handler 1", "exit handler 2"}), finals), -1},
      // A fault in the exit handler: the handler does not run again, and the
      // last error decides the message and the exit code.
      {{"exit-handler-fault"}, 216, with(with(inits, {"exit handler"}), finals), 216},
      // A fault in finalisation 3: the others still run, each once.
      {{"final-fault"}, 216, with(inits, finals), 216},
      {{"raise", "100"}, 100, with(inits, finals), 100},
      {{"bad-std-mode"}, 102, with(inits, finals), 102},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    args.push_back("--trace");
    ChildResult result = Drive(args);
    ASSERT_TRUE(result.exited) << Describe(result);
    EXPECT_EQ(result.exitCode, c.exitCode) << Describe(result);
    Message message = ParseMessage(result.output);
    if (c.number < 0) {
      EXPECT_EQ(result.output, JoinLines(c.before));
      continue;
    }
    EXPECT_EQ(message.before, JoinLines(c.before));
    EXPECT_EQ(message.number, c.number);
    EXPECT_TRUE(message.wellFormed) << Describe(result);
  }
}

TEST(Termination, StopProgramWritesNoMessage) {
  for (int code : {0, 1, 255}) {
    ChildResult result = Drive({"stop", std::to_string(code)});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, code);
    EXPECT_EQ(result.output, "stopping\r\n");
  }
}

// --- the SSE unit traps as the x87 does: ordinary library use unaffected --

TEST(FloatTraps, OrdinaryLibraryUseDoesNotTrap) {
  std::vector<std::string> names = SplitLines(Launch({FLOAT_PROBE_PATH, "list"}).output);
  int ordinary = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].rfind("edge:", 0) == 0) continue;
    ++ordinary;
    ChildResult result = Launch({FLOAT_PROBE_PATH, std::to_string(i)});
    EXPECT_TRUE(result.exited && result.exitCode == 0) << Describe(result);
    EXPECT_EQ(result.output, names[i] + "\r\nno trap\r\n");
  }
  EXPECT_GE(ordinary, 10);
}

}  // namespace
