// What the grade program costs while its report waits for a key, and how
// soon a key ends it: each program named (by default the build's grades)
// runs on the bundled sample in a pseudo-terminal until its report is
// painted; then its threads' voluntary context switches are counted for a
// few seconds (wake-ups a second), and a typed key is timed to the
// program's end, over several runs.
//
//   final_wait [--runs N] [--seconds S] [PROGRAM...]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/terminal_side.h"

namespace {

namespace fs = std::filesystem;

double NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Run {
  pid_t pid = -1;
  int master = -1;
};

// Reads what the program writes, answering its queries, until it has
// written nothing for `quietMs`.
void DrainUntilQuiet(int master, double quietMs) {
  TerminalSide side;
  side.master = master;
  double last = NowMs();
  while (NowMs() - last < quietMs) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    if (!side.Read()) return;
    last = NowMs();
  }
}

Run Start(const std::string &program, const fs::path &root) {
  Run run;
  winsize size = {25, 80, 0, 0};
  run.pid = forkpty(&run.master, nullptr, nullptr, &size);
  if (run.pid < 0) std::abort();
  if (run.pid == 0) {
    setenv("GRADES_DRIVE_ROOT", root.c_str(), 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  DrainUntilQuiet(run.master, 300);
  return run;
}

// Voluntary context switches of all the process's threads so far.
long long Switches(pid_t pid) {
  long long total = 0;
  std::error_code error;
  for (const auto &task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::atoll(line.c_str() + 24);
  }
  return total;
}

// Types a key and returns the milliseconds until the program has ended.
double KeyToEnd(Run &run) {
  const double typed = NowMs();
  if (write(run.master, "x", 1) != 1) std::abort();
  char buf[4096];
  for (;;) {
    int status;
    if (waitpid(run.pid, &status, WNOHANG) == run.pid) break;
    // Keep the terminal drained, as a terminal does, so the end is not held up.
    pollfd p{run.master, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && read(run.master, buf, sizeof buf) < 0) {
    }
    const timespec pause{0, 20000};
    nanosleep(&pause, nullptr);
  }
  const double ended = NowMs() - typed;
  close(run.master);
  return ended;
}

void Measure(const std::string &program, const fs::path &root, int runs, double seconds) {
  Run idle = Start(program, root);
  const long long before = Switches(idle.pid);
  const double from = NowMs();
  const long long pauseNs = static_cast<long long>(seconds * 1e9);
  const timespec pause{static_cast<time_t>(pauseNs / 1000000000), static_cast<long>(pauseNs % 1000000000)};
  nanosleep(&pause, nullptr);
  const double perSecond = static_cast<double>(Switches(idle.pid) - before) * 1000.0 / (NowMs() - from);
  std::vector<double> latencies{KeyToEnd(idle)};
  for (int i = 1; i < runs; ++i) {
    Run run = Start(program, root);
    latencies.push_back(KeyToEnd(run));
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf(
      "%s\n  wake-ups at the wait: %.1f a second (over %.1f s)\n"
      "  key to end: median %.2f ms, max %.2f ms (%d runs)\n",
      program.c_str(), perSecond, seconds, latencies[latencies.size() / 2], latencies.back(), runs);
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 20;
  double seconds = 3;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else programs.push_back(arg);
  }
  if (programs.empty()) programs.push_back(GRADES_EXE);
  const fs::path root = fs::temp_directory_path() / ("final-wait-" + std::to_string(getpid()));
  fs::create_directories(root / "e/devpas/jegyek");
  fs::copy_file(SAMPLE_FILE, root / "e/devpas/jegyek/egeszek.txt");
  for (const std::string &program : programs) Measure(program, root, runs, seconds);
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
