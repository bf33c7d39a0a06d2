// The builds the end-to-end runs start: a Linux program (this processor's,
// or another's behind its emulator), whose drive E: is a folder named by
// GRADES_DRIVE_ROOT, and the Windows program under Wine, whose drive E: is a
// link in the Wine prefix.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/grades/grade_run.h"

#if defined(GRADES_FOREIGN_BUILD)
#include "foreign_build.h"
#endif

namespace fs = std::filesystem;

namespace gradetest {

namespace {

// The name Wine gives a Linux path: drive Z: is the Linux root.
std::string WinePath(const std::string &path) {
  std::string name = "Z:" + fs::absolute(path).string();
  for (char &c : name)
    if (c == '/') c = '\\';
  return name;
}

[[noreturn]] void Exec(const std::vector<std::string> &command) {
  std::vector<char *> argv;
  for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

GradeProgram LinuxGrades(const std::string &path, const std::vector<std::string> &launcher) {
  std::vector<std::string> command = launcher;
  command.push_back(path);
  return {command, command, "", ""};
}

std::vector<std::string> GradeProgram::TerminalCommand(const std::string &screenFile) const {
  if (screenFile.empty() || terminalCommand.size() < 2) return terminalCommand;
  // wine, the launcher, then its option before the program.
  std::vector<std::string> command(terminalCommand.begin(), terminalCommand.begin() + 2);
  command.push_back("--screen");
  command.push_back(WinePath(screenFile));
  command.insert(command.end(), terminalCommand.begin() + 2, terminalCommand.end());
  return command;
}

bool ReadConsoleScreen(const std::string &path, RunResult &run) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || std::sscanf(line.c_str(), "cursor %d %d", &run.cursorRow, &run.cursorColumn) != 2)
    return false;
  run.rows.clear();
  while (std::getline(in, line)) run.rows.push_back(line);
  return true;
}

GradeProgram WineGrades(const std::string &wine, const std::string &prefix, const std::string &exe,
                        const std::string &terminalKeys, const std::string &holder) {
  return {{wine, terminalKeys, WinePath(exe)}, {wine, exe}, prefix, holder};
}

void GradeProgram::MapDrive(const DriveRoot &root) const {
  if (winePrefix.empty()) {
    setenv("GRADES_DRIVE_ROOT", root.Root().c_str(), 1);
    return;
  }
  setenv("WINEPREFIX", winePrefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  // Replaced in one step: a run never finds drive E: missing.
  const fs::path link = fs::path(winePrefix) / "dosdevices" / "e:";
  const fs::path next = fs::path(winePrefix) / "dosdevices" / "e:.next";
  std::error_code ignored;
  fs::remove(next, ignored);
  fs::create_directory_symlink(fs::path(root.Root()) / "e", next);
  fs::rename(next, link);
}

const GradeProgram &ProgramUnderTest() {
#if defined(GRADES_FOREIGN_BUILD)
  static const GradeProgram program = foreign::kWinePrefix.empty()
                                          ? LinuxGrades(foreign::kGrades, foreign::kLauncher)
                                          : WineGrades(foreign::kLauncher.at(0), foreign::kWinePrefix, foreign::kGrades,
                                                       foreign::kTerminalKeys, foreign::kHoldOpen);
#else
  static const GradeProgram program = LinuxGrades(GRADES_EXE);
#endif
  return program;
}

HeldOpen::HeldOpen(const GradeProgram &program, const DriveRoot &root, const std::string &path) {
  if (program.winePrefix.empty()) {
    fd_ = open(path.c_str(), O_RDONLY);
    holding_ = fd_ >= 0 && flock(fd_, LOCK_EX) == 0;
    return;
  }
  // The helper says "held" once the file is open, and holds it until its
  // standard input ends.
  program.MapDrive(root);
  int input[2], output[2];
  if (pipe(input) != 0) return;
  if (pipe(output) != 0) {
    close(input[0]);
    close(input[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    close(input[1]);
    close(output[0]);
    Exec({program.plainCommand[0], program.holder, WinePath(path)});
  }
  close(input[0]);
  close(output[1]);
  fd_ = input[1];
  std::string said;
  char c;
  while (said.find("held") == std::string::npos && read(output[0], &c, 1) == 1) said += c;
  close(output[0]);
  holding_ = said.find("held") != std::string::npos;
}

HeldOpen::~HeldOpen() {
  if (fd_ >= 0) close(fd_);
  if (pid_ > 0) WaitFor(pid_);
}

PlainRun RunWithoutTerminal(const DriveRoot &root, const GradeProgram &program) {
  PlainRun run;
  program.MapDrive(root);
  const std::string out = root.Root() + "/stdout.txt", err = root.Root() + "/stderr.txt";
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    setsid();
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int n = open("/dev/null", O_RDONLY);
    dup2(n, 0);
    dup2(o, 1);
    dup2(e, 2);
    Exec(program.plainCommand);
  }
  run.exitCode = WaitFor(pid);
  run.output = DriveRoot::Read(out);
  run.errors = DriveRoot::Read(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

}  // namespace gradetest
