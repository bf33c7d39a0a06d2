// The state that the console's signal handlers share with the host and with
// each other: the terminal's suspend and resume (terminal_jobs.cpp) and
// every other signal (terminal_signals.cpp). Everything here is safe in a
// signal handler.
#pragma once

#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstddef>

#include "platform/posix/console_host/output_buffer.h"

namespace platform_posix::console_host {

// How long writes may wait for room on the terminal once the process is
// ending, or while it hands the terminal back at a stop: a terminal that
// reads nothing (a suspended remote client, a frozen emulator) must not keep
// the process from ending within a second.
constexpr long long kEndingWriteNs = 500000000;
constexpr long long kStopWriteNs = 1000000000;

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

extern OutputBuffer *gPending;       // drawn, not yet sent
extern void (*gDrawPending)();       // draws what changed since the last frame
extern std::atomic<bool> gRestored;  // put back for good: the process ends
// The terminal is the shell's: handed back at a stop, not yet taken again.
extern std::atomic<bool> gHandedBack;
extern std::atomic<bool> gContinued, gResized;  // a repaint is due
extern std::atomic<bool> gInHost;               // between EnterHost and LeaveHost
extern AtomicSignalSet gDeferred;               // signals that came while in the host
// Every handler runs with all handled signals blocked, so that none
// interrupts another half way; the ending ones are those of the signal
// table whose default action ends the process. Made once, when the terminal
// is armed: the waits of the host ask for them every time.
extern sigset_t gHandled, gEnding;

// Runs `step` with the handled signals held off; one that arrives meanwhile
// is taken afterwards.
template <typename Step>
void Shielded(Step step) {
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &gHandled, &before);
  step();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// The console has the terminal armed and not yet put back for good.
bool InUse();
// An ending signal waits to be taken: one that came while the host was
// busy, or one held off while a handler runs.
bool EndWaits();
// A signal that came while the host was half way through a change: it is
// raised again when the host leaves (true then). An ending one limits how
// long the host's writes may still wait.
bool Deferred(int sig);

// The terminal as the process found it, for the shell: at a stop and at the
// end (terminal_jobs.cpp).
void HandTerminalToShell();
// The handlers of a stop and a continue (terminal_jobs.cpp).
void OnStop(int sig, siginfo_t *, void *);
void OnContinue(int sig, siginfo_t *, void *);

}  // namespace platform_posix::console_host
