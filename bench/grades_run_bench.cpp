// The whole run of build/grades on a 1000-value file in a pseudo-terminal,
// from its start to its end (a key typed ahead ends the wait at once: typed
// before the program starts, or arriving together with the answers to its
// start-up questions), next to its peer: a program that writes a report of
// the same text in one write(2) into the same kind of terminal and then
// sleeps the 1 ms that the wait for a key takes before its first poll
// (report_peer).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/terminal_side.h"

namespace {

namespace fs = std::filesystem;

// In memory where the machine has it: every run truncates and writes the
// two result files again, and a disk file system would add its own work
// for that (ext4 starts writing a file truncated to nothing and written
// again when it is closed) to every figure, with its noise.
fs::path ScratchParent() {
  std::error_code error;
  return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

struct Scratch {
  fs::path root = ScratchParent() / ("grades-bench-" + std::to_string(getpid()));
  std::string report;  // the report's text, as the program paints it

  Scratch() {
    fs::create_directories(root / "e/devpas/jegyek");
    std::ofstream grades(root / "e/devpas/jegyek/egeszek.txt", std::ios::binary);
    int counts[6] = {};
    std::string numbers, bad;
    int good = 0, badCount = 0, sum = 0;
    for (int i = 0; i < 1000; ++i) {
      int v = (i * 7919) % 9 - 1;  // -1 .. 7: grades and invalid numbers
      grades << v << "\r\n";
      char cell[16];
      std::snprintf(cell, sizeof cell, "%6d", v);
      numbers += cell;
      if ((i + 1) % 10 == 0) numbers += "\r\n";
      if (v >= 1 && v <= 5) {
        ++counts[v];
        ++good;
        sum += v;
      } else {
        bad += cell;
        if (++badCount % 10 == 0) bad += "\r\n";
      }
    }
    char line[128];
    report = "A fajlban 1000 szam volt.\r\n" + numbers + "\r\n\r\n";
    std::snprintf(line, sizeof line, "A fajlban levo osztalyzatok megoszlasa: %6d db\r\n\r\n", good);
    report += line;
    for (int k = 1; k <= 5; ++k) {
      std::snprintf(line, sizeof line, "%d -es osztalyzatok szama: %6d darab\r\n", k, counts[k]);
      report += line;
    }
    std::snprintf(line, sizeof line, "\r\n\r\nA fajlban levo osztalyzatok atlaga: %10.4f\r\n\r\n\r\n",
                  static_cast<double>(sum) / good);
    report += line;
    std::snprintf(line, sizeof line, "A fajlban levo rossz szamok: %10d db\r\n\r\n", badCount);
    report += line + bad;
    std::ofstream(root / "report.txt", std::ios::binary) << report;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Scratch &Files() {
  static Scratch scratch;
  return scratch;
}

// How the key is typed ahead.
struct TypeAhead {
  std::string beforeStart, withAnswers;
};

pid_t StartOnPty(const char *const argv[], const TypeAhead &keys, TerminalSide &side, bool traced) {
  winsize size = {25, 80, 0, 0};
  pid_t pid = forkpty(&side.master, nullptr, nullptr, &size);
  if (pid < 0) std::abort();
  if (pid == 0) {
    if (traced) {
      ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
      raise(SIGSTOP);
    }
    execv(argv[0], const_cast<char *const *>(argv));
    _exit(127);
  }
  const std::string &before = keys.beforeStart;
  if (!before.empty() && write(side.master, before.data(), before.size()) < 0) std::abort();
  side.withAnswers = keys.withAnswers;
  return pid;
}

void Finish(pid_t pid, int status, TerminalSide &side) {
  close(side.master);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  (void)pid;
}

size_t CountTerminalWrites(const char *const argv[], const TypeAhead &keys);

struct Run {
  size_t bytes = 0;
  double cpuMs = 0;  // the program's own, user and system
};

// Runs `argv` on a fresh 80 by 25 pseudo-terminal until it ends.
Run RunOnPty(const char *const argv[], const TypeAhead &keys) {
  TerminalSide side;
  pid_t pid = StartOnPty(argv, keys, side, false);
  while (side.Read()) {
  }
  int status;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Finish(pid, status, side);
  auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return {side.total, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

void Measure(benchmark::State &state, const char *const argv[], const TypeAhead &keys) {
  Run last;
  double cpu = 0;
  for (auto _ : state) {
    last = RunOnPty(argv, keys);
    cpu += last.cpuMs;
  }
  state.counters["terminal_bytes"] = static_cast<double>(last.bytes);
  state.counters["program_cpu_ms"] = cpu / static_cast<double>(state.iterations());
  state.counters["terminal_writes"] = static_cast<double>(CountTerminalWrites(argv, keys));
}

// The same run under ptrace, counting the write(2) calls of every thread
// whose descriptor is the terminal. Slower: measured apart from the timing.
size_t CountTerminalWrites(const char *const argv[], const TypeAhead &keys) {
  TerminalSide side;
  pid_t pid = StartOnPty(argv, keys, side, true);
  const std::string terminal = ptsname(side.master);
  fcntl(side.master, F_SETFL, fcntl(side.master, F_GETFL) | O_NONBLOCK);
  int status;
  waitpid(pid, &status, 0);  // the stop before exec
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         static_cast<long>(PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
  ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
  size_t writes = 0;
  for (;;) {
    while (side.Read()) {
    }
    int st;
    pid_t who = waitpid(-1, &st, __WALL | WNOHANG);
    if (who == 0) {
      pollfd p{side.master, POLLIN, 0};
      poll(&p, 1, 1);
      continue;
    }
    if (who < 0) std::abort();
    if (!WIFSTOPPED(st)) {
      if (who == pid) {
        status = st;
        break;
      }
      continue;
    }
    int deliver = 0;
    if (WSTOPSIG(st) == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info info{};
      ptrace(PTRACE_GET_SYSCALL_INFO, who, reinterpret_cast<void *>(sizeof info), &info);
      if (info.op == PTRACE_SYSCALL_INFO_ENTRY && info.entry.nr == SYS_write) {
        char link[256];
        std::string path = "/proc/" + std::to_string(who) + "/fd/" + std::to_string(info.entry.args[0]);
        ssize_t n = readlink(path.c_str(), link, sizeof link);
        // /dev/tty is the program's controlling terminal: this one.
        const std::string file(link, n > 0 ? static_cast<size_t>(n) : 0);
        if (file == terminal || file == "/dev/tty") ++writes;
      }
    } else if (WSTOPSIG(st) != SIGTRAP && WSTOPSIG(st) != SIGSTOP) {
      deliver = WSTOPSIG(st);  // a real signal: passed on
    }
    ptrace(PTRACE_SYSCALL, who, nullptr, reinterpret_cast<void *>(static_cast<long>(deliver)));
  }
  while (side.Read()) {
  }
  Finish(pid, status, side);
  return writes;
}

// The program to measure: the build's own, or another build's given in
// GRADES_BENCH_EXE (to compare two builds side by side).
const char *Program() {
  const char *other = std::getenv("GRADES_BENCH_EXE");
  return other != nullptr && *other != 0 ? other : GRADES_EXE;
}

void GradesRun(benchmark::State &state, const TypeAhead &keys) {
  setenv("GRADES_DRIVE_ROOT", Files().root.c_str(), 1);
  const char *const argv[] = {Program(), nullptr};
  Measure(state, argv, keys);
  state.counters["report_bytes"] = static_cast<double>(Files().report.size());
}

void BM_GradesRun(benchmark::State &state) { GradesRun(state, {"k", ""}); }
void BM_GradesRunKeyWithAnswers(benchmark::State &state) { GradesRun(state, {"", "k"}); }

void BM_ReportPeer(benchmark::State &state) {
  std::string path = (Files().root / "report.txt").string();
  const char *const argv[] = {REPORT_PEER, path.c_str(), nullptr};
  Measure(state, argv, {});
}

BENCHMARK(BM_GradesRun)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_GradesRunKeyWithAnswers)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ReportPeer)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
