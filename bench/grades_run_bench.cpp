// The whole run of build/grades on a 1000-value file in a pseudo-terminal,
// from its start to its end (a key typed ahead ends the wait at once), next
// to `cat` of a report of the same text into the same kind of terminal.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path root = fs::temp_directory_path() / ("grades-bench-" + std::to_string(getpid()));
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

// Runs `argv` on a fresh 80 by 25 pseudo-terminal, answering the terminal
// queries a program may ask, until it ends. Returns the bytes it wrote.
size_t RunOnPty(const char *const argv[], const std::string &typeAhead) {
  winsize size = {25, 80, 0, 0};
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) std::abort();
  if (pid == 0) {
    execv(argv[0], const_cast<char *const *>(argv));
    _exit(127);
  }
  if (!typeAhead.empty() && write(master, typeAhead.data(), typeAhead.size()) < 0) std::abort();
  size_t total = 0;
  std::string tail;  // to find a query split over two reads
  char buf[65536];
  for (;;) {
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    total += static_cast<size_t>(n);
    tail.append(buf, static_cast<size_t>(n));
    if (tail.find("\x1b[6n") != std::string::npos && write(master, "\x1b[1;1R", 6) < 0) break;
    if (tail.find("\x1b[c") != std::string::npos && write(master, "\x1b[?1;2c", 7) < 0) break;
    if (tail.find("\x1b[") != std::string::npos) tail.erase(0, tail.size() > 8 ? tail.size() - 8 : 0);
    else tail.clear();
  }
  int status;
  waitpid(pid, &status, 0);
  close(master);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  return total;
}

void BM_GradesRun(benchmark::State &state) {
  setenv("GRADES_DRIVE_ROOT", Files().root.c_str(), 1);
  const char *const argv[] = {GRADES_EXE, nullptr};
  size_t bytes = 0;
  for (auto _ : state) bytes = RunOnPty(argv, "k");
  state.counters["terminal_bytes"] = static_cast<double>(bytes);
  state.counters["report_bytes"] = static_cast<double>(Files().report.size());
}

void BM_CatReport(benchmark::State &state) {
  std::string path = (Files().root / "report.txt").string();
  const char *const argv[] = {"/bin/cat", path.c_str(), nullptr};
  size_t bytes = 0;
  for (auto _ : state) bytes = RunOnPty(argv, "");
  state.counters["terminal_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_GradesRun)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CatReport)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
