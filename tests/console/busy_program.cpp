// A program on the run-time layer that writes a line to the console and
// then computes without a console call, a few times over. Each line says
// when it was written, in milliseconds of the monotonic clock (modulo 10^9),
// so that a test can tell how long it took to reach the terminal.
#include <ctime>

#include "console/console_module.h"
#include "runtime/core_init.h"
#include "runtime/run_error.h"
#include "runtime/startup.h"
#include "runtime/std_streams.h"
#include "textio/write_text.h"

namespace {

constexpr int kLines = 6;
constexpr long long kComputeMs = 250;

long long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void RunBusyProgram() {
  isConsoleApp = true;
  InitModules();
  for (int line = 1; line <= kLines; ++line) {
    WriteString(0, stdOutput, StringFrom("line "));
    WriteInteger(0, stdOutput, line);
    WriteString(0, stdOutput, StringFrom(" at "));
    WriteInteger(0, stdOutput, static_cast<int32_t>(NowMs() % 1000000000));
    WriteLineEnd(stdOutput);
    CheckIo();
    for (const long long end = NowMs() + kComputeMs; NowMs() < end;) {
    }
  }
  NormalEnd();
}

const ModuleEntry kModules[] = {kCoreModule, kConsoleModule};

}  // namespace

ModuleTable moduleTable = {2, 0, kModules};
const MainRoutine mainRoutine = RunBusyProgram;
