// What a program writes to the console reaches the terminal within a frame,
// whatever it does next: here it computes for a while without a console
// call after every line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <ctime>
#include <map>
#include <string>

#include "tests/support/vterm_pty.h"

namespace {

using testsupport::VtermPty;

long long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

TEST(FrameDeadlineTest, EachLineShowsWhileTheProgramComputes) {
  VtermPty pty({25, 80, false});
  ASSERT_TRUE(pty.Start({BUSY_PROGRAM}));
  std::map<int, long long> lateness;  // line number: ms from its write to the screen
  VtermPty::WaitUntil(
      [&] {
        const long long now = NowMs() % 1000000000;
        for (int row = 0; row < pty.Rows(); ++row) {
          int line = 0;
          long long written = 0;
          if (std::sscanf(pty.RowText(row).c_str(), "line %d at %lld", &line, &written) == 2 && !lateness.count(line))
            lateness[line] = now - written;
        }
        return lateness.size() == 6;
      },
      10000);
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_TRUE(WIFEXITED(pty.Status()) && WEXITSTATUS(pty.Status()) == 0);
  ASSERT_EQ(lateness.size(), 6u);
  for (const auto &[line, ms] : lateness) EXPECT_LE(ms, 50) << "line " << line;
}

}  // namespace
