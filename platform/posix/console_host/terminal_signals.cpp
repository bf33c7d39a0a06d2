#include "platform/posix/console_host/terminal_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "platform/posix/console_host/control.h"
#include "platform/posix/console_host/signal_state.h"
#include "platform/posix/console_host/signal_table.h"
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_modes.h"
#include "platform/posix/timer_tick.h"

namespace platform_posix::console_host {
namespace {

ServeSignal gServe = nullptr;
std::atomic<bool> gArmed{false};
struct sigaction gPrevious[NSIG];

// Calls `each` for every signal of an entry of the table.
template <typename Each>
void ForEachSignal(const SignalEntry &entry, Each each) {
  if (entry.number > 0 && entry.number < NSIG) each(entry.number);
  if (entry.number < 0)
    for (int sig = FirstRealTimeSignal(); sig <= LastRealTimeSignal() && sig < NSIG; ++sig) each(sig);
}

void MakeSignalSets() {
  sigemptyset(&gHandled);
  sigemptyset(&gEnding);
  std::size_t count = 0;
  const SignalEntry *table = SignalTable(&count);
  for (std::size_t i = 0; i < count; ++i) {
    if (table[i].role == SignalRole::kEnds) ForEachSignal(table[i], [](int sig) { sigaddset(&gEnding, sig); });
  }
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&gEnding, sig) == 1) sigaddset(&gHandled, sig);
  for (int sig : {SIGTSTP, SIGCONT, SIGWINCH, SIGALRM, SIGIO}) sigaddset(&gHandled, sig);
}

void OnEnd(int sig, siginfo_t *info, void *context) {
  // abort() does not come back for a second try.
  if (sig != SIGABRT && Deferred(sig)) return;
  LimitWrites(gModes.fd, MonotonicNs() + kEndingWriteNs);
  ConsoleHostRestore();
  const struct sigaction &prev = gPrevious[sig];
  if ((prev.sa_flags & SA_SIGINFO) != 0 && prev.sa_sigaction != nullptr) {
    prev.sa_sigaction(sig, info, context);
    return;
  }
  if ((prev.sa_flags & SA_SIGINFO) == 0 && prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
    prev.sa_handler(sig);
    return;
  }
  // The default action, once the handler returns and the signal is unblocked.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

void OnResize(int, siginfo_t *, void *) { gResized.store(true); }

void OnServe(int sig, siginfo_t *, void *) {
  if (Deferred(sig)) return;
  const int savedErrno = errno;
  if (InUse() && gServe != nullptr) gServe(sig);
  errno = savedErrno;
}

// While the terminal is put back at an end that no signal limits, SIGALRM
// ticks every 100 ms, without restarting the write it interrupts, so that
// an ending signal held off meanwhile limits how long the write still waits
// (a terminal that reads nothing would keep it waiting for good).
void OnRestoreTick(int) {
  const int savedErrno = errno;
  if (EndWaits()) LimitWrites(gModes.fd, MonotonicNs() + kEndingWriteNs);
  errno = savedErrno;
}

class RestoreTicks {
 public:
  RestoreTicks() {
    struct sigaction tick {};
    tick.sa_handler = OnRestoreTick;
    sigemptyset(&tick.sa_mask);
    sigaction(SIGALRM, &tick, &previous_);
    const itimerval every{{0, 100000}, {0, 100000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm, &before_);
  }
  ~RestoreTicks() {
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    StopFrameTimer();
    sigaction(SIGALRM, &previous_, nullptr);
  }
  RestoreTicks(const RestoreTicks &) = delete;
  RestoreTicks &operator=(const RestoreTicks &) = delete;

 private:
  struct sigaction previous_;
  sigset_t before_;
};

void Install(int sig, void (*handler)(int, siginfo_t *, void *)) {
  struct sigaction sa {};
  sa.sa_sigaction = handler;
  sa.sa_flags = SA_SIGINFO | SA_RESTART;
  sa.sa_mask = gHandled;
  sigaction(sig, &sa, nullptr);
}

// A signal the parent made the process ignore (nohup) stays ignored.
bool Ignored(const struct sigaction &action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

void InstallHandlers() {
  std::size_t count = 0;
  const SignalEntry *table = SignalTable(&count);
  for (std::size_t i = 0; i < count; ++i) {
    ForEachSignal(table[i], [&](int sig) {
      switch (table[i].role) {
        case SignalRole::kEnds:
          if (sigaction(sig, nullptr, &gPrevious[sig]) == 0 && !Ignored(gPrevious[sig])) Install(sig, OnEnd);
          break;
        case SignalRole::kSuspends: {
          struct sigaction stop;
          if (sigaction(sig, nullptr, &stop) == 0 && !Ignored(stop)) Install(sig, OnStop);
          break;
        }
        case SignalRole::kContinues: Install(sig, OnContinue); break;
        case SignalRole::kResizes: Install(sig, OnResize); break;
        case SignalRole::kFrameTimer:
        case SignalRole::kInput: Install(sig, OnServe); break;
        default: break;
      }
    });
  }
}

}  // namespace

OutputBuffer *gPending = nullptr;
void (*gDrawPending)() = nullptr;
std::atomic<bool> gRestored{false};
std::atomic<bool> gHandedBack{false};
std::atomic<bool> gContinued{false};
std::atomic<bool> gResized{false};
std::atomic<bool> gInHost{false};
AtomicSignalSet gDeferred;
sigset_t gHandled, gEnding;

bool InUse() { return gArmed.load() && !gRestored.load(); }

// An ending signal waits to be taken: one that came while the host was
// busy, or one held off while a handler runs.
bool EndWaits() {
  if (gDeferred.AnyOf(gEnding)) return true;
  sigset_t waiting;
  if (sigpending(&waiting) != 0) return false;
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&gEnding, sig) == 1 && sigismember(&waiting, sig) == 1) return true;
  return false;
}

// A signal that came while the host was half way through a change: it is
// raised again when the host leaves. An ending one limits how long the
// host's writes may still wait.
bool Deferred(int sig) {
  if (!gInHost.load() || !InUse()) return false;
  if (sig == SIGCONT) gDeferred.Remove(SIGTSTP);
  if (sig == SIGTSTP) gDeferred.Remove(SIGCONT);
  gDeferred.Add(sig);
  if (sigismember(&gEnding, sig) == 1) LimitWrites(gModes.fd, MonotonicNs() + kEndingWriteNs);
  return true;
}

void ArmTerminal(int fd, const termios &saved) {
  gModes.fd = fd;
  gModes.saved = saved;
  MakeKeyMode(saved, &gModes.keyMode);
  MakeSignalSets();
  // The console itself decides when the process waits for the foreground
  // (AwaitForeground): none of its writes or mode changes stops it half
  // way, in a handler with the ending signals held off.
  sigset_t output;
  sigemptyset(&output);
  sigaddset(&output, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &output, nullptr);
  gArmed.store(true);
  InstallHandlers();
  fcntl(fd, F_SETOWN, getpid());
  std::atexit(ConsoleHostRestore);
  // TCSANOW: keys typed before now stay pending and still count. Where the
  // terminal refuses, keys come as its line discipline gives them, and
  // there is no mode to put back.
  if (AwaitForeground()) gModes.inKeyMode.store(SetMode(gModes.keyMode));
}

void ConnectHost(OutputBuffer *pending, void (*drawPending)(), ServeSignal serve) {
  Shielded([&] {
    gPending = pending;
    gDrawPending = drawPending;
    gServe = serve;
  });
}

void TerminalAnswered(bool keyboardProtocol, bool deviceAttributes) {
  gModes.kitty = keyboardProtocol;
  gModes.answersAttributes = deviceAttributes;
}

// Only handlers on the program's own thread look at these (the initial
// thread takes no signals), so ordering against them is all that matters.
void EnterHost() {
  gInHost.store(true, std::memory_order_relaxed);
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void LeaveHost() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gInHost.store(false, std::memory_order_relaxed);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (gDeferred.Empty()) return;
  // Delivered before raise returns: the program's thread takes them. An
  // ending one first, which leaves a continue nothing to do; then a
  // continue, so that what follows finds the terminal in key mode.
  sigset_t waiting;
  gDeferred.TakeAll(&waiting);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&waiting, sig) == 1 && sigismember(&gEnding, sig) == 1) raise(sig);
  if (sigismember(&waiting, SIGCONT) == 1) raise(SIGCONT);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&waiting, sig) == 1 && sigismember(&gEnding, sig) != 1 && sig != SIGCONT) raise(sig);
}

int WaitAwayFromHost(pollfd *fds, nfds_t count, long long timeoutNs) {
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &gHandled, &before);
  LeaveHost();
  int result = 0;
  if (!gContinued.load() && !gResized.load()) {
    timespec t{static_cast<time_t>(timeoutNs / 1000000000), static_cast<long>(timeoutNs % 1000000000)};
    result = ppoll(fds, count, timeoutNs < 0 ? nullptr : &t, &before);
  }
  const int savedErrno = errno;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  EnterHost();
  errno = savedErrno;
  return result;
}

std::size_t SetKeyboardProtocol(bool on, unsigned char *keep, std::size_t capacity) {
  if (!gModes.kitty || (gModes.wantProtocol.load() == on && gModes.pushed.load() == on)) return 0;
  std::size_t kept = 0;
  Shielded([&] {
    if (!InUse()) return;
    gModes.wantProtocol.store(on);
    if (gModes.pushed.load() == on) return;
    if (on) Push();
    else kept = Pop(keep, capacity);
  });
  return kept;
}

bool KeyboardProtocolOn() { return gModes.pushed.load(); }

void StartFrameTimer(long long ms) {
  itimerval t{};
  t.it_value.tv_sec = static_cast<time_t>(ms / 1000);
  t.it_value.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
  setitimer(ITIMER_REAL, &t, nullptr);
}

void StopFrameTimer() {
  itimerval t{};
  setitimer(ITIMER_REAL, &t, nullptr);
}

bool Ending() { return gRestored.load(); }

bool TakeContinued() { return gContinued.exchange(false); }
bool TakeResized() { return gResized.exchange(false); }

int SignalForKey(unsigned char ch) {
  if (ch == 0 || (gModes.saved.c_lflag & ISIG) == 0) return 0;
  if (ch == gModes.saved.c_cc[VINTR]) return SIGINT;
  if (ch == gModes.saved.c_cc[VQUIT]) return SIGQUIT;
  if (ch == gModes.saved.c_cc[VSUSP]) return SIGTSTP;
  return 0;
}

void RaiseForKey(int sig) {
  const pid_t group = tcgetpgrp(gModes.fd);
  if (group <= 0 || kill(-group, sig) != 0) raise(sig);
}

void EndOnHangUp() {
  LimitWrites(gModes.fd, MonotonicNs() + kEndingWriteNs);
  ConsoleHostRestore();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGHUP, &dfl, nullptr);
  sigset_t hangUp;
  sigemptyset(&hangUp);
  sigaddset(&hangUp, SIGHUP);
  pthread_sigmask(SIG_UNBLOCK, &hangUp, nullptr);
  raise(SIGHUP);
  _exit(128 + SIGHUP);
}

}  // namespace platform_posix::console_host

void ConsoleHostRestore() {
  using namespace platform_posix::console_host;
  if (!gArmed.load()) return;
  // A terminal handed back at a stop stays the shell's.
  Shielded([] {
    if (gRestored.exchange(true) || gHandedBack.load()) return;
    // An end that no signal limits yet (the program's own) holds the
    // signals off until the terminal has its bytes; a tick looks for an
    // ending one meanwhile, which then limits the wait.
    if (WriteLimit() != 0) {
      HandTerminalToShell();
      return;
    }
    RestoreTicks ticks;
    HandTerminalToShell();
  });
}
