// The grade program on the terminals users have: keys and signals that end
// or stop it (also where the kitty keyboard protocol hides the keys from the
// terminal driver), suspend and resume, answers that come late over a slow
// link, and resizes. Every run must leave the terminal as it found it.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/grades/grade_run.h"

namespace {

using gradetest::DriveRoot;
using gradetest::kSampleGrades;
using gradetest::kWorkedExample;
using gradetest::ProcessState;
using gradetest::ProgramUnderTest;
using gradetest::Report;
using gradetest::RunGrades;
using gradetest::RunOptions;
using gradetest::RunResult;
using testsupport::JobOf;
using testsupport::VtermPty;

void ExpectTerminalBack(const RunResult &run) {
  EXPECT_TRUE(run.modeRestored);
  EXPECT_TRUE(run.coloursReset);
  EXPECT_EQ(run.kittyPushes, run.kittyPops);
}

void ExpectSampleResults(const DriveRoot &root) {
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), "0\r\n12\r\n-2\r\n");
  EXPECT_EQ(DriveRoot::Read(root.GoodFile()), "5\r\n3\r\n4\r\n3\r\n1\r\n");
}

bool SameMode(const termios &a, const termios &b) {
  return a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cc[VMIN] == b.c_cc[VMIN];
}

// ---------------------------------------------------------------------------
// Keys and signals that end the process at the final wait.

struct EndCase {
  std::string name;
  bool kitty;
  std::function<void(VtermPty &)> atWait;
  int signal;
  int pushes;  // of the keyboard protocol, each popped again
  // An address sanitizer in the program would take a SIGSEGV for itself.
  std::vector<std::string> environment = {};
};

void PrintTo(const EndCase &c, std::ostream *os) { *os << c.name; }

class EndAtTheWaitTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndAtTheWaitTest, DiesByTheSignalWithTheTerminalBack) {
  const EndCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.kittyKeyboard = c.kitty;
  options.atWait = c.atWait;
  options.environment = c.environment;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_EQ(run.signal, c.signal);
  ExpectTerminalBack(run);
  EXPECT_EQ(run.kittyPushes, c.pushes);
  EXPECT_EQ(Report(run), kWorkedExample);
  ExpectSampleResults(root);
}

// Every other signal whose default action ends a process, with the keyboard
// protocol and without.
std::vector<EndCase> OtherEndingSignals() {
  const std::pair<const char *, int> signals[] = {
      {"Sigusr1", SIGUSR1}, {"Sigusr2", SIGUSR2}, {"Sigxcpu", SIGXCPU},       {"Sigvtalrm", SIGVTALRM},
      {"Sigprof", SIGPROF}, {"Sigpwr", SIGPWR},   {"Sigrtmin5", SIGRTMIN + 5}};
  std::vector<EndCase> cases;
  for (const auto &[name, sig] : signals) {
    for (bool kitty : {false, true}) {
      const int s = sig;
      cases.push_back(
          {std::string(name) + (kitty ? "Kitty" : ""), kitty, [s](VtermPty &p) { p.Signal(s); }, s, kitty ? 1 : 0});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Signals, EndAtTheWaitTest, ::testing::ValuesIn(OtherEndingSignals()),
                         [](const auto &info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Keys, EndAtTheWaitTest,
    ::testing::Values(EndCase{"KittyCtrlC", true, [](VtermPty &p) { p.TypeCtrl('c'); }, SIGINT, 1},
                      EndCase{"KittyCtrlBackslash", true, [](VtermPty &p) { p.TypeCtrl('\\'); }, SIGQUIT, 1},
                      EndCase{"CtrlBackslash", false, [](VtermPty &p) { p.TypeCtrl('\\'); }, SIGQUIT, 0},
                      EndCase{"Sigquit", true, [](VtermPty &p) { p.Signal(SIGQUIT); }, SIGQUIT, 1},
                      EndCase{"Sigabrt", true, [](VtermPty &p) { p.Signal(SIGABRT); }, SIGABRT, 1},
                      // Sent by another process: no fault of the program's, so its
                      // exception filter declines it.
                      EndCase{"SigsegvFromAnotherProcess",
                              true,
                              [](VtermPty &p) { p.Signal(SIGSEGV); },
                              SIGSEGV,
                              1,
                              {"ASAN_OPTIONS=handle_segv=0"}}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Suspend and resume, under a shell with job control.

struct StopCase {
  const char *name;
  bool kitty;
  std::function<void(VtermPty &, int job)> stop;
  int pushes;
};

void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

class SuspendTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(SuspendTest, GivesTheTerminalBackAndRepaintsOnResume) {
  const StopCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.kittyKeyboard = c.kitty;
  options.launcher = {JOB_SHELL};
  bool stopped = false, modeBackWhileStopped = false, protocolOffWhileStopped = false, repainted = false,
       keyModeAgain = false, protocolAgain = false;
  options.atWait = [&](VtermPty &pty) {
    const int job = JobOf(pty.Pid());
    c.stop(pty, job);
    stopped = VtermPty::WaitUntil([&] { return ProcessState(job) == 'T'; });
    modeBackWhileStopped = SameMode(pty.Mode(), pty.InitialMode());
    protocolOffWhileStopped = VtermPty::WaitUntil([&] { return pty.KittyFlags() == 0; }, 2000);
    // The shell draws over the report, then "fg" continues the job.
    pty.DrawOver("\x1b[H\x1b[2J$ fg\r\n");
    pty.WaitForText("$ fg");
    kill(pty.Pid(), SIGUSR1);
    repainted = pty.WaitForText(kWorkedExample.back()) && pty.ScreenText().find("$ fg") == std::string::npos;
    keyModeAgain = VtermPty::WaitUntil([&] { return (pty.Mode().c_lflag & (ICANON | ECHO)) == 0; });
    protocolAgain = VtermPty::WaitUntil([&] { return pty.KittyFlags() == (c.kitty ? 31 : 0); }, 2000);
    pty.Type("k");
  };
  RunResult run = RunGrades(root, options);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(modeBackWhileStopped);
  EXPECT_TRUE(protocolOffWhileStopped);
  EXPECT_TRUE(repainted);
  EXPECT_TRUE(keyModeAgain);
  EXPECT_TRUE(protocolAgain);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  ExpectTerminalBack(run);
  EXPECT_EQ(run.kittyPushes, c.pushes);
  EXPECT_EQ(Report(run), kWorkedExample);
  EXPECT_EQ(run.cursorRow, 17);
  EXPECT_EQ(run.cursorColumn, 18);
  ExpectSampleResults(root);
}

INSTANTIATE_TEST_SUITE_P(Stops, SuspendTest,
                         ::testing::Values(StopCase{"CtrlZ", false, [](VtermPty &p, int) { p.TypeCtrl('z'); }, 0},
                                           StopCase{"KittyCtrlZ", true, [](VtermPty &p, int) { p.TypeCtrl('z'); }, 2},
                                           StopCase{"KillTstp", true,
                                                    [](VtermPty &, int job) {
                                                      if (job > 0) kill(job, SIGTSTP);  // never kill(-1, ...)
                                                    },
                                                    2}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The program as a job of a real interactive shell: stopped, then killed, or
// left stopped in a shell that exits.

bool Gone(int pid) {
  const char state = ProcessState(pid);
  return state == 0 || state == 'Z';
}

// bash as a user has it (job control, no start-up files, the prompt "$ ") in
// `pty`, with the program on `root` started as its job and stopped by
// Ctrl+Z; `shells` nested shells deep. Returns the job's pid, -1 on failure.
int StopAsJob(VtermPty &pty, const DriveRoot &root, int shells) {
  ProgramUnderTest().MapDrive(root);
  if (!pty.Start({"/bin/bash", "--norc", "--noprofile", "-i"}) || !pty.WaitForText("$ ")) return -1;
  int shell = pty.Pid();
  for (int i = 1; i < shells; ++i) {
    pty.Type("bash --norc --noprofile -i\rPS1='inner$ '\r");
    if (!pty.WaitForText("inner$ ")) return -1;
    shell = JobOf(shell);
  }
  std::string command;
  for (const std::string &word : ProgramUnderTest().terminalCommand) command += "'" + word + "' ";
  pty.Type(command + "\r");
  if (!pty.WaitForText(kWorkedExample.back()) || !gradetest::WaitUntilQuiet(pty)) return -1;
  const int job = JobOf(shell);
  pty.TypeCtrl('z');
  if (!VtermPty::WaitUntil([&] { return ProcessState(job) == 'T'; }) || !pty.WaitForText("Stopped")) return -1;
  return job;
}

struct KillCase {
  const char *name;
  const char *command;
  const char *report;  // what bash says of the job's end
};

void PrintTo(const KillCase &c, std::ostream *os) { *os << c.name; }

class KillStoppedJobTest : public ::testing::TestWithParam<KillCase> {};

// The shell sends the signal, then SIGCONT: the program ends at once, by
// that signal, without taking the terminal from the shell first.
TEST_P(KillStoppedJobTest, EndsWithinASecond) {
  const KillCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  VtermPty pty({25, 80, false, 0, {"PS1=$ ", "HISTFILE=/dev/null"}});
  const int job = StopAsJob(pty, root, 1);
  ASSERT_GT(job, 0) << pty.ScreenText();
  pty.Type(std::string(c.command) + "\r");
  // Timed from the continue that the shell sends with the signal: the
  // shell's own time to read the command line is not the program's.
  EXPECT_TRUE(VtermPty::WaitUntil([&] { return ProcessState(job) != 'T'; }, 5000));
  const auto continued = std::chrono::steady_clock::now();
  EXPECT_TRUE(VtermPty::WaitUntil([&] { return Gone(job); }, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - continued, std::chrono::seconds(1));
  // bash may miss the end of a job that ends right after the continue it
  // sent, until another child of its own ends: one does first.
  pty.Type("/bin/true; jobs\r");
  EXPECT_TRUE(pty.WaitForText(c.report, 5000)) << pty.ScreenText();
  pty.Type("exit\r");
  EXPECT_TRUE(pty.WaitForExit());
}

INSTANTIATE_TEST_SUITE_P(Shell, KillStoppedJobTest,
                         ::testing::Values(KillCase{"Term", "kill %1", "Terminated"},
                                           KillCase{"Hup", "kill -HUP %1", "Hangup"}),
                         [](const auto &info) { return std::string(info.param.name); });

// A shell that exits with the program stopped in it: the kernel sends the
// orphaned job SIGHUP, then SIGCONT. It ends without drawing or asking the
// terminal anything, so the outer shell's next command line arrives intact.
TEST(OrphanedJobTest, EndsWithoutTouchingTheOuterShell) {
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  VtermPty pty({25, 80, false, 0, {"PS1=$ ", "HISTFILE=/dev/null"}});
  const int job = StopAsJob(pty, root, 2);
  ASSERT_GT(job, 0) << pty.ScreenText();
  pty.Type("exit\r");
  ASSERT_TRUE(pty.WaitForText("There are stopped jobs"));
  const std::size_t before = pty.Output().size();
  pty.Type("exit\r");
  EXPECT_TRUE(VtermPty::WaitUntil([&] { return Gone(job); }, 2000));
  pty.Type("echo intact\r");
  ASSERT_TRUE(pty.WaitForText("$ echo intact"));
  EXPECT_TRUE(VtermPty::WaitUntil([&] {
    for (int r = 0; r < pty.Rows(); ++r)
      if (pty.RowText(r).starts_with("intact")) return true;
    return false;
  })) << pty.ScreenText();
  // Neither the report again, nor a question to the terminal.
  const std::string after = pty.Output().substr(before);
  EXPECT_EQ(after.find("A fajlban"), std::string::npos);
  EXPECT_EQ(after.find("\x1b[c"), std::string::npos);
  EXPECT_EQ(after.find("\x1b[6n"), std::string::npos);
  pty.Type("exit\r");
  EXPECT_TRUE(pty.WaitForExit());
}

// ---------------------------------------------------------------------------
// A terminal that reads nothing (a frozen emulator, a suspended remote
// client): an ending signal still ends the program within a second, with
// the terminal's mode put back, while its first write waits.

bool InWrite(int pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto &entry : std::filesystem::directory_iterator(tasks)) {
    std::ifstream f(entry.path() / "syscall");
    std::string number;
    f >> number;
    if (number == "1") return true;  // write(2)
  }
  return false;
}

TEST(StuckTerminalTest, AnEndingSignalEndsItWithinASecond) {
  struct Case {
    const char *name;
    bool fromTheStart;  // else from the wait, whose key then ends the program
  };
  for (const Case &c : {Case{"its first write", true}, Case{"the put-back after a key", false}}) {
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
      DriveRoot root;
      root.WriteGrades(kSampleGrades);
      RunOptions options;
      options.terminalReadsNothing = c.fromTheStart;
      options.pressKeyAtWait = false;
      bool blocked = false, ended = false;
      std::chrono::steady_clock::duration took{};
      auto stuck = [&](VtermPty &pty) {
        if (!c.fromTheStart) {
          pty.PauseReading(true);
          pty.FillQueue();
          pty.Type("k");
        }
        blocked = VtermPty::WaitUntil([&] { return InWrite(pty.Pid()); });
        const auto sent = std::chrono::steady_clock::now();
        pty.Signal(sig);
        ended = VtermPty::WaitUntil([&] { return Gone(pty.Pid()); }, 5000);
        took = std::chrono::steady_clock::now() - sent;
        pty.PauseReading(false);
      };
      if (c.fromTheStart) options.whileRunning = stuck;
      else options.atWait = stuck;
      RunResult run = RunGrades(root, options);
      EXPECT_TRUE(blocked) << c.name << ", " << sig;
      EXPECT_TRUE(ended) << c.name << ", " << sig;
      EXPECT_LT(took, std::chrono::seconds(1)) << c.name << ", " << sig;
      EXPECT_EQ(run.signal, sig) << c.name;
      EXPECT_TRUE(run.modeRestored) << c.name << ", " << sig;
    }
  }
}

// ---------------------------------------------------------------------------
// Answers to the start-up questions that come after the console stopped
// waiting for them are no keys.

struct LateCase {
  const char *name;
  std::vector<std::string> launcher;
};

void PrintTo(const LateCase &c, std::ostream *os) { *os << c.name; }

class LateAnswerTest : public ::testing::TestWithParam<LateCase> {};

TEST_P(LateAnswerTest, DoesNotEndTheWait) {
  const LateCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.replyDelayMs = 1500;
  options.launcher = c.launcher;
  bool answered = false, stillWaiting = false;
  options.atWait = [&](VtermPty &pty) {
    answered = VtermPty::WaitUntil([&] { return pty.AnswersPending() == 0; });
    // The program polls the keyboard every millisecond; give it time to
    // mistake the answers for keys.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stillWaiting = ProcessState(pty.Pid()) != 'Z' && ProcessState(pty.Pid()) != 0;
    pty.Type("k");
  };
  RunResult run = RunGrades(root, options);
  EXPECT_TRUE(answered);
  EXPECT_TRUE(stillWaiting);
  EXPECT_EQ(run.exitCode, 0);
  ExpectTerminalBack(run);
  EXPECT_EQ(Report(run), kWorkedExample);
  EXPECT_EQ(run.cursorRow, 17);
  EXPECT_EQ(run.cursorColumn, 18);
}

// A program that ends before the answers to its start-up questions came
// (a key typed ahead, a link slower than the console waits at the start)
// waits for them at the end: the shell never gets them.
TEST(LateAnswerTest, AreNotLeftForTheShellByAnEarlyEnd) {
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.replyDelayMs = 800;
  options.keysBefore = "k";
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.leftForShell, 0);
  ExpectTerminalBack(run);
}

INSTANTIATE_TEST_SUITE_P(SlowLink, LateAnswerTest,
                         ::testing::Values(
                             // The cursor report CSI 1;1 R has the form of F3 with modifiers.
                             LateCase{"CursorInTheTopRow", {}},
                             LateCase{"CursorFurtherDown", {"/bin/sh", "-c", "printf '\\n\\n\\n\\n'; exec \"$0\""}}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Frames: a report painted faster than a frame is on the terminal, whole,
// before the program waits for the key.

TEST(FrameTest, TheScreenIsCompleteAtTheWait) {
  std::string thousand;
  for (int i = 0; i < 1000; ++i) thousand += std::to_string(i % 9 - 1) + "\r\n";
  for (const std::string &grades : {kSampleGrades, thousand}) {
    DriveRoot root;
    root.WriteGrades(grades);
    RunResult atWait;
    RunOptions options;
    options.atWait = [&](VtermPty &pty) {
      for (int r = 0; r < pty.Rows(); ++r) atWait.rows.push_back(pty.RowText(r));
      pty.Cursor(&atWait.cursorRow, &atWait.cursorColumn);
      pty.Type("k");
    };
    RunResult run = RunGrades(root, options);
    ASSERT_EQ(run.exitCode, 0);
    for (std::string &row : atWait.rows) row.erase(row.find_last_not_of(' ') + 1);
    EXPECT_EQ(atWait.rows, run.rows);
    EXPECT_EQ(std::tie(atWait.cursorRow, atWait.cursorColumn), std::tie(run.cursorRow, run.cursorColumn));
  }
}

// ---------------------------------------------------------------------------
// Scrollback: every row that scrolls off the top reaches the terminal first,
// so the terminal's scrollback and screen hold the whole report, each row
// once, in order, as a terminal tall enough to show it all does.

TEST(ScrollbackTest, HoldsWhatScrolledOffTheScreen) {
  for (int values : {300, 1000}) {
    std::string grades;
    for (int i = 0; i < values; ++i) grades += std::to_string(i % 9 - 1) + "\r\n";
    DriveRoot root;
    root.WriteGrades(grades);
    RunOptions tall;
    tall.rows = 200;
    const RunResult whole = RunGrades(root, tall);
    ASSERT_LT(Report(whole).size(), 200u) << values << " values";
    ASSERT_TRUE(whole.scrollback.empty());
    const RunResult run = RunGrades(root);
    ASSERT_EQ(run.exitCode, 0);
    std::vector<std::string> seen = run.scrollback;
    for (const std::string &row : Report(run)) seen.push_back(row);
    EXPECT_EQ(seen, Report(whole)) << values << " values";
  }
}

// 300 values, valid and invalid: a report that fills the screen many times.
std::string Report300() {
  std::string grades;
  for (int i = 0; i < 300; ++i) grades += std::to_string(i % 9 - 1) + "\r\n";
  return grades;
}

// Resizes at the wait, in a terminal that pulls rows back from its
// scrollback onto a taller screen (as xterm does) and in one that adds blank
// rows there (as kitty does): every row is still in the scrollback or on the
// screen, in order; where the terminal pulls rows back, each once.
TEST(ScrollbackTest, KeepsEveryRowThroughResizes) {
  DriveRoot root;
  root.WriteGrades(Report300());
  RunOptions tall;
  tall.rows = 200;
  const std::vector<std::string> whole = Report(RunGrades(root, tall));
  for (bool pullsBack : {true, false}) {
    for (const std::vector<int> &sizes :
         std::vector<std::vector<int>>{{40, 25}, {12, 25}, {12, 40, 25}, {40, 12, 25}}) {
      std::string what = pullsBack ? "pulling back:" : "adding rows:";
      for (int rows : sizes) what += " " + std::to_string(rows);
      RunOptions options;
      options.pullsBackOnGrow = pullsBack;
      options.atWait = [&](VtermPty &pty) {
        for (int rows : sizes) {
          pty.Resize(rows, 80);
          std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        pty.Type("k");
      };
      const RunResult run = RunGrades(root, options);
      ASSERT_EQ(run.exitCode, 0) << what;
      std::vector<std::string> seen = run.scrollback;
      for (const std::string &row : Report(run)) seen.push_back(row);
      if (pullsBack) {
        EXPECT_EQ(seen, whole) << what;
        continue;
      }
      std::size_t found = 0;
      for (const std::string &row : seen) found += found < whole.size() && row == whole[found] ? 1 : 0;
      EXPECT_EQ(found, whole.size()) << what;
    }
  }
}

// A stop, a continue and two resizes at the wait, in a terminal that keeps
// a cleared screen in its scrollback (as alacritty and VTE do): the repaints
// add nothing to it.
TEST(ScrollbackTest, RepaintsAddNothing) {
  DriveRoot root;
  root.WriteGrades(Report300());
  RunOptions options;
  options.launcher = {JOB_SHELL};
  options.pullsBackOnGrow = true;
  options.keepsClearedScreen = true;
  std::vector<std::string> before, after;
  options.atWait = [&](VtermPty &pty) {
    before = pty.Scrollback();
    const int job = JobOf(pty.Pid());
    if (job <= 0) return;  // never kill(-1, ...)
    kill(job, SIGTSTP);
    VtermPty::WaitUntil([&] { return ProcessState(job) == 'T'; });
    kill(pty.Pid(), SIGUSR1);
    VtermPty::WaitUntil([&] { return ProcessState(job) != 'T'; });
    gradetest::WaitUntilQuiet(pty);
    for (int rows : {30, 25}) {
      pty.Resize(rows, 80);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    after = pty.Scrollback();
    pty.Type("k");
  };
  const RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(before.empty());
  EXPECT_EQ(after, before);
}

// ---------------------------------------------------------------------------
// The end: what the shell prints next starts a line of its own, below the
// report or a run-time error's message.

TEST(EndTest, TheShellsNextOutputStartsALine) {
  struct Case {
    const char *name;
    bool grades;
    std::function<void(VtermPty &)> atWait;
  };
  const std::vector<Case> cases = {
      {"a key", true, [](VtermPty &p) { p.Type("k"); }},
      {"SIGTERM", true,
       [](VtermPty &p) {
         if (const int job = JobOf(p.Pid()); job > 0) kill(job, SIGTERM);
       }},
      {"a run-time error", false, [](VtermPty &) {}},
  };
  for (const Case &c : cases) {
    DriveRoot root;
    if (c.grades) root.WriteGrades(kSampleGrades);
    RunOptions options;
    options.launcher = {"/bin/sh", "-c", "\"$0\"; printf '$ '"};
    options.atWait = c.atWait;
    const RunResult run = RunGrades(root, options);
    const std::vector<std::string> rows = Report(run);
    ASSERT_FALSE(rows.empty()) << c.name;
    EXPECT_EQ(rows.back(), "$") << c.name;
    if (c.grades) {
      EXPECT_NE(std::find(rows.begin(), rows.end(), kWorkedExample.back()), rows.end()) << c.name;
    }
  }
}

// ---------------------------------------------------------------------------
// Key reports the terminal sent under the keyboard protocol before it saw
// the pop at the end: the release of the key that ended the wait, or of
// Ctrl+C, typed after the program read the press. None is left for the
// shell.

struct LateReleaseCase {
  const char *name;
  std::string press, release;
  int exitCode, signal;
  int readsNothingMs = 50;  // how long the terminal reads nothing before the release
};

void PrintTo(const LateReleaseCase &c, std::ostream *os) { *os << c.name; }

class LateReleaseTest : public ::testing::TestWithParam<LateReleaseCase> {};

TEST_P(LateReleaseTest, IsReadBeforeTheShellGetsTheTerminal) {
  const LateReleaseCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.kittyKeyboard = true;
  bool pressRead = false;
  options.atWait = [&](VtermPty &pty) {
    // The terminal reads nothing the program sends (its pop among it) until
    // the release is on its way.
    pty.PauseReading(true);
    pty.Type(c.press);
    pressRead = VtermPty::WaitUntil([&] { return pty.InputQueued() == 0; }, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(c.readsNothingMs));
    pty.Type(c.release);
    pty.PauseReading(false);
  };
  RunResult run = RunGrades(root, options);
  EXPECT_TRUE(pressRead);
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.signal, c.signal);
  EXPECT_EQ(run.leftForShell, 0);
  ExpectTerminalBack(run);
  EXPECT_EQ(Report(run), kWorkedExample);
}

INSTANTIATE_TEST_SUITE_P(KittyProtocol, LateReleaseTest,
                         ::testing::Values(LateReleaseCase{"TheEndingKey", "\x1b[107u", "\x1b[107;1:3u", 0, 0},
                                           LateReleaseCase{"CtrlC", "\x1b[99;5u", "\x1b[99;5:3u", -1, SIGINT},
                                           // Longer than a terminal takes to answer, but for a loaded
                                           // machine or a slow remote link.
                                           LateReleaseCase{"CtrlCAfterTheTerminalReadNothingFor700Ms", "\x1b[99;5u",
                                                           "\x1b[99;5:3u", -1, SIGINT, 700},
                                           LateReleaseCase{"TheEndingKeyAfterTheTerminalReadNothingFor700Ms",
                                                           "\x1b[107u", "\x1b[107;1:3u", 0, 0, 700}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Keys in xterm's modifyOtherKeys form, as zutty sends them (and xterm with
// CSI > 4;2 m): each ends the wait, and nothing is left for the shell.

TEST(OtherKeysTest, EndTheWait) {
  for (const char *key : {"\x1b[27;5;9~", "\x1b[27;5;13~", "\x1b[27;2;13~", "\x1b[27;6;9~", "\x1b[27;6;65~"}) {
    SCOPED_TRACE(std::string(key + 1));
    DriveRoot root;
    root.WriteGrades(kSampleGrades);
    RunOptions options;
    options.atWait = [&](VtermPty &pty) { pty.Type(key); };
    RunResult run = RunGrades(root, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.leftForShell, 0);
    ExpectTerminalBack(run);
  }
}

// ---------------------------------------------------------------------------
// A terminal that goes away at the wait (a closed window, a dropped remote
// login) ends the program, also where SIGHUP is ignored (nohup).

TEST(HangUpTest, EndsTheProgramEvenWithSighupIgnored) {
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.launcher = {"/bin/sh", "-c", "trap '' HUP; exec \"$0\""};
  std::chrono::steady_clock::time_point hungUp;
  options.atWait = [&](VtermPty &pty) {
    hungUp = std::chrono::steady_clock::now();
    pty.HangUp();
  };
  RunResult run = RunGrades(root, options);
  const auto took = std::chrono::steady_clock::now() - hungUp;
  EXPECT_EQ(run.signal, SIGHUP);
  EXPECT_LT(took, std::chrono::seconds(1));
  ExpectSampleResults(root);
}

// ---------------------------------------------------------------------------
// Resizes: the console keeps its buffer; the terminal shows the part of it
// around the cursor.

TEST(ResizeTest, TheTerminalShowsThePartOfTheBufferAroundTheCursor) {
  struct View {
    int rows, columns;
    int firstRow;  // the report's row in the terminal's top row
  };
  // The cursor rests in row 17, column 18 of the 80 by 25 buffer.
  const std::vector<View> views = {{10, 30, 8}, {25, 80, 0}, {30, 100, 0}, {6, 100, 12}, {25, 80, 0}};
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  std::vector<std::string> mismatches;
  options.atWait = [&](VtermPty &pty) {
    for (const View &v : views) {
      const std::string what = std::to_string(v.rows) + "x" + std::to_string(v.columns);
      const int width = v.columns < 80 ? v.columns : 80;
      std::vector<std::string> want(static_cast<std::size_t>(v.rows));
      for (int r = 0; r < v.rows && v.firstRow + r < static_cast<int>(kWorkedExample.size()); ++r) {
        std::string &row = want[static_cast<std::size_t>(r)];
        row = kWorkedExample[static_cast<std::size_t>(v.firstRow + r)].substr(0, width);
        row.erase(row.find_last_not_of(' ') + 1);
      }
      pty.Resize(v.rows, v.columns);
      auto shows = [&] {
        for (int r = 0; r < v.rows; ++r) {
          std::string row = pty.RowText(r);
          row.erase(row.find_last_not_of(' ') + 1);
          if (row != want[static_cast<std::size_t>(r)]) return false;
        }
        int row, column;
        pty.Cursor(&row, &column);
        return row == 17 - v.firstRow && column == 18;
      };
      if (!VtermPty::WaitUntil(shows, 5000)) mismatches.push_back(what + ":\n" + pty.ScreenText());
    }
    pty.Type("k");
  };
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(mismatches, std::vector<std::string>{});
  EXPECT_EQ(run.exitCode, 0);
  ExpectTerminalBack(run);
  ExpectSampleResults(root);
}

// A terminal that says it is 60000 by 60000 cells: the console's buffer is
// clamped, the run goes on.
TEST(ResizeTest, AnAbsurdSizeIsClamped) {
  DriveRoot root;
  root.WriteGrades(kSampleGrades);
  RunOptions options;
  options.launcher = {"/bin/sh", "-c", "stty rows 60000 cols 60000 && exec \"$0\""};
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  ExpectTerminalBack(run);
  ExpectSampleResults(root);
}

}  // namespace
