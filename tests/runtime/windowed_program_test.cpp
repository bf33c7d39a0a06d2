// rterror, the example of a windowed program: its text and its run-time
// error message appear in message boxes, which a test reads on standard
// error (the Linux platform's message box, or a recording one under Wine),
// and nothing goes to standard output.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "driver_launch.h"

namespace {

TEST(WindowedProgram, ShowsItsTextAndItsErrorInOneMessageBox) {
  struct Case {
    const char *number;
    int exitCode;
    const char *boxes;  // all of standard error
  };
  const Case cases[] = {
      // The first line end alone does not show the text: the message joins it.
      {"2", 2, "Error: hello\r\nRuntime error 2 at 0x([0-9A-F]{8})\r\n  0x\\1\r\n  0x[0-9A-F]{8}\r\n\r\n"},
      // The close at the end shows what is left.
      {"0", 0, "Error: hello\r\n"},
  };
  for (const Case &c : cases) {
    ChildResult result = Launch({RTERROR_PROGRAM, "hello", c.number});
    EXPECT_TRUE(result.exited && result.exitCode == c.exitCode) << Describe(result);
    EXPECT_EQ(result.output, "") << Describe(result);
    EXPECT_TRUE(std::regex_match(result.errors, std::regex(c.boxes))) << Describe(result);
  }
}

}  // namespace
