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
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_modes.h"

namespace platform_posix::console_host {
namespace {

// Signals whose default action ends the process: the terminal goes back
// first, then the process ends by the signal, so that its parent sees why.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};
constexpr int kEndSignalCount = sizeof kEndSignals / sizeof kEndSignals[0];

OutputBuffer *gPending = nullptr;
void (*gDrawPending)() = nullptr;
ServeSignal gServe = nullptr;
std::atomic<bool> gArmed{false};
std::atomic<bool> gRestored{false};
std::atomic<bool> gContinued{false};
std::atomic<bool> gResized{false};
std::atomic<bool> gInHost{false};
std::atomic<unsigned> gDeferred{0};  // bit n: signal n came while in the host
struct sigaction gPrevious[kEndSignalCount];

// Every handler runs with all of these blocked, so that none interrupts
// another half way. SIGTTOU stays open: a process continued in the
// background that sets the terminal's mode stops until it is brought back.
// Made once, when the terminal is armed: the waits of the host ask for it
// every time.
sigset_t gHandled;

void MakeHandledSignals() {
  sigemptyset(&gHandled);
  for (int sig : kEndSignals) sigaddset(&gHandled, sig);
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

// The terminal as the process found it. What is drawn goes out first, after
// a resize or continue that came before has been served: the last frame
// shows the buffer as it is, where it belongs.
void PutBack() {
  sigset_t waiting;
  if (sigpending(&waiting) == 0) {
    if (sigismember(&waiting, SIGWINCH)) gResized.store(true);
    if (sigismember(&waiting, SIGCONT)) gContinued.store(true);
  }
  if ((gDeferred.load() & (1u << SIGCONT)) != 0) gContinued.store(true);
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

// Key mode and the protocol again, after a stop.
void TakeBack() {
  gModes.inKeyMode.store(SetMode(gModes.keyMode));
  if (gModes.wantProtocol.load() && !gModes.pushed.load()) Push();
  gContinued.store(true);
}

bool InUse() { return gArmed.load() && !gRestored.load(); }

// A signal that came while the host was half way through a change: it is
// raised again when the host leaves.
bool Deferred(int sig) {
  if (!gInHost.load() || !InUse()) return false;
  if (sig == SIGCONT) gDeferred.fetch_and(~(1u << SIGTSTP));
  if (sig == SIGTSTP) gDeferred.fetch_and(~(1u << SIGCONT));
  gDeferred.fetch_or(1u << sig);
  return true;
}

void OnEnd(int sig, siginfo_t *info, void *context) {
  // abort() does not come back for a second try.
  if (sig != SIGABRT && Deferred(sig)) return;
  ConsoleHostRestore();
  for (int i = 0; i < kEndSignalCount; ++i) {
    if (kEndSignals[i] != sig) continue;
    const struct sigaction &prev = gPrevious[i];
    if ((prev.sa_flags & SA_SIGINFO) != 0 && prev.sa_sigaction != nullptr) {
      prev.sa_sigaction(sig, info, context);
      return;
    }
    if ((prev.sa_flags & SA_SIGINFO) == 0 && prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
      prev.sa_handler(sig);
      return;
    }
  }
  // The default action, once the handler returns and the signal is unblocked.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

// Ctrl+Z or kill -TSTP: the terminal goes back, then the process stops for
// real under the default action; when it is continued, key mode returns.
void OnStop(int sig, siginfo_t *, void *) {
  if (Deferred(sig)) return;
  const int savedErrno = errno;
  const bool ours = InUse();
  if (ours) PutBack();
  struct sigaction dfl {
  }, mine;
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGTSTP, &dfl, &mine);
  sigset_t stop, before;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &stop, &before);
  raise(SIGTSTP);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  sigaction(SIGTSTP, &mine, nullptr);
  // Also where the stop was discarded (an orphaned process group).
  if (ours && InUse()) TakeBack();
  errno = savedErrno;
}

// Also after a stop the console did not see (SIGSTOP): the shell may have
// drawn over the screen and changed the mode meanwhile.
void OnContinue(int sig, siginfo_t *, void *) {
  if (Deferred(sig)) return;
  const int savedErrno = errno;
  if (InUse()) TakeBack();
  errno = savedErrno;
}

void OnResize(int, siginfo_t *, void *) { gResized.store(true); }

void OnServe(int sig, siginfo_t *, void *) {
  if (Deferred(sig)) return;
  const int savedErrno = errno;
  if (InUse() && gServe != nullptr) gServe(sig);
  errno = savedErrno;
}

void Install(int sig, void (*handler)(int, siginfo_t *, void *), struct sigaction *previous) {
  struct sigaction sa {};
  sa.sa_sigaction = handler;
  sa.sa_flags = SA_SIGINFO | SA_RESTART;
  sa.sa_mask = HandledSignals();
  sigaction(sig, &sa, previous);
}

void InstallHandlers() {
  for (int i = 0; i < kEndSignalCount; ++i) {
    sigaction(kEndSignals[i], nullptr, &gPrevious[i]);
    // A signal the parent made the process ignore (nohup) stays ignored.
    if ((gPrevious[i].sa_flags & SA_SIGINFO) == 0 && gPrevious[i].sa_handler == SIG_IGN) continue;
    Install(kEndSignals[i], OnEnd, nullptr);
  }
  struct sigaction stop;
  sigaction(SIGTSTP, nullptr, &stop);
  if ((stop.sa_flags & SA_SIGINFO) != 0 || stop.sa_handler != SIG_IGN) Install(SIGTSTP, OnStop, nullptr);
  Install(SIGCONT, OnContinue, nullptr);
  Install(SIGWINCH, OnResize, nullptr);
  Install(SIGALRM, OnServe, nullptr);
  Install(SIGIO, OnServe, nullptr);
}

}  // namespace

void ArmTerminal(int fd, const termios &saved) {
  gModes.fd = fd;
  gModes.saved = saved;
  MakeKeyMode(saved, &gModes.keyMode);
  MakeHandledSignals();
  gArmed.store(true);
  InstallHandlers();
  fcntl(fd, F_SETOWN, getpid());
  std::atexit(ConsoleHostRestore);
  // TCSANOW: keys typed before now stay pending and still count. Where the
  // terminal refuses (an orphaned process in the background), keys come as
  // its line discipline gives them, and there is no mode to put back.
  gModes.inKeyMode.store(SetMode(gModes.keyMode));
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
  if (gDeferred.load(std::memory_order_relaxed) == 0) return;
  // Delivered before raise returns: the program's thread takes them. A
  // continue first, so that what follows finds the terminal in key mode.
  unsigned waiting = gDeferred.exchange(0);
  if ((waiting & (1u << SIGCONT)) != 0) raise(SIGCONT);
  for (waiting &= ~(1u << SIGCONT); waiting != 0; waiting &= waiting - 1) raise(__builtin_ctz(waiting));
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
  Shielded([] {
    if (!gRestored.exchange(true)) PutBack();
  });
}
