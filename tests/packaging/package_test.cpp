// The Debian package of this build, made as `make package` makes it: what it
// holds, what it depends on, and that its programs run from where it
// unpacks, its manual pages render and its debug package resolves the
// addresses they print.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/grades/grade_run.h"

namespace {

namespace fs = std::filesystem;
using gradetest::DriveRoot;
using gradetest::kSampleGrades;
using gradetest::kWorkedExample;

struct Ran {
  int status = -1;
  std::string output;
};

// Runs `command` in a shell: its exit status and what it wrote (both streams
// when `errors` is set, else standard output alone).
Ran Shell(const std::string &command, bool errors = false) {
  Ran ran;
  FILE *pipe = popen((command + (errors ? " 2>&1" : "")).c_str(), "r");
  if (pipe == nullptr) return ran;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) ran.output.append(buffer, n);
  const int status = pclose(pipe);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new DriveRoot;
    const std::string out = scratch_->Root() + "/packages";
    Ran made = Shell("cpack -G DEB -B '" + out + "' --config '" GRADES_BUILD_DIR "/CPackConfig.cmake'", true);
    ASSERT_EQ(made.status, 0) << made.output;
    std::string debug;
    for (const auto &entry : fs::directory_iterator(out)) {
      if (entry.path().extension() == ".deb") deb_ = new std::string(entry.path().string());
      if (entry.path().extension() == ".ddeb") debug = entry.path().string();
    }
    ASSERT_NE(deb_, nullptr) << made.output;
    root_ = new std::string(scratch_->Root() + "/root");
    ASSERT_EQ(Shell("dpkg-deb -x '" + *deb_ + "' '" + *root_ + "'", true).status, 0);
    // The debug package unpacks beside it, as it installs.
    ASSERT_FALSE(debug.empty()) << made.output;
    ASSERT_EQ(Shell("dpkg-deb -x '" + debug + "' '" + *root_ + "'", true).status, 0);
  }
  static void TearDownTestSuite() {
    delete scratch_;
    delete deb_;
    delete root_;
  }

  static DriveRoot *scratch_;
  static std::string *deb_, *root_;
};

DriveRoot *PackageTest::scratch_ = nullptr;
std::string *PackageTest::deb_ = nullptr;
std::string *PackageTest::root_ = nullptr;

TEST_F(PackageTest, HoldsTheProgramsAndTheirManualPages) {
  ASSERT_NE(deb_, nullptr);
  Ran listed = Shell("dpkg-deb -c '" + *deb_ + "' | awk '$1 !~ /^d/ {print $6}'");
  EXPECT_EQ(listed.output,
            "./usr/bin/grades\n./usr/bin/realtotext\n./usr/share/doc/grades/changelog.gz\n"
            "./usr/share/doc/grades/copyright\n./usr/share/man/man1/grades.1.gz\n"
            "./usr/share/man/man1/realtotext.1.gz\n");
  // Read off the programs by dpkg-shlibdeps, not written by hand.
  Ran depends = Shell("dpkg-deb -f '" + *deb_ + "' Depends");
  EXPECT_NE(depends.output.find("libc6"), std::string::npos) << depends.output;
}

TEST_F(PackageTest, TheManualPagesRenderWithoutWarnings) {
  ASSERT_NE(root_, nullptr);
  for (const char *page : {"grades", "realtotext"}) {
    const std::string path = *root_ + "/usr/share/man/man1/" + page + ".1.gz";
    Ran warnings = Shell("MANWIDTH=80 man --warnings -l '" + path + "' 2>&1 >/dev/null");
    EXPECT_EQ(warnings.status, 0) << page;
    EXPECT_EQ(warnings.output, "") << page;
    Ran shown = Shell("MANWIDTH=80 man -l '" + path + "' 2>/dev/null");
    EXPECT_NE(shown.output.find("EXIT STATUS"), std::string::npos) << page;
  }
}

TEST_F(PackageTest, TheProgramsRunFromWhereItUnpacks) {
  ASSERT_NE(root_, nullptr);
  const std::string line = "4000:CCCCCCCCCCCCD000 10 4 1";
  Ran converted = Shell("echo '" + line + "' | '" + *root_ + "/usr/bin/realtotext'");
  EXPECT_EQ(converted.status, 0);
  EXPECT_EQ(converted.output, Shell("echo '" + line + "' | '" GRADES_REALTOTEXT "'").output);
  EXPECT_EQ(converted.output, "    3.2000\n");

  DriveRoot drive;
  drive.WriteGrades(kSampleGrades);
  gradetest::RunResult run = gradetest::RunGrades(drive, {}, gradetest::LinuxGrades(*root_ + "/usr/bin/grades"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(gradetest::Report(run), kWorkedExample);
  EXPECT_EQ(DriveRoot::Read(drive.GoodFile()), "5\r\n3\r\n4\r\n3\r\n1\r\n");
}

// The programs are stripped: the location of a run-time error resolves to a
// source line through the debug file that the program's build ID names, the
// source named where the tree is mapped to, not where it was built.
TEST_F(PackageTest, ARunTimeErrorResolvesThroughTheDebugPackage) {
  ASSERT_NE(root_, nullptr);
  const std::string grades = *root_ + "/usr/bin/grades";
  EXPECT_EQ(Shell("readelf -S '" + grades + "' | grep -cE ' [.](symtab|debug_info) '").output, "0\n");
  DriveRoot drive;
  drive.WriteGrades("");
  gradetest::RunOptions options;
  options.pressKeyAtWait = false;
  gradetest::RunResult run = gradetest::RunGrades(drive, options, gradetest::LinuxGrades(grades));
  ASSERT_EQ(run.exitCode, 207);
  std::smatch location;
  ASSERT_GT(run.rows.size(), 12u);
  ASSERT_TRUE(std::regex_match(run.rows[12], location, std::regex("Runtime error 207 at 0x([0-9A-F]{8})")));
  const std::string id = Shell("readelf -n '" + grades + "' | sed -n 's/.*Build ID: //p'").output;
  ASSERT_GT(id.size(), 3u);
  const std::string debug =
      *root_ + "/usr/lib/debug/.build-id/" + id.substr(0, 2) + "/" + id.substr(2, id.size() - 3) + ".debug";
  const Ran line = Shell("addr2line -e '" + debug + "' 0x" + location[1].str());
  EXPECT_TRUE(std::regex_match(
      line.output, std::regex(GRADES_MAPPED_SOURCE_DIR "/[a-z0-9_]+/[a-z0-9_/]+[.](cpp|h):[0-9]+( [(].*[)])?\n")))
      << line.output;
}

}  // namespace
