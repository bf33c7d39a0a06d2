// Runs build/grades end to end: a fresh drive root with the grade file, the
// program in a pseudo-terminal drawn by a terminal emulator, and what it
// leaves on the screen, in the result files and as its exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/vterm_pty.h"

namespace gradetest {

class DriveRoot {
 public:
  DriveRoot();
  ~DriveRoot();
  DriveRoot(const DriveRoot &) = delete;
  DriveRoot &operator=(const DriveRoot &) = delete;

  const std::string &Root() const { return root_; }
  // The folder of the program's files, E:\devpas\jegyek.
  std::string Folder() const { return root_ + "/e/devpas/jegyek"; }
  std::string GradeFile() const { return Folder() + "/egeszek.txt"; }
  std::string BadFile() const { return Folder() + "/rosszjegyek.txt"; }
  std::string GoodFile() const { return Folder() + "/jojegyek.txt"; }
  void WriteGrades(const std::string &bytes) const;
  static std::string Read(const std::string &path);
  static bool Exists(const std::string &path);

 private:
  std::string root_;
};

// Lines of the given numbers, each ended by CR LF.
std::string Lines(const std::vector<int> &values);

// The sample grade file, 5 3 0 4 12 3 -2 1, and the report it gives.
extern const std::string kSampleGrades;
extern const std::vector<std::string> kWorkedExample;

struct RunResult {
  std::vector<std::string> rows;  // the screen, trailing blanks removed
  int cursorRow = -1, cursorColumn = -1;
  int exitCode = -1;  // -1 when the program did not exit by itself
  int signal = 0;
  bool modeRestored = false;
  // The last bytes the program sent the terminal put its colours back (and
  // then popped the keyboard protocol, if it had pushed it).
  bool coloursReset = false;
  // How often the program pushed and popped the kitty keyboard protocol.
  int kittyPushes = 0, kittyPops = 0;
  // What the terminal shows, for a build whose screen (rows and cursor) is
  // read from its console instead; empty otherwise.
  std::vector<std::string> terminalRows;
  // The rows the terminal kept in its scrollback, oldest first.
  std::vector<std::string> scrollback;
  // Bytes typed that the program left unread for the terminal's next
  // reader, the shell.
  int leftForShell = -1;
};

struct RunOptions {
  int rows = 25;
  int columns = 80;
  std::string keysBefore;      // typed as soon as the program has started
  bool kittyKeyboard = false;  // the terminal speaks the kitty keyboard protocol
  int replyDelayMs = 0;        // its answers take this long, as over a slow link
  bool pressKeyAtWait = true;  // type a key once the cursor rests behind the report
  // Started in front of the program, which is appended as the last argument
  // (for example a shell that redirects its standard handles first).
  std::vector<std::string> launcher = {};
  // Runs on the test's thread as soon as the program has started.
  std::function<void(testsupport::VtermPty &)> whileRunning = {};
  // Replaces the key press once the report stands still.
  std::function<void(testsupport::VtermPty &)> atWait = {};
  // "NAME=value" entries for the program's environment (VtermPty::Options).
  std::vector<std::string> environment = {};
  // The terminal reads nothing from the start (VtermPty::Options), until
  // whileRunning lets it.
  bool terminalReadsNothing = false;
  // How the terminal treats its scrollback (VtermPty::Options).
  bool pullsBackOnGrow = false, keepsClearedScreen = false;
};

// A build of the grade program, and how the runs start it.
struct GradeProgram {
  // Starts the program in a terminal, where typed keys reach it (after
  // RunOptions::launcher).
  std::vector<std::string> terminalCommand;
  // Starts it without any terminal.
  std::vector<std::string> plainCommand;
  // Under Wine: the prefix whose drive E: the runs use, and the Windows
  // helper that holds a file open; both empty for the Linux build.
  std::string winePrefix;
  std::string holder;

  // Makes the folder `root`/e drive E: for the runs that follow.
  void MapDrive(const DriveRoot &root) const;
  // Under Wine the screen of a run is the console's own, which the
  // launcher writes into a file at the end (see tests/wine/terminal_keys.cpp).
  bool ScreenFromConsole() const { return !winePrefix.empty(); }
  // Wine's console does not scroll its window when the console module asks
  // it to (see tests/wine/terminal_keys.cpp).
  bool ScrollsTheWindow() const { return winePrefix.empty(); }
  std::vector<std::string> TerminalCommand(const std::string &screenFile) const;
};

// Reads a screen written by the launcher: false when there is none.
bool ReadConsoleScreen(const std::string &path, RunResult &run);

// The Linux build at `path`, started behind `launcher` (an emulator and its
// options) when it is another processor's.
GradeProgram LinuxGrades(const std::string &path, const std::vector<std::string> &launcher = {});
// The Windows build at `exe`, run by `wine` in `prefix`; `terminalKeys` and
// `holder` are the Windows helpers of tests/wine.
GradeProgram WineGrades(const std::string &wine, const std::string &prefix, const std::string &exe,
                        const std::string &terminalKeys, const std::string &holder);
// The build this test program is about.
const GradeProgram &ProgramUnderTest();

// Runs the program on `root` and waits for its end.
RunResult RunGrades(const DriveRoot &root, const RunOptions &options = {});
RunResult RunGrades(const DriveRoot &root, const RunOptions &options, const GradeProgram &program);

// A file held open by another process the way the program's system keeps
// others out of it (an exclusive flock on Linux, an open without sharing
// by a Windows process under Wine), until this ends.
class HeldOpen {
 public:
  HeldOpen(const GradeProgram &program, const DriveRoot &root, const std::string &path);
  ~HeldOpen();
  HeldOpen(const HeldOpen &) = delete;
  HeldOpen &operator=(const HeldOpen &) = delete;
  bool Holding() const { return holding_; }

 private:
  bool holding_ = false;
  int fd_ = -1;  // the locked file, or the helper's standard input
  int pid_ = -1;
};

// A run with no terminal at all: a new session, standard input empty,
// standard output and error into files.
struct PlainRun {
  int exitCode = -1;  // -1 when it did not exit by itself
  std::string output, errors;
};
PlainRun RunWithoutTerminal(const DriveRoot &root, const GradeProgram &program = ProgramUnderTest());

// The state letter of process `pid` (R, S, T, Z, ...), 0 when it is gone.
char ProcessState(int pid);

// Waits until the report stands still: nothing new drawn for half a second.
bool WaitUntilQuiet(testsupport::VtermPty &pty, int timeoutMs = 20000);

// The screen rows a run shows, from its first row down to its last non-empty one.
std::vector<std::string> Report(const RunResult &run);

}  // namespace gradetest
