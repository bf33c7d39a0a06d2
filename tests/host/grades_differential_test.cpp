// A foreign build (Windows, 32-bit x86, ARM, RISC-V or s390x) and the
// x86-64 build side by side: for every grade file of the end-to-end tests,
// both show the same screen, leave the same result files byte for byte and
// end with the same exit code. Only the code addresses in a run-time error
// message may differ: they are places in two different images.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "foreign_build.h"
#include "tests/grades/grade_run.h"

namespace {

using gradetest::DriveRoot;
using gradetest::GradeProgram;
using gradetest::Lines;
using gradetest::RunOptions;
using gradetest::RunResult;

const GradeProgram &Linux() {
  static const GradeProgram program = gradetest::LinuxGrades(foreign::kLinuxBuild + "/grades");
  return program;
}

// What stands around the grade file when the program starts.
enum class Setup {
  kGradeFile,
  kNoGradeFile,  // the folder is there, the file is not
  kNoFolder,
  kHeldOpen,         // another process holds the grade file open
  kBadFileIsFolder,  // a folder where the invalid-number file goes
  kGoodFileIsFolder,
  kNoTerminal,  // no console at all
};

struct GradeFileCase {
  const char *name;
  std::string grades;
  Setup setup = Setup::kGradeFile;
  int rows = 25, columns = 80;
  bool pressKeyAtWait = true;
  std::string keysBefore = {};
};

void PrintTo(const GradeFileCase &c, std::ostream *os) { *os << c.name; }

std::vector<int> Repeat(int value, int count) { return std::vector<int>(static_cast<size_t>(count), value); }
std::vector<int> Join(std::vector<int> a, const std::vector<int> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string kSample = Lines({5, 3, 0, 4, 12, 3, -2, 1});

// The grade files of tests/grades/grade_program_test.cpp, one row each.
const GradeFileCase kCases[] = {
    {"WorkedExample", kSample},
    {"AKeyTypedBeforeTheReport", kSample, Setup::kGradeFile, 25, 80, false, "q"},
    {"NotANumber", "5\r\nabc\r\n", Setup::kGradeFile, 25, 80, false},
    {"EmptyLineAfterTheLast", "5\r\n3\r\n\r\n", Setup::kGradeFile, 25, 80, false},
    {"BlankLineAfterTheLast", "5\r\n \r\n", Setup::kGradeFile, 25, 80, false},
    {"OutOfRange", "2147483648\r\n", Setup::kGradeFile, 25, 80, false},
    {"NoValues", "", Setup::kGradeFile, 25, 80, false},
    {"OnlyInvalidNumbers", "0\r\n7\r\n", Setup::kGradeFile, 25, 80, false},
    {"MissingGradeFile", "", Setup::kNoGradeFile, 25, 80, false},
    {"MissingFolder", "", Setup::kNoFolder, 25, 80, false},
    {"GradeFileHeldOpenElsewhere", Lines({5}), Setup::kHeldOpen, 25, 80, false},
    {"InvalidNumberFileCannotBeCreated", kSample, Setup::kBadFileIsFolder, 25, 80, false},
    {"ValidGradeFileCannotBeCreated", kSample, Setup::kGoodFileIsFolder, 25, 80, false},
    {"TenValues", Lines(Repeat(4, 10)), Setup::kGradeFile, 60, 80},
    {"TwentyValues", Lines(Repeat(2, 20)), Setup::kGradeFile, 60, 80},
    {"ExactlyTenInvalid", Lines(Join({3}, Repeat(-7, 10))), Setup::kGradeFile, 60, 80},
    {"TwelveInvalid", Lines(Join({1}, Repeat(99, 12))), Setup::kGradeFile, 60, 80},
    {"WideValues", Lines({1234567, -1000000, 123456, 2}), Setup::kGradeFile, 60, 80},
    {"NoInvalidNumber", Lines({1, 2, 3})},
    // Wine's console cannot scroll the window (see tests/wine/terminal_keys.cpp):
    // the long reports go to a terminal tall enough for all of them.
    {"ALongReport", Lines(Join(Repeat(3, 150), Repeat(8, 100))), Setup::kGradeFile, 60, 80},
    {"ANarrowTerminalWraps", kSample, Setup::kGradeFile, 40, 20},
    {"NoConsoleAtAll", Lines({5}), Setup::kNoTerminal},
    {"ThousandValues", Lines(Repeat(4, 1000)), Setup::kGradeFile, 130, 80},
    {"ThousandAndOneValues", Lines(Repeat(4, 1001)), Setup::kGradeFile, 25, 80, false},
};

// Everything a run leaves that a user can see.
struct Outcome {
  int exitCode = -1;
  std::vector<std::string> screen;  // or, without a terminal, standard output and error
  int cursorRow = -1, cursorColumn = -1;
  std::optional<std::string> badFile, goodFile;  // empty when not a file
};

std::string MaskAddresses(const std::string &text) {
  static const std::regex address("0x[0-9A-F]{8}");
  return std::regex_replace(text, address, "0x????????");
}

std::optional<std::string> FileBytes(const std::string &path) {
  if (!std::filesystem::is_regular_file(path)) return std::nullopt;
  return DriveRoot::Read(path);
}

Outcome RunOn(const GradeProgram &program, const GradeFileCase &c) {
  DriveRoot root;
  if (c.setup != Setup::kNoGradeFile && c.setup != Setup::kNoFolder) root.WriteGrades(c.grades);
  if (c.setup == Setup::kNoFolder) std::filesystem::remove_all(root.Folder());
  if (c.setup == Setup::kBadFileIsFolder) std::filesystem::create_directory(root.BadFile());
  if (c.setup == Setup::kGoodFileIsFolder) std::filesystem::create_directory(root.GoodFile());
  Outcome outcome;
  if (c.setup == Setup::kNoTerminal) {
    gradetest::PlainRun run = gradetest::RunWithoutTerminal(root, program);
    outcome.exitCode = run.exitCode;
    outcome.screen = {MaskAddresses(run.output), run.errors};
  } else {
    std::optional<gradetest::HeldOpen> held;
    if (c.setup == Setup::kHeldOpen) {
      held.emplace(program, root, root.GradeFile());
      EXPECT_TRUE(held->Holding());
    }
    RunOptions options;
    options.rows = c.rows;
    options.columns = c.columns;
    options.keysBefore = c.keysBefore;
    options.pressKeyAtWait = c.pressKeyAtWait;
    RunResult run = gradetest::RunGrades(root, options, program);
    outcome.exitCode = run.exitCode;
    for (const std::string &row : run.rows) outcome.screen.push_back(MaskAddresses(row));
    outcome.cursorRow = run.cursorRow;
    outcome.cursorColumn = run.cursorColumn;
  }
  outcome.badFile = FileBytes(root.BadFile());
  outcome.goodFile = FileBytes(root.GoodFile());
  return outcome;
}

class BuildsAgreeTest : public ::testing::TestWithParam<GradeFileCase> {};

TEST_P(BuildsAgreeTest, SameScreenResultFilesAndExitCode) {
  const GradeFileCase &c = GetParam();
  const Outcome onLinux = RunOn(Linux(), c);
  const Outcome onForeign = RunOn(gradetest::ProgramUnderTest(), c);
  // A run that did not end by itself compares as nothing.
  ASSERT_NE(onLinux.exitCode, -1) << "the x86-64 build did not end";
  ASSERT_NE(onForeign.exitCode, -1) << "the " << foreign::kName << " build did not end";
  EXPECT_EQ(onForeign.exitCode, onLinux.exitCode);
  EXPECT_EQ(onForeign.screen, onLinux.screen);
  EXPECT_EQ(onForeign.cursorRow, onLinux.cursorRow);
  EXPECT_EQ(onForeign.cursorColumn, onLinux.cursorColumn);
  EXPECT_EQ(onForeign.badFile, onLinux.badFile);
  EXPECT_EQ(onForeign.goodFile, onLinux.goodFile);
}

INSTANTIATE_TEST_SUITE_P(GradeFiles, BuildsAgreeTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
