// The signal table against the system it runs on: every signal has its row,
// each row's role fits what the signal's default action does (a handler for
// "an end" on a signal that ends nothing would end the program where it
// should go on), and the documentation shows the table as it is.
#include "platform/posix/console_host/signal_table.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform_posix::console_host::FirstRealTimeSignal;
using platform_posix::console_host::LastRealTimeSignal;
using platform_posix::console_host::RoleText;
using platform_posix::console_host::SignalEntry;
using platform_posix::console_host::SignalRole;
using platform_posix::console_host::SignalTable;

std::vector<SignalEntry> Table() {
  std::size_t count = 0;
  const SignalEntry *table = SignalTable(&count);
  return {table, table + count};
}

enum class Default { kEnds, kStops, kNothing, kCannotBeSent };

// What signal `sig` does to a process that left it at its default action.
Default DefaultAction(int sig) {
  const pid_t child = fork();
  if (child == 0) {
    // A group of its own, whose parent is in another group of the session:
    // never orphaned, so the stop signals stop it wherever the test runs.
    setpgid(0, 0);
    // No core file for the signals that dump one.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(sig, SIG_DFL);
    // An emulator may keep the highest real-time signals for itself.
    if (kill(getpid(), sig) != 0) _exit(99);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, WUNTRACED);
  if (WIFSTOPPED(status)) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return Default::kStops;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 99) return Default::kCannotBeSent;
  return WIFSIGNALED(status) && WTERMSIG(status) == sig ? Default::kEnds : Default::kNothing;
}

Default DefaultOf(SignalRole role, int sig) {
  switch (role) {
    case SignalRole::kSuspends:
    case SignalRole::kStopsAsJob: return Default::kStops;
    case SignalRole::kContinues:
    case SignalRole::kResizes:
    case SignalRole::kNoEffect: return Default::kNothing;
    case SignalRole::kUncatchable: return sig == SIGSTOP ? Default::kStops : Default::kEnds;
    default: return Default::kEnds;
  }
}

TEST(SignalTableTest, EverySignalHasItsRow) {
  const std::vector<SignalEntry> table = Table();
  for (int sig = 1; sig <= LastRealTimeSignal(); ++sig) {
    // The C library keeps the few between the classic signals and the
    // real-time range for itself.
    if (sig > SIGSYS && sig < FirstRealTimeSignal()) continue;
    int rows = 0;
    for (const SignalEntry &e : table)
      rows += e.number == sig || (e.number < 0 && sig >= FirstRealTimeSignal()) ? 1 : 0;
    EXPECT_EQ(rows, 1) << "signal " << sig;
  }
}

TEST(SignalTableTest, EachRoleFitsTheDefaultAction) {
  for (const SignalEntry &e : Table()) {
    std::vector<int> signals;
    if (e.number > 0) signals = {e.number};
    if (e.number < 0) signals = {FirstRealTimeSignal(), FirstRealTimeSignal() + 5, LastRealTimeSignal() - 1};
    for (int sig : signals) {
      const Default action = DefaultAction(sig);
      if (action == Default::kCannotBeSent) {
        std::printf("SKIPPED: signal %d (%s) cannot be sent on this system\n", sig, e.name);
        continue;
      }
      EXPECT_EQ(action, DefaultOf(e.role, sig)) << e.name << " (" << sig << ")";
    }
  }
}

// The documentation's table, one row for each role, its signals in the
// table's order.
std::string Rendered() {
  const std::vector<SignalEntry> table = Table();
  std::ostringstream out;
  out << "| signals | what the program does |\n|---|---|\n";
  std::vector<SignalRole> done;
  for (const SignalEntry &first : table) {
    if (std::find(done.begin(), done.end(), first.role) != done.end()) continue;
    done.push_back(first.role);
    std::string names;
    for (const SignalEntry &e : table)
      if (e.role == first.role) names += (names.empty() ? "" : ", ") + std::string(e.name);
    out << "| " << names << " | " << RoleText(first.role) << " |\n";
  }
  return out.str();
}

TEST(SignalTableTest, TheDocumentationShowsTheTable) {
  std::ifstream doc(DOCS_DIR "/console-on-linux.md");
  std::stringstream text;
  text << doc.rdbuf();
  EXPECT_NE(text.str().find(Rendered()), std::string::npos) << "docs/console-on-linux.md should hold:\n" << Rendered();
}

}  // namespace
