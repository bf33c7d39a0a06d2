// The grade program against everything a user, the file system or the
// terminal can throw at it. Every run must end the documented way: the exit
// code (or the signal it was killed by), the terminal put back, and result
// files either complete or as the run-time error leaves them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/grades/grade_run.h"

namespace {

namespace fs = std::filesystem;
using gradetest::DriveRoot;
using gradetest::Lines;
using gradetest::Report;
using gradetest::RunGrades;
using gradetest::RunOptions;
using gradetest::RunResult;
using testsupport::VtermPty;

const std::string kSample = Lines({5, 3, 0, 4, 12, 3, -2, 1});
const std::string kSampleBad = "0\r\n12\r\n-2\r\n";
const std::string kSampleGood = "5\r\n3\r\n4\r\n3\r\n1\r\n";

RunOptions NoKey() {
  RunOptions options;
  options.pressKeyAtWait = false;
  return options;
}

// Screen row `i`, or "" when the run left no screen (it had to be killed).
std::string RowAt(const RunResult &run, std::size_t i) { return i < run.rows.size() ? run.rows[i] : ""; }

// Whether some screen row carries the message of run-time error `number`.
// (the row ends with it: "Runtime error N at 0x" and eight hex digits).
bool ShowsMessage(const RunResult &run, int number) {
  const std::string head = "Runtime error " + std::to_string(number) + " at 0x";
  for (const std::string &row : run.rows) {
    const std::size_t at = row.find(head);
    if (at == std::string::npos || row.size() != at + head.size() + 8) continue;
    if (row.find_first_not_of("0123456789ABCDEF", at + head.size()) == std::string::npos) return true;
  }
  return false;
}

bool ShowsAnyMessage(const RunResult &run) {
  for (const std::string &row : run.rows)
    if (row.find("Runtime error") != std::string::npos) return true;
  return false;
}

// What every run must satisfy, whatever it was given.
void ExpectTerminalBack(const RunResult &run) {
  EXPECT_TRUE(run.modeRestored);
  EXPECT_TRUE(run.coloursReset);
}

void ExpectExit(const RunResult &run, int code) {
  EXPECT_EQ(run.signal, 0) << "killed by signal " << run.signal;
  EXPECT_EQ(run.exitCode, code);
  ExpectTerminalBack(run);
}

void ExpectNoResultFiles(const DriveRoot &root) {
  EXPECT_FALSE(DriveRoot::Exists(root.BadFile()));
  EXPECT_FALSE(DriveRoot::Exists(root.GoodFile()));
}

void ExpectSampleResults(const DriveRoot &root) {
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), kSampleBad);
  EXPECT_EQ(DriveRoot::Read(root.GoodFile()), kSampleGood);
}

// The descriptor through which process `pid` has `path` open, or -1.
int OpenDescriptor(pid_t pid, const std::string &path) {
  std::error_code ec;
  const fs::path want = fs::weakly_canonical(path, ec);
  for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path(), linkError) == want) return std::stoi(entry.path().filename().string());
  }
  return -1;
}

// The file position of descriptor `fd` of process `pid`, or -1.
long long FilePosition(pid_t pid, int fd) {
  std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
  std::string key;
  long long value;
  while (info >> key >> value)
    if (key == "pos:") return value;
  return -1;
}

// Waits until process `pid` is stopped (after SIGSTOP).
bool WaitStopped(pid_t pid) {
  return VtermPty::WaitUntil([pid] { return gradetest::ProcessState(pid) == 'T'; });
}

// ---------------------------------------------------------------------------
// Grade files with odd content.

struct ContentCase {
  const char *name;
  std::function<std::string()> content;
  int exitCode;
  std::string firstRow;                  // the report's first row ("" when it ends before the report)
  std::optional<std::string> bad, good;  // the result files; none: never created
};

void PrintTo(const ContentCase &c, std::ostream *os) { *os << c.name; }

class BadContentTest : public ::testing::TestWithParam<ContentCase> {};

TEST_P(BadContentTest, EndsAsDocumented) {
  const ContentCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(c.content());
  RunOptions options;
  options.pressKeyAtWait = c.exitCode == 0;
  RunResult run = RunGrades(root, options);
  ExpectExit(run, c.exitCode);
  ASSERT_FALSE(run.rows.empty());
  if (c.exitCode != 0) {
    EXPECT_TRUE(ShowsMessage(run, c.exitCode));
  }
  if (c.firstRow.empty()) {
    EXPECT_TRUE(RowAt(run, 0).rfind("Runtime error ", 0) == 0) << RowAt(run, 0);
  } else {
    EXPECT_EQ(RowAt(run, 0), c.firstRow);
  }
  if (c.bad) {
    EXPECT_EQ(DriveRoot::Read(root.BadFile()), *c.bad);
  } else {
    EXPECT_FALSE(DriveRoot::Exists(root.BadFile()));
  }
  if (c.good) {
    EXPECT_EQ(DriveRoot::Read(root.GoodFile()), *c.good);
  } else {
    EXPECT_FALSE(DriveRoot::Exists(root.GoodFile()));
  }
}

std::string Repeat(const std::string &piece, std::size_t times) {
  std::string all;
  all.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) all += piece;
  return all;
}

constexpr std::size_t kTenMegabytes = 10u << 20;

std::string OwnExecutable() { return DriveRoot::Read(GRADES_EXE); }

INSTANTIATE_TEST_SUITE_P(
    GradeFiles, BadContentTest,
    ::testing::Values(
        // An executable: its first line is no number.
        ContentCase{"BinaryGarbage", OwnExecutable, 106, "", std::nullopt, std::nullopt},
        ContentCase{"NulBytesOnALine", [] { return std::string("5\r\n\0\0\0\0\r\n3\r\n", 13); }, 106, "", std::nullopt,
                    std::nullopt},
        ContentCase{"NulByteInANumber", [] { return std::string("5\0\r\n", 4); }, 106, "", std::nullopt, std::nullopt},
        ContentCase{"OnlyNulBytes", [] { return std::string(4096, '\0'); }, 106, "", std::nullopt, std::nullopt},
        // The rest of a line, however long, is passed over.
        ContentCase{"TenMegabyteLineBehindANumber", [] { return "5 " + std::string(kTenMegabytes, 'x') + "\r\n3\r\n"; },
                    0, "A fajlban 2 szam volt.", "", "5\r\n3\r\n"},
        // A number is cut after 255 characters: 255 zeros read as 0.
        ContentCase{"TenMegabyteNumber", [] { return std::string(kTenMegabytes, '0') + "4\r\n2\r\n"; }, 0,
                    "A fajlban 2 szam volt.", "0\r\n", "2\r\n"},
        ContentCase{"TenMegabyteLineOfDigits", [] { return std::string(kTenMegabytes, '7'); }, 106, "", std::nullopt,
                    std::nullopt},
        // The 1001st value stops the run before the report.
        ContentCase{"AMillionLines", [] { return Repeat("3\r\n", 1000000); }, 201, "", std::nullopt, std::nullopt},
        ContentCase{"AMillionEmptyLinesBeforeANumber", [] { return Repeat("\r\n", 1000000) + "4\r\n"; }, 0,
                    "A fajlban 1 szam volt.", "", "4\r\n"},
        ContentCase{"CrOnlyLineEnds", [] { return std::string("5\r3\r0\r1\r"); }, 0, "A fajlban 4 szam volt.", "0\r\n",
                    "5\r\n3\r\n1\r\n"},
        ContentCase{"OnlyCrs", [] { return std::string(1000, '\r'); }, 106, "", std::nullopt, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Grade files that are not plain files.

TEST(BadGradeFileTest, AFolderInItsPlace) {
  DriveRoot root;
  fs::create_directory(root.GradeFile());
  RunResult run = RunGrades(root, NoKey());
  ExpectExit(run, 5);
  EXPECT_TRUE(ShowsMessage(run, 5));
  ExpectNoResultFiles(root);
}

// A writer that holds the FIFO open: `data` is waiting in it; the returned
// descriptor is the writer's end.
int FifoWithWriter(const std::string &path, const std::string &data) {
  if (mkfifo(path.c_str(), 0644) != 0) return -1;
  // The program must not inherit the writer: it would never see the end.
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // so that the writer need not wait
  int writer = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (reader < 0 || writer < 0) return -1;
  if (write(writer, data.data(), data.size()) != static_cast<ssize_t>(data.size())) return -1;
  close(reader);
  return writer;
}

TEST(BadGradeFileTest, AFifoIsReadUntilItsWriterCloses) {
  DriveRoot root;
  int writer = FifoWithWriter(root.GradeFile(), kSample);
  ASSERT_GE(writer, 0);
  RunOptions options;
  options.whileRunning = [&](VtermPty &pty) {
    // The program reads what is there, then waits for more until the writer goes.
    EXPECT_TRUE(VtermPty::WaitUntil([&] { return OpenDescriptor(pty.Pid(), root.GradeFile()) >= 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(pty.ScreenText().find("szam volt"), std::string::npos);
    close(writer);
  };
  RunResult run = RunGrades(root, options);
  ExpectExit(run, 0);
  EXPECT_EQ(RowAt(run, 0), "A fajlban 8 szam volt.");
  ExpectSampleResults(root);
}

// A FIFO opens at once, as a Windows file does; its first read waits for a
// writer, however late it comes, and reads what it sends until it closes.
struct LateWriterCase {
  const char *name;
  std::string sent;
  int exitCode;
  std::string firstRow;
};

void PrintTo(const LateWriterCase &c, std::ostream *os) { *os << c.name; }

class AFifoWhoseWriterComesLaterTest : public ::testing::TestWithParam<LateWriterCase> {};

TEST_P(AFifoWhoseWriterComesLaterTest, IsReadWhenItComes) {
  const LateWriterCase &c = GetParam();
  DriveRoot root;
  ASSERT_EQ(mkfifo(root.GradeFile().c_str(), 0644), 0);
  RunOptions options;
  options.pressKeyAtWait = c.exitCode == 0;
  options.whileRunning = [&](VtermPty &pty) {
    EXPECT_TRUE(VtermPty::WaitUntil([&] { return OpenDescriptor(pty.Pid(), root.GradeFile()) >= 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int writer = open(root.GradeFile().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0) << "the program no longer has the FIFO open";
    EXPECT_EQ(write(writer, c.sent.data(), c.sent.size()), static_cast<ssize_t>(c.sent.size()));
    close(writer);
  };
  RunResult run = RunGrades(root, options);
  ExpectExit(run, c.exitCode);
  EXPECT_EQ(RowAt(run, 0), c.firstRow);
  if (c.exitCode == 0) {
    ExpectSampleResults(root);
  } else {
    EXPECT_TRUE(ShowsMessage(run, c.exitCode));
    ExpectNoResultFiles(root);
  }
}

INSTANTIATE_TEST_SUITE_P(Fifos, AFifoWhoseWriterComesLaterTest,
                         ::testing::Values(LateWriterCase{"WithTheSample", kSample, 0, "A fajlban 8 szam volt."},
                                           // An empty file: no grade is valid.
                                           LateWriterCase{"WithNothing", "", 207, "A fajlban 0 szam volt."}),
                         [](const auto &info) { return std::string(info.param.name); });

struct FifoSignalCase {
  const char *name;
  bool writer;  // a writer holds the FIFO open without writing; else none has come yet
  int signal;
  bool typed;          // Ctrl+C from the keyboard rather than kill
  bool kitty = false;  // the terminal speaks the kitty keyboard protocol
};

void PrintTo(const FifoSignalCase &c, std::ostream *os) { *os << c.name; }

class KilledWhileItWaitsForASilentFifoTest : public ::testing::TestWithParam<FifoSignalCase> {};

TEST_P(KilledWhileItWaitsForASilentFifoTest, DiesByTheSignalWithTheTerminalBack) {
  const FifoSignalCase &c = GetParam();
  DriveRoot root;
  int writer = -1;
  if (c.writer) {
    writer = FifoWithWriter(root.GradeFile(), "");
    ASSERT_GE(writer, 0);
  } else {
    ASSERT_EQ(mkfifo(root.GradeFile().c_str(), 0644), 0);
  }
  RunOptions options = NoKey();
  options.kittyKeyboard = c.kitty;
  options.whileRunning = [&](VtermPty &pty) {
    EXPECT_TRUE(VtermPty::WaitUntil([&] { return OpenDescriptor(pty.Pid(), root.GradeFile()) >= 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (c.typed) {
      pty.TypeCtrl('c');
    } else {
      pty.Signal(c.signal);
    }
  };
  RunResult run = RunGrades(root, options);
  if (writer >= 0) close(writer);
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_EQ(run.signal, c.signal);
  ExpectTerminalBack(run);
  ExpectNoResultFiles(root);
}

INSTANTIATE_TEST_SUITE_P(Fifos, KilledWhileItWaitsForASilentFifoTest,
                         ::testing::Values(FifoSignalCase{"SigtermWithASilentWriter", true, SIGTERM, false},
                                           FifoSignalCase{"CtrlCWithASilentWriter", true, SIGINT, true},
                                           FifoSignalCase{"SigtermBeforeAnyWriter", false, SIGTERM, false},
                                           FifoSignalCase{"CtrlCBeforeAnyWriter", false, SIGINT, true},
                                           // The keyboard protocol is off while the program waits
                                           // for anything but a key, so the driver sees Ctrl+C.
                                           FifoSignalCase{"KittyCtrlCBeforeAnyWriter", false, SIGINT, true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// Another program has the grade file open, without any lock (a producer
// still writing it): a sharing violation.
TEST(BadGradeFileTest, OpenInAnotherProgram) {
  DriveRoot root;
  root.WriteGrades(kSample);
  int producer = open(root.GradeFile().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(producer, 0);
  RunResult run = RunGrades(root, NoKey());
  close(producer);
  ExpectExit(run, 5);
  EXPECT_TRUE(ShowsMessage(run, 5));
  ExpectNoResultFiles(root);
}

// Another process cuts the file short while the program is reading it: the
// program reads what was there up to the cut, as the end of the file.
TEST(BadGradeFileTest, TruncatedWhileItIsRead) {
  const std::string line = "3" + std::string(10000, ' ') + "\r\n";
  // A machine too busy to catch the program half way gets another go.
  for (int attempt = 1; attempt <= 3; ++attempt) {
    DriveRoot root;
    root.WriteGrades(Repeat(line, 1000));  // 10 MB
    long long cutAt = -1;
    RunOptions options;
    options.rows = 130;  // the whole report stands on the screen
    options.whileRunning = [&](VtermPty &pty) {
      const pid_t pid = pty.Pid();
      int fd = -1;
      VtermPty::WaitUntil(
          [&] {
            if (fd < 0) fd = OpenDescriptor(pid, root.GradeFile());
            return fd >= 0 && FilePosition(pid, fd) >= (1 << 20);
          },
          20000);
      if (fd < 0) return;
      kill(pid, SIGSTOP);
      if (WaitStopped(pid)) {
        cutAt = FilePosition(pid, fd);
        if (cutAt >= 0 && truncate(root.GradeFile().c_str(), 4096) != 0) cutAt = -1;
      }
      kill(pid, SIGCONT);
    };
    RunResult run = RunGrades(root, options);
    if (cutAt <= 0 || cutAt >= static_cast<long long>(line.size()) * 1000) {
      ASSERT_LT(attempt, 3) << "the program read the whole file every time before it could be cut";
      continue;
    }
    ExpectExit(run, 0);
    // The lines whose number lies in front of the cut.
    const long long values = (cutAt + static_cast<long long>(line.size()) - 1) / static_cast<long long>(line.size());
    EXPECT_EQ(RowAt(run, 0), "A fajlban " + std::to_string(values) + " szam volt.");
    EXPECT_EQ(DriveRoot::Read(root.GoodFile()), Repeat("3\r\n", static_cast<std::size_t>(values)));
    EXPECT_EQ(DriveRoot::Read(root.BadFile()), "");
    return;
  }
}

// ---------------------------------------------------------------------------
// Result files that cannot be written.

// Root passes over permission bits, but not over an immutable folder: no
// file can be created in it.
TEST(BadResultFolderTest, AFolderNothingCanBeCreatedIn) {
  DriveRoot root;
  root.WriteGrades(kSample);
  const std::string folder = root.Folder();
  if (std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "SKIPPED: this file system cannot make " << folder << " immutable (chattr +i)";
  RunResult run = RunGrades(root, NoKey());
  // Undone before the checks, so that the scratch folder can be removed
  // whatever they find.
  [[maybe_unused]] const int undone = std::system(("chattr -i '" + folder + "'").c_str());
  ExpectExit(run, 5);
  EXPECT_EQ(RowAt(run, 0), "A fajlban 8 szam volt.");
  EXPECT_TRUE(ShowsMessage(run, 5));
  ExpectNoResultFiles(root);
}

// The folder on a file system mounted read-only (in a mount namespace of
// the program's own): the write-protect code, 150.
TEST(BadResultFolderTest, AReadOnlyFileSystem) {
  DriveRoot root;
  root.WriteGrades(kSample);
  const std::string folder = root.Folder();
  if (std::system("unshare -m true 2>/dev/null") != 0)
    GTEST_SKIP() << "SKIPPED: no mount namespace can be made here (unshare -m), so no read-only mount";
  RunOptions options = NoKey();
  options.launcher = {"/usr/bin/unshare",
                      "-m",
                      "--propagation",
                      "private",
                      "/bin/sh",
                      "-c",
                      "mount --bind '" + folder + "' '" + folder + "' && mount -o remount,bind,ro '" + folder + "' '" +
                          folder + "' && exec \"$0\""};
  RunResult run = RunGrades(root, options);
  ExpectExit(run, 150);
  EXPECT_EQ(RowAt(run, 0), "A fajlban 8 szam volt.");
  EXPECT_TRUE(ShowsMessage(run, 150));
  ExpectNoResultFiles(root);
}

// The valid-grade file is a program that is running: writing it is refused
// as a sharing violation, and the program stays as it was.
TEST(BadResultFolderTest, AResultFileThatIsARunningProgram) {
  DriveRoot root;
  root.WriteGrades(kSample);
  fs::copy_file("/bin/sleep", root.GoodFile());
  fs::permissions(root.GoodFile(), fs::perms::owner_all);
  const std::string program = DriveRoot::Read(root.GoodFile());
  char name[] = "sleep", seconds[] = "60";
  char *argv[] = {name, seconds, nullptr};
  pid_t running = -1;
  ASSERT_EQ(posix_spawn(&running, root.GoodFile().c_str(), nullptr, nullptr, argv, environ), 0);
  RunResult run = RunGrades(root, NoKey());
  kill(running, SIGKILL);
  waitpid(running, nullptr, 0);
  ExpectExit(run, 5);
  EXPECT_TRUE(ShowsMessage(run, 5));
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), kSampleBad);
  EXPECT_EQ(DriveRoot::Read(root.GoodFile()), program);
}

// A full device refuses the first line: disk write error 101.
TEST(BadResultFolderTest, InvalidNumbersOnAFullDisk) {
  DriveRoot root;
  root.WriteGrades(kSample);
  fs::create_symlink("/dev/full", root.BadFile());
  RunResult run = RunGrades(root, NoKey());
  ExpectExit(run, 101);
  EXPECT_TRUE(ShowsMessage(run, 101));
  EXPECT_FALSE(DriveRoot::Exists(root.GoodFile()));
}

TEST(BadResultFolderTest, ValidGradesOnAFullDisk) {
  DriveRoot root;
  root.WriteGrades(kSample);
  fs::create_symlink("/dev/full", root.GoodFile());
  RunResult run = RunGrades(root, NoKey());
  ExpectExit(run, 101);
  EXPECT_TRUE(ShowsMessage(run, 101));
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), kSampleBad);  // written before, complete
}

// A file size limit (ulimit -f) is a full disk too: the whole report, then
// the error, instead of death by SIGXFSZ before anything is shown.
TEST(BadResultFolderTest, AFileSizeLimit) {
  DriveRoot root;
  root.WriteGrades(kSample);
  RunOptions options = NoKey();
  options.launcher = {"/bin/sh", "-c", "ulimit -f 0 && exec \"$0\""};
  RunResult run = RunGrades(root, options);
  ExpectExit(run, 101);
  EXPECT_EQ(RowAt(run, 0), "A fajlban 8 szam volt.");
  EXPECT_TRUE(ShowsMessage(run, 101));
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), "");
}

// ---------------------------------------------------------------------------
// Odd terminals.

TEST(BadTerminalTest, OneByOne) {
  DriveRoot root;
  root.WriteGrades(kSample);
  RunResult run = RunGrades(root, RunOptions{1, 1, "", true});
  ExpectExit(run, 0);
  ExpectSampleResults(root);
}

TEST(BadTerminalTest, FiveHundredByThreeHundred) {
  DriveRoot root;
  root.WriteGrades(kSample);
  RunResult run = RunGrades(root, RunOptions{300, 500, "", true});
  ExpectExit(run, 0);
  std::vector<std::string> report = Report(run);
  ASSERT_EQ(report.size(), 18u);
  EXPECT_EQ(report[0], "A fajlban 8 szam volt.");
  EXPECT_EQ(report[17], "     0    12    -2");
  ExpectSampleResults(root);
}

// The console keeps the size it started with; the run goes on undisturbed.
TEST(BadTerminalTest, ResizedWhileItWaits) {
  DriveRoot root;
  root.WriteGrades(kSample);
  RunOptions options;
  options.atWait = [](VtermPty &pty) {
    pty.Resize(10, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.Resize(60, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.Type("k");
  };
  RunResult run = RunGrades(root, options);
  ExpectExit(run, 0);
  ExpectSampleResults(root);
}

TEST(BadTerminalTest, ResizedWhileItPaints) {
  DriveRoot root;
  root.WriteGrades(Lines(std::vector<int>(1000, 7)));  // a long report of invalid numbers
  RunOptions options;
  options.whileRunning = [](VtermPty &pty) {
    VtermPty::WaitUntil([&] { return !pty.Output().empty(); });
    for (int i = 0; i < 20; ++i) {
      pty.Resize(i % 2 == 0 ? 3 : 40, i % 2 == 0 ? 7 : 120);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  // A thousand invalid numbers: no valid grade, so the run ends with 207
  // after the first rows of the report.
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  ExpectExit(run, 207);
  ExpectNoResultFiles(root);
}

// Every byte typed is a key, also one that begins no character of the
// terminal's set: a lone 0xE9 (the e acute of a Latin-1 keyboard) on a UTF-8
// terminal, and any byte past ASCII in the C locale.
TEST(BadTerminalTest, AByteThatIsNoCharacterEndsTheWait) {
  for (const char *locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    DriveRoot root;
    root.WriteGrades(kSample);
    RunOptions options;
    options.environment = {std::string("LC_ALL=") + locale};
    options.atWait = [](VtermPty &pty) { pty.Type("\xe9"); };
    RunResult run = RunGrades(root, options);
    ExpectExit(run, 0);
    EXPECT_EQ(Report(run).size(), 18u);
    ExpectSampleResults(root);
  }
}

// ---------------------------------------------------------------------------
// Standard handles.

RunOptions Redirected(const std::string &redirection, bool pressKey) {
  RunOptions options;
  options.pressKeyAtWait = pressKey;
  options.launcher = {"/bin/sh", "-c", "exec \"$0\" " + redirection};
  return options;
}

// No key can be read: the final wait ends at once.
TEST(StandardHandleTest, StandardInputClosed) {
  DriveRoot root;
  root.WriteGrades(kSample);
  RunResult run = RunGrades(root, Redirected("<&-", false));
  ExpectExit(run, 0);
  EXPECT_EQ(RowAt(run, 0), "A fajlban 8 szam volt.");
  ExpectSampleResults(root);
}

// Standard input an empty pipe left non-blocking by the parent: the final
// wait waits for its first byte and takes it as the key.
TEST(StandardHandleTest, StandardInputANonBlockingPipe) {
  DriveRoot root;
  root.WriteGrades(kSample);
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  fcntl(ends[0], F_SETFD, 0);  // only the read end is the program's
  const std::string fd = std::to_string(ends[0]);
  RunOptions options = Redirected("<&" + fd + " " + fd + "<&-", false);
  char state = 0;
  options.atWait = [&](VtermPty &pty) {
    state = gradetest::ProcessState(pty.Pid());
    EXPECT_EQ(write(ends[1], "k", 1), 1);
  };
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(state, 'S') << "the program did not wait for the key";
  ExpectExit(run, 0);
  ExpectSampleResults(root);
  close(ends[0]);
  close(ends[1]);
}

// The report goes to the console all the same; a run-time error's message,
// which belongs on standard output, is lost, its exit code is not.
TEST(StandardHandleTest, StandardOutputClosed) {
  DriveRoot root;
  root.WriteGrades(kSample);
  RunResult run = RunGrades(root, Redirected(">&-", true));
  ExpectExit(run, 0);
  EXPECT_EQ(RowAt(run, 0), "A fajlban 8 szam volt.");
  ExpectSampleResults(root);

  fs::remove(root.GradeFile());
  run = RunGrades(root, Redirected(">&-", false));
  ExpectExit(run, 2);
  EXPECT_FALSE(ShowsAnyMessage(run));
}

// Standard output a pipe whose reader has gone: writing the message fails
// like any write, and the run still ends with its error code.
TEST(StandardHandleTest, StandardOutputAPipeNobodyReads) {
  DriveRoot root;  // no grade file: run-time error 2
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  // The program inherits the write end and takes it as its standard output.
  const std::string fd = std::to_string(ends[1]);
  RunResult run = RunGrades(root, Redirected(">&" + fd + " " + fd + ">&-", false));
  close(ends[1]);
  ExpectExit(run, 2);
  EXPECT_FALSE(ShowsAnyMessage(run));
}

// ---------------------------------------------------------------------------
// Signals.

struct SignalCase {
  const char *name;
  int signal;
  bool typed;  // sent as Ctrl+C from the keyboard rather than by kill
};

void PrintTo(const SignalCase &c, std::ostream *os) { *os << c.name; }

class KilledWhileWaitingTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(KilledWhileWaitingTest, DiesByTheSignalWithTheTerminalBack) {
  const SignalCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(kSample);
  RunOptions options;
  options.atWait = [&c](VtermPty &pty) {
    if (c.typed) {
      pty.Type("\x03");
    } else {
      pty.Signal(c.signal);
    }
  };
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_EQ(run.signal, c.signal);
  ExpectTerminalBack(run);
  ExpectSampleResults(root);  // written before the wait
}

INSTANTIATE_TEST_SUITE_P(Signals, KilledWhileWaitingTest,
                         ::testing::Values(SignalCase{"Sigterm", SIGTERM, false}, SignalCase{"Sighup", SIGHUP, false},
                                           SignalCase{"CtrlC", SIGINT, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// Killed in the middle of drawing: the terminal is put back, and nothing
// is drawn after that.
TEST(KilledWhilePaintingTest, SigtermDuringALongReport) {
  DriveRoot root;
  root.WriteGrades(Lines(std::vector<int>(1000, 3)));
  RunOptions options = NoKey();
  options.whileRunning = [](VtermPty &pty) {
    VtermPty::WaitUntil([&] { return pty.Output().size() > 2000; });
    pty.Signal(SIGTERM);
  };
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.signal, SIGTERM);
  ExpectTerminalBack(run);
}

}  // namespace
