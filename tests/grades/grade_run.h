// Runs build/grades end to end: a fresh drive root with the grade file, the
// program in a pseudo-terminal drawn by a terminal emulator, and what it
// leaves on the screen, in the result files and as its exit status.
#pragma once

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

struct RunResult {
  std::vector<std::string> rows;  // the screen, trailing blanks removed
  int cursorRow = -1, cursorColumn = -1;
  int exitCode = -1;  // -1 when the program did not exit by itself
  int signal = 0;
  bool modeRestored = false;
};

struct RunOptions {
  int rows = 25;
  int columns = 80;
  std::string keysBefore;  // typed as soon as the program has started
  bool pressKeyAtWait = true;  // type a key once the cursor rests behind the report
};

// Runs the program on `root` and waits for its end.
RunResult RunGrades(const DriveRoot &root, const RunOptions &options = {});

// The screen rows a run shows, from its first row down to its last non-empty one.
std::vector<std::string> Report(const RunResult &run);

}  // namespace gradetest
