// rterror: a windowed program on the run-time frame, the example of one.
//
//   rterror TEXT NUMBER
//
// writes TEXT and a line end to stdError, then raises run-time error NUMBER;
// 0 ends the run normally. A windowed program's error streams are message
// boxes: the text and the run-time error message appear in them (on Linux,
// the platform's message box writes them to standard error).
#include <cstdlib>
#include <string_view>

#include "platform/platform.h"
#include "runtime/core_init.h"
#include "runtime/run_error.h"
#include "runtime/startup.h"
#include "runtime/std_streams.h"
#include "textio/write_text.h"

namespace {

// The command line's words; a double-quoted part may hold blanks.
struct Arguments {
  char text[1024];
  const char *words[3];
  int count = 0;
};

Arguments Split(const char *line) {
  Arguments a;
  std::size_t n = 0;
  while (*line != '\0' && a.count < 3) {
    while (*line == ' ') ++line;
    if (*line == '\0') break;
    a.words[a.count++] = a.text + n;
    for (bool quoted = false; *line != '\0' && (quoted || *line != ' '); ++line) {
      if (*line == '"') quoted = !quoted;
      else if (n + 2 < sizeof a.text) a.text[n++] = *line;
    }
    a.text[n++] = '\0';
  }
  return a;
}

void Main() {
  InitModules();
  const Arguments args = Split(GetCommandLineA());
  WriteString(0, stdError, StringFrom(args.count > 1 ? args.words[1] : ""));
  WriteLineEnd(stdError);
  CheckIo();
  const auto number = static_cast<uint16_t>(args.count > 2 ? std::strtoul(args.words[2], nullptr, 10) : 0);
  if (number != 0) RaiseRunError(number);
  NormalEnd();
}

const ModuleEntry modules[] = {kCoreModule, kResourceStringModule, kDiskSpaceModule};

}  // namespace

ModuleTable moduleTable = {3, 0, modules};
const MainRoutine mainRoutine = Main;
