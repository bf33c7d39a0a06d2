// A chaos run of the grade program as a Unix job:
//
//   grades_chaos [--seconds N] [--seed S] [--verbose] [--run S]
//
// runs the program again and again, each time in a fresh pseudo-terminal
// under a job-control shell (job_shell), and throws random events at it at
// random moments: Ctrl+Z (as a key, under the keyboard protocol too) and
// SIGTSTP, fg, bg, SIGCONT, resizes, Ctrl+C, every kind of ending signal,
// a kill of the stopped job as a shell does it (the signal, then SIGCONT),
// a terminal that stops reading for a while, a shell that exits with the
// job stopped, a hang-up, and answers that come late. Then it ends what is
// still running (fg and a key, or the hang-up of a terminal whose shell has
// gone) and checks the outcome: an exit code or a signal that one of the
// events explains, within a bound; the terminal's mode as it was; every
// push of the keyboard protocol popped; nothing but typed keys left for the
// shell; and no process left. It prints each failing run with its seed and
// events, and a tally of the outcomes; the exit status is 1 if any run
// failed. The same seed plans the same runs; --run replays the one run of
// that seed (the timing is the machine's, so a race may need a few tries).
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/grades/grade_run.h"

namespace {

using gradetest::DriveRoot;
using gradetest::ProgramUnderTest;
using testsupport::JobOf;
using testsupport::ProcessState;
using testsupport::VtermPty;
using Clock = std::chrono::steady_clock;

enum class Event {
  kCtrlZ,
  kStop,
  kFg,
  kBg,
  kContinue,
  kResize,
  kPause,
  kCtrlC,
  kSignal,
  kKillStopped,
  kShellExits,
  kHangUp,
  kKey,
};

const char *Name(Event e) {
  static const char *const names[] = {"ctrl-z", "tstp",   "fg",           "bg",          "cont",    "resize", "pause",
                                      "ctrl-c", "signal", "kill-stopped", "shell-exits", "hang-up", "key"};
  return names[static_cast<int>(e)];
}

// The signals whose default action ends a process, as users and the
// system send them.
const int kEndingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF, SIGPWR};

struct Step {
  Event event;
  int afterMs;    // since the step before
  int value = 0;  // the signal, the pause's length, the new size
};

struct Outcome {
  int exitCode = -1, signal = 0;
  std::vector<Step> done;  // the steps that acted: a stop's kill needs a stopped job
  std::vector<std::string> faults;
};

// The job, held by a descriptor of its own: its number may be another
// process's once it has been reaped (the numbers go round quickly on a busy
// machine), and a signal must never reach that one.
class Job {
 public:
  // The one child of `shell`, once it has one.
  explicit Job(int shell) {
    for (const auto until = Clock::now() + std::chrono::seconds(5); fd_ < 0 && Clock::now() < until;) {
      const int pid = JobOf(shell);
      const int fd = pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
      // Still the shell's child with the descriptor open: the same process.
      if (fd >= 0 && JobOf(shell) == pid) {
        pid_ = pid;
        fd_ = fd;
      } else if (fd >= 0) {
        close(fd);
      }
      if (fd_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ~Job() {
    if (fd_ >= 0) close(fd_);
  }
  Job(const Job &) = delete;
  Job &operator=(const Job &) = delete;

  bool Found() const { return fd_ >= 0; }
  bool Gone() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }
  // Its state letter (R, S, T, ...), 0 once it is gone.
  char State() const {
    const char state = ProcessState(pid_);
    return Gone() ? 0 : state;
  }
  void Signal(int sig) const { syscall(SYS_pidfd_send_signal, fd_, sig, nullptr, 0); }

 private:
  int pid_ = -1, fd_ = -1;
};

// Bytes as C escapes.
std::string Printable(const std::string &bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    text += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
  }
  return text;
}

std::string SignalName(int sig) {
  if (sig >= SIGRTMIN && sig <= SIGRTMAX) return "RTMIN+" + std::to_string(sig - SIGRTMIN);
  const char *name = sigabbrev_np(sig);
  return name != nullptr ? name : std::to_string(sig);
}

std::string Describe(const std::vector<Step> &steps) {
  std::string text;
  for (const Step &s : steps) {
    text += " +" + std::to_string(s.afterMs) + "ms " + Name(s.event);
    if (s.event == Event::kSignal || s.event == Event::kKillStopped) text += " " + SignalName(s.value);
    if (s.event == Event::kPause) text += " " + std::to_string(s.value) + "ms";
  }
  return text;
}

std::vector<Step> Plan(std::mt19937 &random) {
  std::uniform_int_distribution<int> count(1, 7), pick(0, 12), gap(0, 350);
  std::vector<Step> steps;
  // What follows a stop is most often what a user does to a stopped job.
  static const Event kAfterStop[] = {Event::kKillStopped, Event::kKillStopped, Event::kShellExits,
                                     Event::kShellExits,  Event::kFg,          Event::kBg,
                                     Event::kContinue,    Event::kSignal,      Event::kResize};
  for (int n = count(random); n > 0; --n) {
    Step s{static_cast<Event>(pick(random)), gap(random)};
    if (!steps.empty() && (steps.back().event == Event::kCtrlZ || steps.back().event == Event::kStop) &&
        random() % 3 != 0)
      s.event = kAfterStop[random() % std::size(kAfterStop)];
    if (s.event == Event::kSignal || s.event == Event::kKillStopped)
      s.value = kEndingSignals[std::uniform_int_distribution<std::size_t>(0, std::size(kEndingSignals) - 1)(random)];
    if (s.event == Event::kSignal && random() % 4 == 0) s.value = SIGRTMIN + static_cast<int>(random() % 8);
    if (s.event == Event::kPause) s.value = std::uniform_int_distribution<int>(50, 700)(random);
    if (s.event == Event::kResize) s.value = static_cast<int>(random() % 4);
    steps.push_back(s);
  }
  return steps;
}

// Whether `bytes` holds nothing but answers to the console's questions (the
// cursor position, the keyboard protocol, the device attributes) and plain
// keys.
bool OnlyAnswers(const std::string &bytes) {
  for (std::size_t at = 0; (at = bytes.find('\x1b', at)) != std::string::npos;) {
    std::size_t end = at + 1;
    if (end >= bytes.size() || bytes[end] != '[') return false;
    for (++end; end < bytes.size() &&
                (std::isdigit(static_cast<unsigned char>(bytes[end])) || bytes[end] == ';' || bytes[end] == '?');
         ++end) {
    }
    if (end >= bytes.size() || (bytes[end] != 'R' && bytes[end] != 'c' && bytes[end] != 'u')) return false;
    at = end + 1;
  }
  return true;
}

// One run: the program on `root` under job_shell, the steps, then the end.
Outcome RunOnce(std::mt19937 &random, const std::vector<Step> &steps, const DriveRoot &root) {
  static const int kSizes[][2] = {{25, 80}, {12, 40}, {40, 100}, {6, 30}};
  VtermPty::Options options;
  options.kittyKeyboard = random() % 2 == 0;
  options.replyDelayMs = random() % 4 == 0 ? static_cast<int>(random() % 900) : 0;
  Outcome outcome;
  auto fault = [&](const std::string &what) { outcome.faults.push_back(what); };
  ProgramUnderTest().MapDrive(root);
  VtermPty pty(options);
  std::vector<std::string> argv = {JOB_SHELL};
  for (const std::string &word : ProgramUnderTest().terminalCommand) argv.push_back(word);
  if (!pty.Start(argv)) {
    fault("the terminal could not start");
    return outcome;
  }
  const int shell = pty.Pid();
  const Job job(shell);
  if (!job.Found()) {
    fault("no job");
    return outcome;
  }
  // What may explain the end, and whether the shell still has the terminal.
  std::set<int> sent;
  bool keyTyped = false, shellGone = false, hungUp = false, paused = false;
  Clock::time_point resumeAt{};
  auto resumeIfDue = [&] {
    if (paused && Clock::now() >= resumeAt) pty.PauseReading(paused = false);
  };
  for (const Step &s : steps) {
    for (auto until = Clock::now() + std::chrono::milliseconds(s.afterMs); Clock::now() < until;) {
      resumeIfDue();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (job.Gone() || hungUp) break;
    const bool stopped = job.State() == 'T';
    if ((s.event == Event::kKillStopped || s.event == Event::kShellExits) && !stopped) continue;
    if (s.event == Event::kShellExits && shellGone) continue;
    outcome.done.push_back(s);
    switch (s.event) {
      case Event::kCtrlZ: pty.TypeCtrl('z'); break;
      case Event::kStop: job.Signal(SIGTSTP); break;
      case Event::kFg: kill(shell, SIGUSR1); break;
      case Event::kBg: kill(shell, SIGUSR2); break;
      case Event::kContinue: job.Signal(SIGCONT); break;
      case Event::kResize: pty.Resize(kSizes[s.value][0], kSizes[s.value][1]); break;
      case Event::kPause:
        pty.PauseReading(paused = true);
        resumeAt = Clock::now() + std::chrono::milliseconds(s.value);
        break;
      case Event::kCtrlC:
        pty.TypeCtrl('c');
        sent.insert(SIGINT);
        break;
      case Event::kSignal:
        job.Signal(s.value);
        sent.insert(s.value);
        break;
      case Event::kKillStopped:
        job.Signal(s.value);
        job.Signal(SIGCONT);
        sent.insert(s.value);
        break;
      case Event::kShellExits:
        kill(shell, SIGTERM);
        shellGone = true;
        sent.insert(SIGHUP);  // the orphaned job's
        break;
      case Event::kHangUp:
        pty.HangUp();
        hungUp = true;
        sent.insert(SIGHUP);
        break;
      case Event::kKey:
        pty.Type("k");
        keyTyped = true;
        break;
    }
  }
  if (paused) pty.PauseReading(paused = false);
  // The end of what is still running: an orphaned job ends by itself; else
  // it is brought back and gets a key.
  if (shellGone && !hungUp && !VtermPty::WaitUntil([&] { return job.Gone(); }, 2000))
    fault("the orphaned job did not end");
  for (int tries = 0; !job.Gone() && !hungUp && !shellGone && tries < 3; ++tries) {
    if (job.State() == 'T') kill(shell, SIGUSR1);
    VtermPty::WaitUntil([&] { return job.State() != 'T' || job.Gone(); }, 2000);
    if (job.Gone()) break;
    // The key only once the report stands still, so that it ends the wait.
    gradetest::WaitUntilQuiet(pty, 5000);
    pty.Type("k");
    keyTyped = true;
    VtermPty::WaitUntil([&] { return job.Gone(); }, 3000);
  }
  if (!VtermPty::WaitUntil([&] { return job.Gone(); }, 5000)) {
    fault("still running 5 s after its end was asked for (state " + std::string(1, job.State()) + ")");
    job.Signal(SIGKILL);
  }
  if (hungUp) {
    // The terminal is gone: only the end counts. The shell went with it.
    outcome.signal = SIGHUP;
    pty.WaitForExit(5000);
    return outcome;
  }
  // The terminal as the program left it, once all it wrote is drawn: its
  // mode, the protocol, and only plain keys typed after its end for the
  // shell.
  if (!pty.WaitForExit(5000)) fault("the shell did not end");
  const termios now = pty.Mode(), before = pty.InitialMode();
  if (now.c_lflag != before.c_lflag || now.c_iflag != before.c_iflag) fault("the terminal's mode was not put back");
  if (pty.KittyPushes() != pty.KittyPops() || pty.KittyFlags() != 0) fault("the keyboard protocol is still pushed");
  if (const std::string left = pty.TakeInput(); left.find('\x1b') != std::string::npos) {
    // Over a link slower than the console waits for an answer (half a
    // second), an answer may come after the end: the one thing that may be
    // left, there.
    if (options.replyDelayMs <= 500 || !OnlyAnswers(left)) fault("left for the shell: " + Printable(left));
  }
  if (shellGone) {
    // The orphaned job, reaped elsewhere: ended by its hang-up.
    outcome.signal = SIGHUP;
    return outcome;
  }
  const int status = pty.Status();
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  if (outcome.exitCode == 0 && !keyTyped) fault("exit code 0 without a key");
  if (outcome.exitCode > 0) fault("exit code " + std::to_string(outcome.exitCode));
  if (outcome.signal != 0 && sent.count(outcome.signal) == 0)
    fault("ended by " + SignalName(outcome.signal) + ", which nothing sent");
  return outcome;
}

}  // namespace

int main(int argc, char **argv) {
  int seconds = 60;
  unsigned seed = static_cast<unsigned>(Clock::now().time_since_epoch().count());
  bool verbose = false;
  long long only = -1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) seed = static_cast<unsigned>(std::atoll(argv[++i]));
    else if (std::strcmp(argv[i], "--verbose") == 0) verbose = true;
    else if (std::strcmp(argv[i], "--run") == 0 && i + 1 < argc) only = std::atoll(argv[++i]);
    else {
      std::fprintf(stderr, "usage: grades_chaos [--seconds N] [--seed S] [--verbose] [--run S]\n");
      return 2;
    }
  }
  // Many runs end by signals that dump a core: none is wanted.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  std::printf("grades_chaos: seed %u, %d s\n", seed, seconds);
  std::mt19937 random(seed);
  std::string longReport;
  for (int i = 0; i < 300; ++i) longReport += std::to_string(i % 9 - 1) + "\r\n";
  std::map<std::string, int> tally;
  std::map<std::string, int> events;
  int runs = 0, failed = 0;
  if (only >= 0) verbose = true;
  for (const auto end = Clock::now() + std::chrono::seconds(seconds); (only < 0 ? Clock::now() < end : runs < 1);
       ++runs) {
    const unsigned runSeed = only >= 0 ? static_cast<unsigned>(only) : static_cast<unsigned>(random());
    std::mt19937 run(runSeed);
    const std::vector<Step> steps = Plan(run);
    DriveRoot root;
    root.WriteGrades(run() % 3 == 0 ? longReport : gradetest::kSampleGrades);
    const Outcome outcome = RunOnce(run, steps, root);
    for (const Step &s : outcome.done) ++events[Name(s.event)];
    const std::string kind =
        outcome.signal != 0 ? "killed by " + SignalName(outcome.signal) : "exit " + std::to_string(outcome.exitCode);
    ++tally[kind];
    if (!outcome.faults.empty()) ++failed;
    if (!outcome.faults.empty() || verbose) {
      std::printf("run %d (seed %u):%s -> %s\n", runs, runSeed, Describe(outcome.done).c_str(), kind.c_str());
      for (const std::string &f : outcome.faults) std::printf("  FAULT: %s\n", f.c_str());
    }
    std::fflush(stdout);
  }
  std::printf("grades_chaos: %d runs, %d failed\n  events:", runs, failed);
  for (const auto &[name, n] : events) std::printf(" %s %d,", name.c_str(), n);
  std::printf("\n  outcomes:");
  for (const auto &[name, n] : tally) std::printf(" %s %d,", name.c_str(), n);
  std::printf("\n");
  return failed == 0 && runs > 0 ? 0 : 1;
}
