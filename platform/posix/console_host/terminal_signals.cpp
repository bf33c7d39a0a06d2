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
#include "platform/posix/console_host/signal_table.h"
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_modes.h"
#include "platform/posix/timer_tick.h"

namespace platform_posix::console_host {
namespace {

// How long writes may wait for room on the terminal once the process is
// ending, or while it hands the terminal back at a stop: a terminal that
// reads nothing (a suspended remote client, a frozen emulator) must not keep
// the process from ending within a second.
constexpr long long kEndingWriteNs = 500000000;
constexpr long long kStopWriteNs = 1000000000;
// How often a process whose stops are discarded (its group is orphaned)
// looks whether it is in the foreground again.
constexpr int kForegroundPollMs = 100;

// A set of signals that handlers change: lock-free on every processor.
class AtomicSignalSet {
 public:
  void Add(int sig) { words_[Word(sig)].fetch_or(Bit(sig)); }
  void Remove(int sig) { words_[Word(sig)].fetch_and(~Bit(sig)); }
  bool Empty() const {
    for (const auto &w : words_)
      if (w.load() != 0) return false;
    return true;
  }
  bool AnyOf(const sigset_t &set) const {
    for (int sig = 1; sig < NSIG; ++sig)
      if ((words_[Word(sig)].load() & Bit(sig)) != 0 && sigismember(&set, sig) == 1) return true;
    return false;
  }
  // Empties the set; what it held goes to `taken`.
  void TakeAll(sigset_t *taken) {
    sigemptyset(taken);
    for (std::size_t w = 0; w < kWords; ++w) {
      const unsigned bits = words_[w].exchange(0);
      for (int b = 0; b < 32; ++b)
        if ((bits >> b & 1u) != 0) sigaddset(taken, static_cast<int>(w * 32) + b);
    }
  }

 private:
  static constexpr std::size_t kWords = (NSIG + 31) / 32;
  static std::size_t Word(int sig) { return static_cast<std::size_t>(sig) / 32; }
  static unsigned Bit(int sig) { return 1u << (static_cast<unsigned>(sig) % 32); }
  std::atomic<unsigned> words_[kWords] = {};
};

OutputBuffer *gPending = nullptr;
void (*gDrawPending)() = nullptr;
ServeSignal gServe = nullptr;
std::atomic<bool> gArmed{false};
std::atomic<bool> gRestored{false};
// The terminal is the shell's: handed back at a stop, not yet taken again.
std::atomic<bool> gHandedBack{false};
std::atomic<bool> gContinued{false};
std::atomic<bool> gResized{false};
std::atomic<bool> gInHost{false};
AtomicSignalSet gDeferred;  // signals that came while in the host
struct sigaction gPrevious[NSIG];

// Every handler runs with all handled signals blocked, so that none
// interrupts another half way; the ending ones are those of the signal
// table whose default action ends the process. Made once, when the terminal
// is armed: the waits of the host ask for them every time.
sigset_t gHandled, gEnding;

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

const sigset_t &HandledSignals() { return gHandled; }

// Runs `step` with the handled signals held off; one that arrives meanwhile
// is taken afterwards.
template <typename Step>
void Shielded(Step step) {
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &HandledSignals(), &before);
  step();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

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

// Stops the process as the signal's default action does, and returns once
// it is continued, or at once where the kernel discards the stop (an
// orphaned process group).
void StopAs(int sig) {
  struct sigaction dfl {
  }, mine;
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, &mine);
  sigset_t only, before;
  sigemptyset(&only);
  sigaddset(&only, sig);
  pthread_sigmask(SIG_UNBLOCK, &only, &before);
  raise(sig);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  sigaction(sig, &mine, nullptr);
}

// The terminal as the process found it, for the shell: at a stop and at the
// end. What is drawn goes out first, after a resize or continue that came
// before has been served: the last frame shows the buffer as it is, where it
// belongs.
void HandTerminalToShell() {
  if (!TerminalIsOurs()) return;
  sigset_t waiting;
  if (sigpending(&waiting) == 0) {
    if (sigismember(&waiting, SIGWINCH)) gResized.store(true);
    if (sigismember(&waiting, SIGCONT)) gContinued.store(true);
  }
  if (!gInHost.load() && gDrawPending != nullptr) gDrawPending();
  if (gPending != nullptr && gPending->Size() > 0) {
    Send(gPending->Data(), gPending->Size());
    gPending->Discard();
  }
  if (gModes.pushed.load()) Pop(nullptr, 0);
  SendColoursReset();
  // A terminal that refuses its own mode back leaves nothing more to try.
  if (gModes.inKeyMode.load() && SetMode(gModes.saved)) gModes.inKeyMode.store(false);
}

// Key mode and the protocol again, once the process has the terminal after a
// stop; everything is drawn again.
void TakeTerminalFromShell() {
  gModes.inKeyMode.store(SetMode(gModes.keyMode));
  if (gModes.wantProtocol.load() && !gModes.pushed.load()) Push();
  gHandedBack.store(false);
  gContinued.store(true);
}

// A continue: in the foreground the console takes the terminal again; in the
// background it waits, stopped, until it is brought back; an ending signal
// that came with the continue (a shell's `kill %1` sends SIGTERM, then
// SIGCONT) is taken first, without touching the terminal.
void AfterContinue() {
  if (InUse() && AwaitForeground()) TakeTerminalFromShell();
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

// Ctrl+Z or kill -TSTP: the terminal goes back to the shell, then the
// process stops for real under the default action.
void OnStop(int sig, siginfo_t *, void *) {
  if (Deferred(sig)) return;
  const int savedErrno = errno;
  if (InUse() && !gHandedBack.load() && TerminalIsOurs()) {
    const long long limit = WriteLimit();
    LimitWrites(gModes.fd, MonotonicNs() + kStopWriteNs);
    HandTerminalToShell();
    SetWriteLimit(gModes.fd, limit);
    gHandedBack.store(true);
  }
  StopAs(SIGTSTP);
  AfterContinue();
  errno = savedErrno;
}

// Also after a stop the console did not see (SIGSTOP): the shell may have
// drawn over the screen and changed the mode meanwhile.
void OnContinue(int sig, siginfo_t *, void *) {
  if (Deferred(sig)) return;
  const int savedErrno = errno;
  AfterContinue();
  errno = savedErrno;
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
  sa.sa_mask = HandledSignals();
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

bool AwaitForeground() {
  for (;;) {
    if (EndWaits()) return false;
    if (TerminalIsOurs()) return true;
    StopAs(SIGTTOU);
    if (EndWaits() || TerminalIsOurs()) continue;
    // Stops are discarded where the process group is orphaned: look again
    // in a while; a hang-up ends the wait.
    pollfd p{gModes.fd, 0, 0};
    if (poll(&p, 1, kForegroundPollMs) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) EndOnHangUp();
  }
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
  pthread_sigmask(SIG_BLOCK, &HandledSignals(), &before);
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
