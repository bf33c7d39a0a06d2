#include "tests/grades/grade_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace fs = std::filesystem;

namespace gradetest {

DriveRoot::DriveRoot() {
  static std::atomic<unsigned> serial{0};
  root_ = (fs::temp_directory_path() / ("grades-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + "-" +
                                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
              .string();
  fs::create_directories(Folder());
}

DriveRoot::~DriveRoot() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void DriveRoot::WriteGrades(const std::string &bytes) const {
  std::ofstream out(GradeFile(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string DriveRoot::Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool DriveRoot::Exists(const std::string &path) { return fs::exists(path); }

std::string Lines(const std::vector<int> &values) {
  std::string text;
  for (int v : values) text += std::to_string(v) + "\r\n";
  return text;
}

const std::string kSampleGrades = Lines({5, 3, 0, 4, 12, 3, -2, 1});

const std::vector<std::string> kWorkedExample = {
    "A fajlban 8 szam volt.",
    "     5     3     0     4    12     3    -2     1",
    "",
    "A fajlban levo osztalyzatok megoszlasa:      5 db",
    "",
    "1 -es osztalyzatok szama:      1 darab",
    "2 -es osztalyzatok szama:      0 darab",
    "3 -es osztalyzatok szama:      2 darab",
    "4 -es osztalyzatok szama:      1 darab",
    "5 -es osztalyzatok szama:      1 darab",
    "",
    "",
    "A fajlban levo osztalyzatok atlaga:     3.2000",
    "",
    "",
    "A fajlban levo rossz szamok:          3 db",
    "",
    "     0    12    -2",
};

char ProcessState(int pid) { return testsupport::ProcessState(pid); }

namespace {

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

bool WaitUntilQuiet(testsupport::VtermPty &pty, int timeoutMs) {
  std::size_t seen = 0;
  auto quietSince = std::chrono::steady_clock::now();
  return testsupport::VtermPty::WaitUntil(
      [&] {
        std::size_t now = pty.Output().size();
        auto t = std::chrono::steady_clock::now();
        if (now != seen || now == 0) {
          seen = now;
          quietSince = t;
          return false;
        }
        return t - quietSince >= std::chrono::milliseconds(500);
      },
      timeoutMs);
}

RunResult RunGrades(const DriveRoot &root, const RunOptions &options) {
  return RunGrades(root, options, ProgramUnderTest());
}

RunResult RunGrades(const DriveRoot &root, const RunOptions &options, const GradeProgram &program) {
  RunResult run;
  program.MapDrive(root);
  testsupport::VtermPty::Options terminal;
  terminal.rows = options.rows;
  terminal.columns = options.columns;
  terminal.kittyKeyboard = options.kittyKeyboard;
  terminal.replyDelayMs = options.replyDelayMs;
  terminal.environment = options.environment;
  terminal.readsNothing = options.terminalReadsNothing;
  terminal.pullsBackOnGrow = options.pullsBackOnGrow;
  terminal.keepsClearedScreen = options.keepsClearedScreen;
  testsupport::VtermPty pty(terminal);
  const std::string screenFile = program.ScreenFromConsole() ? root.Root() + "/screen.txt" : "";
  std::vector<std::string> argv = options.launcher;
  for (const std::string &arg : program.TerminalCommand(screenFile)) argv.push_back(arg);
  if (!pty.Start(argv)) return run;
  // Wine's console takes the terminal (without echo) only once it runs:
  // keys typed before would be echoed onto the screen by the terminal.
  if (program.ScreenFromConsole())
    testsupport::VtermPty::WaitUntil([&] { return (pty.Mode().c_lflag & ECHO) == 0; }, 20000);
  // Typed at once: while the program starts up and paints its report.
  if (!options.keysBefore.empty()) pty.Type(options.keysBefore);
  if (options.whileRunning) options.whileRunning(pty);
  if (options.atWait) {
    WaitUntilQuiet(pty);
    options.atWait(pty);
  } else if (options.pressKeyAtWait) {
    // The program waits once its report stands still for a while; then a
    // key is pressed (a program that has already ended never reads it).
    WaitUntilQuiet(pty);
    pty.Type("k");
  }
  if (!pty.WaitForExit()) {
    pty.Signal(SIGKILL);
    pty.WaitForExit();
    return run;
  }
  for (int r = 0; r < pty.Rows(); ++r) run.rows.push_back(TrimRight(pty.RowText(r)));
  run.scrollback = pty.Scrollback();
  // Answers the terminal still owes reach the shell too, once they come.
  testsupport::VtermPty::WaitUntil([&] { return pty.AnswersPending() == 0; }, 5000);
  run.leftForShell = pty.InputQueued();
  pty.Cursor(&run.cursorRow, &run.cursorColumn);
  if (!screenFile.empty()) {
    run.terminalRows = run.rows;
    if (!ReadConsoleScreen(screenFile, run)) run.rows.clear();
  }
  int status = pty.Status();
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  termios now = pty.Mode(), before = pty.InitialMode();
  run.modeRestored = now.c_lflag == before.c_lflag && now.c_iflag == before.c_iflag && now.c_oflag == before.c_oflag &&
                     now.c_cc[VMIN] == before.c_cc[VMIN];
  const std::string all = pty.Output();
  std::string_view output = all;
  if (output.ends_with("\x1b[<u")) output.remove_suffix(4);
  run.coloursReset = output.ends_with("\x1b[m");
  run.kittyPushes = pty.KittyPushes();
  run.kittyPops = pty.KittyPops();
  return run;
}

std::vector<std::string> Report(const RunResult &run) {
  std::vector<std::string> rows = run.rows;
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

}  // namespace gradetest
