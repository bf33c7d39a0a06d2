// The grade program end to end, in a pseudo-terminal: every outcome a user
// can meet, with the screen, the result files and the exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/grades/grade_run.h"

namespace {

using gradetest::DriveRoot;
using gradetest::kWorkedExample;
using gradetest::Lines;
using gradetest::Report;
using gradetest::RunGrades;
using gradetest::RunOptions;
using gradetest::RunResult;

// The four lines of a run-time error message starting at `row`: the number
// and location, the location again, the main routine's return point, an
// empty line.
void ExpectMessage(const RunResult &run, size_t row, int number) {
  ASSERT_GE(run.rows.size(), row + 4);
  std::smatch m;
  const std::string &first = run.rows[row];
  ASSERT_TRUE(
      std::regex_match(first, m, std::regex(".*Runtime error " + std::to_string(number) + " at 0x([0-9A-F]{8})")))
      << first;
  EXPECT_EQ(run.rows[row + 1], "  0x" + m[1].str());
  EXPECT_TRUE(std::regex_match(run.rows[row + 2], std::regex("  0x[0-9A-F]{8}"))) << run.rows[row + 2];
  EXPECT_EQ(run.rows[row + 3], "");
  EXPECT_EQ(run.cursorRow, static_cast<int>(row) + 4);
  EXPECT_EQ(run.cursorColumn, 0);
}

TEST(GradeProgramTest, WorkedExample) {
  DriveRoot root;
  root.WriteGrades(Lines({5, 3, 0, 4, 12, 3, -2, 1}));
  RunResult run = RunGrades(root);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Report(run), kWorkedExample);
  EXPECT_EQ(run.cursorRow, 17);  // behind the last line while it waited, and after
  EXPECT_EQ(run.cursorColumn, 18);
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), "0\r\n12\r\n-2\r\n");
  EXPECT_EQ(DriveRoot::Read(root.GoodFile()), "5\r\n3\r\n4\r\n3\r\n1\r\n");
  EXPECT_TRUE(run.modeRestored);
}

TEST(GradeProgramTest, AKeyTypedBeforeTheReportEndsTheWait) {
  DriveRoot root;
  root.WriteGrades(Lines({5, 3, 0, 4, 12, 3, -2, 1}));
  RunOptions options;
  options.keysBefore = "q";
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Report(run), kWorkedExample);
}

struct FailureCase {
  const char *name;
  std::string grades;  // the grade file's bytes
  int number;
  size_t messageRow;                // where the message starts
  std::vector<std::string> before;  // report rows above it
};

void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.name; }

class GradeFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(GradeFailureTest, EndsWithTheMessageAndTouchesNoResultFile) {
  const FailureCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(c.grades);
  RunOptions options;
  options.pressKeyAtWait = false;  // a run-time error never waits for a key
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, c.number);
  EXPECT_EQ(std::vector<std::string>(run.rows.begin(), run.rows.begin() + c.messageRow), c.before);
  ExpectMessage(run, c.messageRow, c.number);
  EXPECT_FALSE(DriveRoot::Exists(root.BadFile()));
  EXPECT_FALSE(DriveRoot::Exists(root.GoodFile()));
  EXPECT_TRUE(run.modeRestored);
}

const std::vector<std::string> kEmptyRows1To8 = {
    "A fajlban 0 szam volt.",
    "",
    "",
    "A fajlban levo osztalyzatok megoszlasa:      0 db",
    "",
    "1 -es osztalyzatok szama:      0 darab",
    "2 -es osztalyzatok szama:      0 darab",
    "3 -es osztalyzatok szama:      0 darab",
    "4 -es osztalyzatok szama:      0 darab",
    "5 -es osztalyzatok szama:      0 darab",
    "",
    "",
};

std::vector<std::string> OnlyInvalidRows() {
  std::vector<std::string> rows = kEmptyRows1To8;
  rows[0] = "A fajlban 2 szam volt.";
  rows[1] = "     0     7";
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, GradeFailureTest,
                         ::testing::Values(FailureCase{"NotANumber", "5\r\nabc\r\n", 106, 0, {}},
                                           FailureCase{"EmptyLineAfterTheLast", "5\r\n3\r\n\r\n", 106, 0, {}},
                                           FailureCase{"BlankLineAfterTheLast", "5\r\n \r\n", 106, 0, {}},
                                           FailureCase{"OutOfRange", "2147483648\r\n", 106, 0, {}},
                                           FailureCase{"NoValues", "", 207, 12, kEmptyRows1To8},
                                           FailureCase{"OnlyInvalidNumbers", "0\r\n7\r\n", 207, 12, OnlyInvalidRows()}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(GradeProgramTest, MissingGradeFileAndFolder) {
  DriveRoot root;  // the folder exists, the file does not
  RunOptions options;
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 2);
  ExpectMessage(run, 0, 2);

  std::filesystem::remove_all(root.Folder());
  run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 3);
  ExpectMessage(run, 0, 3);
  EXPECT_FALSE(DriveRoot::Exists(root.BadFile()));
}

TEST(GradeProgramTest, GradeFileHeldOpenElsewhere) {
  DriveRoot root;
  root.WriteGrades(Lines({5}));
  RunResult run;
  {
    gradetest::HeldOpen held(gradetest::ProgramUnderTest(), root, root.GradeFile());
    ASSERT_TRUE(held.Holding());
    RunOptions options;
    options.pressKeyAtWait = false;
    run = RunGrades(root, options);
  }
  EXPECT_EQ(run.exitCode, 5);
  ExpectMessage(run, 0, 5);
}

TEST(GradeProgramTest, InvalidNumberFileCannotBeCreated) {
  DriveRoot root;
  root.WriteGrades(Lines({5, 3, 0, 4, 12, 3, -2, 1}));
  std::filesystem::create_directory(root.BadFile());  // a folder in its place
  RunOptions options;
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 5);
  std::vector<std::string> report = kWorkedExample;
  ASSERT_GE(run.rows.size(), 22u);
  EXPECT_EQ(std::vector<std::string>(run.rows.begin(), run.rows.begin() + 17),
            std::vector<std::string>(report.begin(), report.begin() + 17));
  EXPECT_TRUE(std::regex_match(run.rows[17], std::regex("     0    12    -2Runtime error 5 at 0x[0-9A-F]{8}")))
      << run.rows[17];
  EXPECT_FALSE(DriveRoot::Exists(root.GoodFile()));
}

TEST(GradeProgramTest, ValidGradeFileCannotBeCreated) {
  DriveRoot root;
  root.WriteGrades(Lines({5, 3, 0, 4, 12, 3, -2, 1}));
  std::filesystem::create_directory(root.GoodFile());
  RunOptions options;
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), "0\r\n12\r\n-2\r\n");  // complete
}

TEST(GradeProgramTest, RunTimeErrorLandsBehindTheLastReportText) {
  DriveRoot root;
  root.WriteGrades("");
  RunOptions options;
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  ASSERT_EQ(run.exitCode, 207);
  EXPECT_TRUE(std::regex_match(run.rows[12], std::regex("Runtime error 207 at 0x[0-9A-F]{8}"))) << run.rows[12];
}

struct ReportCase {
  const char *name;
  std::vector<int> values;
  std::vector<std::string> numberRows;  // row 2 of the report, one screen row each
  std::vector<std::string> badRows;     // the list at the end
};

void PrintTo(const ReportCase &c, std::ostream *os) { *os << c.name; }

class ReportLayoutTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportLayoutTest, NumberListsBreakAfterEveryTenth) {
  const ReportCase &c = GetParam();
  DriveRoot root;
  root.WriteGrades(Lines(c.values));
  RunResult run = RunGrades(root, RunOptions{60, 80, "", true});
  ASSERT_EQ(run.exitCode, 0);
  std::vector<std::string> rows = Report(run);
  EXPECT_EQ(rows[0], "A fajlban " + std::to_string(c.values.size()) + " szam volt.");
  size_t at = 1;
  for (const std::string &r : c.numberRows) EXPECT_EQ(rows[at++], r);
  EXPECT_EQ(rows[at], "");  // rows 3 and 4 of the report
  EXPECT_EQ(rows[at + 1].rfind("A fajlban levo osztalyzatok megoszlasa:", 0), 0u) << rows[at + 1];
  std::vector<std::string> tail(rows.end() - static_cast<long>(c.badRows.size()), rows.end());
  EXPECT_EQ(tail, c.badRows);
}

std::vector<int> Repeat(int value, int count) { return std::vector<int>(static_cast<size_t>(count), value); }
std::vector<int> Join(std::vector<int> a, const std::vector<int> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::string Row(int value, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    std::string v = std::to_string(value);
    s += std::string(v.size() < 6 ? 6 - v.size() : 0, ' ') + v;
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReportLayoutTest,
                         ::testing::Values(ReportCase{"TenValues",
                                                      Repeat(4, 10),
                                                      {Row(4, 10), ""},
                                                      {"A fajlban levo rossz szamok:          0 db"}},
                                           ReportCase{"TwentyValues",
                                                      Repeat(2, 20),
                                                      {Row(2, 10), Row(2, 10), ""},
                                                      {"A fajlban levo rossz szamok:          0 db"}},
                                           ReportCase{"ExactlyTenInvalid",
                                                      Join({3}, Repeat(-7, 10)),
                                                      {Row(3, 1) + Row(-7, 9), Row(-7, 1)},
                                                      {"A fajlban levo rossz szamok:         10 db", "", Row(-7, 10)}},
                                           ReportCase{"TwelveInvalid",
                                                      Join({1}, Repeat(99, 12)),
                                                      {Row(1, 1) + Row(99, 9), Row(99, 3)},
                                                      {"", Row(99, 10), Row(99, 2)}},
                                           ReportCase{"WideValues",
                                                      {1234567, -1000000, 123456, 2},
                                                      {"1234567-1000000123456     2"},
                                                      {"", "1234567-1000000123456"}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(GradeProgramTest, NoInvalidNumberGivesAnEmptyFile) {
  DriveRoot root;
  root.WriteGrades(Lines({1, 2, 3}));
  RunResult run = RunGrades(root);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(DriveRoot::Exists(root.BadFile()));
  EXPECT_EQ(DriveRoot::Read(root.BadFile()), "");
  EXPECT_EQ(DriveRoot::Read(root.GoodFile()), "1\r\n2\r\n3\r\n");
  std::vector<std::string> rows = Report(run);
  EXPECT_EQ(rows.back(), "A fajlban levo rossz szamok:          0 db");
  EXPECT_EQ(run.cursorRow, static_cast<int>(rows.size()) + 1);  // behind the empty row 12
}

TEST(GradeProgramTest, ALongReportScrollsTheScreen) {
  if (!gradetest::ProgramUnderTest().ScrollsTheWindow())
    GTEST_SKIP() << "SKIPPED: this console does not scroll the window the console module scrolls";
  DriveRoot root;
  std::vector<int> values = Join(Repeat(3, 150), Repeat(8, 100));  // 25 + 10 rows of numbers
  root.WriteGrades(Lines(values));
  RunResult run = RunGrades(root);  // 25 rows
  ASSERT_EQ(run.exitCode, 0);
  // The hundredth invalid number's line end scrolled the last list row up
  // onto the row above the bottom one; the report's top is gone.
  EXPECT_EQ(run.rows[24], "");
  for (int r = 14; r <= 23; ++r) EXPECT_EQ(run.rows[r], Row(8, 10)) << r;
  EXPECT_EQ(run.rows[13], "");
  EXPECT_EQ(run.rows[12], "A fajlban levo rossz szamok:        100 db");
  EXPECT_EQ(run.rows[9], "A fajlban levo osztalyzatok atlaga:     3.0000");
  EXPECT_EQ(run.cursorRow, 24);
  EXPECT_EQ(run.cursorColumn, 0);
}

// The message is drawn behind everything the report drew, although the
// report scrolled the screen many times since the terminal was last drawn.
TEST(GradeProgramTest, ARunTimeErrorFollowsALongReport) {
  if (!gradetest::ProgramUnderTest().ScrollsTheWindow())
    GTEST_SKIP() << "SKIPPED: this console does not scroll the window the console module scrolls";
  DriveRoot root;
  root.WriteGrades(Lines(Join(Repeat(3, 150), Repeat(8, 100))));
  std::filesystem::create_directory(root.BadFile());  // a folder in its place
  RunOptions options;
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  ASSERT_EQ(run.exitCode, 5);
  // The last list row's line end left the cursor on the bottom row; the
  // message's four lines scrolled the screen up by four more.
  EXPECT_EQ(run.rows[8], "A fajlban levo rossz szamok:        100 db");
  for (int r = 10; r <= 19; ++r) EXPECT_EQ(run.rows[r], Row(8, 10)) << r;
  ExpectMessage(run, 20, 5);
}

TEST(GradeProgramTest, ANarrowTerminalWrapsLines) {
  DriveRoot root;
  root.WriteGrades(Lines({5, 3, 0, 4, 12, 3, -2, 1}));
  RunResult run = RunGrades(root, RunOptions{40, 20, "", true});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.rows[0], "A fajlban 8 szam vol");
  EXPECT_EQ(run.rows[1], "t.");
  EXPECT_EQ(run.rows[2], "     5     3     0");
  EXPECT_EQ(run.rows[3], "   4    12     3");
  EXPECT_EQ(run.rows[4], "-2     1");
}

TEST(GradeProgramTest, NoConsoleAtAll) {
  // A new session has no controlling terminal, and standard output is a file.
  DriveRoot root;
  root.WriteGrades(Lines({5}));
  gradetest::PlainRun run = gradetest::RunWithoutTerminal(root);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errors, "No way to get the console handle\r\n");
  EXPECT_EQ(run.output, "");  // no run-time error message
  EXPECT_FALSE(DriveRoot::Exists(root.BadFile()));
}

TEST(GradeProgramTest, MoreThanAThousandValuesStopAtTheReadingStatement) {
  DriveRoot root;
  root.WriteGrades(Lines(Repeat(4, 1001)));
  RunOptions options;
  options.pressKeyAtWait = false;
  RunResult run = RunGrades(root, options);
  EXPECT_EQ(run.exitCode, 201);
  ExpectMessage(run, 0, 201);
  EXPECT_FALSE(DriveRoot::Exists(root.BadFile()));

  root.WriteGrades(Lines(Repeat(4, 1000)));  // exactly full is fine
  run = RunGrades(root, RunOptions{25, 80, "", true});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(DriveRoot::Read(root.GoodFile()).size(), 3000u);
}

}  // namespace
