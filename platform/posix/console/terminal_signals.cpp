#include "platform/posix/console/terminal_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

#include "platform/posix/console/terminal_io.h"
#include "platform/posix/console_host.h"

namespace posix::console {
namespace {

constexpr char kColoursReset[] = "\x1b[m";
// Flags of the kitty keyboard protocol: disambiguate, report event types,
// report alternate keys, report all keys as escape codes, report text.
constexpr char kKittyPush[] = "\x1b[>31u";
constexpr char kKittyPop[] = "\x1b[<u";

// Signals whose default action ends the process: the terminal goes back
// first, then the process ends by the signal, so that its parent sees why.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};
constexpr int kEndSignalCount = sizeof kEndSignals / sizeof kEndSignals[0];

int gFd = -1;
termios gSaved, gKeyMode;
OutputBuffer *gPending = nullptr;
void (*gDrawPending)() = nullptr;
bool gKitty = false;
std::atomic<bool> gArmed{false};
std::atomic<bool> gRestored{false};
std::atomic<bool> gPushed{false};        // the protocol is on at the terminal
std::atomic<bool> gWantProtocol{false};  // ... and belongs on after a stop
std::atomic<bool> gContinued{false};
std::atomic<bool> gResized{false};
std::atomic<bool> gInHost{false};
std::atomic<unsigned> gDeferred{0};  // bit n: signal n came while in the host
struct sigaction gPrevious[kEndSignalCount];

void Send(const char *bytes, std::size_t length) { WriteAll(gFd, bytes, length); }
template <std::size_t N>
void Send(const char (&s)[N]) {
  Send(s, N - 1);
}

// Every handler runs with all of these blocked, so that none interrupts
// another half way. SIGTTOU stays open: a process continued in the
// background that sets the terminal's mode stops until it is brought back.
sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndSignals) sigaddset(&set, sig);
  for (int sig : {SIGTSTP, SIGCONT, SIGWINCH}) sigaddset(&set, sig);
  return set;
}

// Runs `step` with the handled signals held off; one that arrives meanwhile
// is taken afterwards.
template <typename Step>
void Shielded(Step step) {
  sigset_t handled = HandledSignals(), before;
  pthread_sigmask(SIG_BLOCK, &handled, &before);
  step();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// The terminal as the process found it; what is drawn goes out first.
void PutBack() {
  if (!gInHost.load() && gDrawPending != nullptr) gDrawPending();
  if (gPending != nullptr && gPending->Size() > 0) {
    Send(gPending->Data(), gPending->Size());
    gPending->Discard();
  }
  Send(kColoursReset);
  if (gPushed.load()) {
    Send(kKittyPop);
    gPushed.store(false);
  }
  tcsetattr(gFd, TCSANOW, &gSaved);
}

// Key mode and the protocol again, after a stop.
void TakeBack() {
  tcsetattr(gFd, TCSANOW, &gKeyMode);
  if (gWantProtocol.load() && !gPushed.load()) {
    Send(kKittyPush);
    gPushed.store(true);
  }
  gContinued.store(true);
}

bool InUse() { return gArmed.load() && !gRestored.load(); }

// A signal that came while the host was half way through a change: it is
// raised again when the host leaves.
bool Deferred(int sig) {
  if (!gInHost.load() || !InUse()) return false;
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
  struct sigaction dfl {}, mine;
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
}

}  // namespace

void ArmTerminal(int fd, const termios &saved, OutputBuffer *pending, void (*drawPending)()) {
  gFd = fd;
  gSaved = saved;
  MakeKeyMode(saved, &gKeyMode);
  gPending = pending;
  gDrawPending = drawPending;
  gArmed.store(true);
  InstallHandlers();
  std::atexit(ConsoleHostRestore);
  // TCSANOW: keys typed before now stay pending and still count.
  tcsetattr(fd, TCSANOW, &gKeyMode);
}

void TerminalSpeaksKeyboardProtocol() { gKitty = true; }

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
  // Delivered before raise returns: the program's thread takes them.
  for (unsigned waiting = gDeferred.exchange(0); waiting != 0; waiting &= waiting - 1)
    raise(__builtin_ctz(waiting));
}

void SetKeyboardProtocol(bool on) {
  if (!gKitty || (gWantProtocol.load() == on && gPushed.load() == on)) return;
  Shielded([on] {
    if (!InUse()) return;
    gWantProtocol.store(on);
    if (gPushed.load() != on) {
      if (on) Send(kKittyPush);
      else Send(kKittyPop);
      gPushed.store(on);
    }
  });
}

bool KeyboardProtocolOn() { return gPushed.load(); }

bool TakeContinued() { return gContinued.exchange(false); }
bool TakeResized() { return gResized.exchange(false); }

int SignalForKey(unsigned char ch) {
  if (ch == 0 || (gSaved.c_lflag & ISIG) == 0) return 0;
  if (ch == gSaved.c_cc[VINTR]) return SIGINT;
  if (ch == gSaved.c_cc[VQUIT]) return SIGQUIT;
  if (ch == gSaved.c_cc[VSUSP]) return SIGTSTP;
  return 0;
}

void RaiseForKey(int sig) {
  const pid_t group = tcgetpgrp(gFd);
  if (group <= 0 || kill(-group, sig) != 0) raise(sig);
}

}  // namespace posix::console

void ConsoleHostRestore() {
  using namespace posix::console;
  if (!gArmed.load()) return;
  Shielded([] {
    if (!gRestored.exchange(true)) PutBack();
  });
}
