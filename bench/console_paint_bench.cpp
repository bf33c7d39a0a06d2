// What painting the grade report of 1000 numbers costs the terminal: bytes
// written and write(2) calls, against the report's own size and its number
// of write statements. The report is painted by the real console driver in a
// pseudo-terminal; the parent answers the terminal's start-up queries.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console_screen.h"
#include "grades/grade_data.h"
#include "grades/report.h"
#include "platform/posix/console_host/control.h"
#include "runtime/core_init.h"
#include "runtime/std_streams.h"

ModuleTable moduleTable = {0, 0, nullptr};
const MainRoutine mainRoutine = nullptr;

namespace {

long reportBytes = 0, statements = 0;

void CountingFlush(TextStream &stream) {
  reportBytes += stream.bufPos;
  ++statements;
  ConsoleWrite(stream);
}

void CountingTransfer(TextStream &stream) {
  reportBytes += stream.bufPos;
  ConsoleWrite(stream);
}

int Child(const char *logPath) {
  CoreInit();
  InitConsole();
  ClearScreen();
  GradeData &g = gradeData;
  g.nextIndex = g.nextBad = g.nextGood = 1;
  for (int i = 0; i < kMaxValues; ++i) {
    int v = (i * 7919) % 9 - 1;
    g.numbers[g.nextIndex++] = v;
    if (v >= 1 && v <= 5) {
      ++g.gradeCounts[v];
      g.goodNumbers[g.nextGood++] = v;
    } else {
      g.badNumbers[g.nextBad++] = v;
    }
  }
  platform_posix::TerminalOutputStats before = platform_posix::TerminalHostStats();
  stdOutput.flushProc = CountingFlush;
  stdOutput.transferProc = CountingTransfer;
  PrintReport();
  platform_posix::TerminalOutputStats after = platform_posix::TerminalHostStats();
  FILE *log = std::fopen(logPath, "w");
  std::fprintf(log, "%ld %ld %llu %llu\n", reportBytes, statements, after.bytes - before.bytes,
               after.writeCalls - before.writeCalls);
  std::fclose(log);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "child") == 0) return Child(argv[2]);
  std::string log = "/tmp/console_paint_bench." + std::to_string(getpid());
  winsize size = {25, 80, 0, 0};
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    execl("/proc/self/exe", argv[0], "child", log.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  char buf[65536];
  for (;;) {
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    std::string chunk(buf, static_cast<size_t>(n));
    if (chunk.find("\x1b[6n") != std::string::npos && write(master, "\x1b[1;1R", 6) < 0) break;
    if (chunk.find("\x1b[c") != std::string::npos && write(master, "\x1b[?1;2c", 7) < 0) break;
  }
  int status;
  waitpid(pid, &status, 0);
  long bytes = 0, stmts = 0;
  unsigned long long termBytes = 0, writes = 0;
  FILE *f = std::fopen(log.c_str(), "r");
  if (f == nullptr || std::fscanf(f, "%ld %ld %llu %llu", &bytes, &stmts, &termBytes, &writes) != 4) {
    std::fprintf(stderr, "the painting child failed\n");
    return 1;
  }
  std::fclose(f);
  std::remove(log.c_str());
  std::printf("report: %ld bytes in %ld write statements (80x25 terminal)\n", bytes, stmts);
  std::printf("terminal: %llu bytes (%.3f of the report), %llu write(2) calls (%.3f per statement)\n", termBytes,
              static_cast<double>(termBytes) / static_cast<double>(bytes), writes,
              static_cast<double>(writes) / static_cast<double>(stmts));
  return 0;
}
