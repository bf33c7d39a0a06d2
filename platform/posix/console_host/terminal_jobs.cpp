// The terminal as a job's: handed back to the shell at a stop, taken again
// once the process is in the foreground after a continue, and never touched
// from the background, where the process waits stopped, as a job that wants
// the terminal does.
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/console_host/signal_state.h"
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_modes.h"
#include "platform/posix/console_host/terminal_signals.h"
#include "platform/posix/timer_tick.h"

namespace platform_posix::console_host {
namespace {

// How often a process whose stops are discarded (its group is orphaned)
// looks whether it is in the foreground again.
constexpr int kForegroundPollMs = 100;

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

}  // namespace

// What is drawn goes out first, after a resize or continue that came before
// has been served: the last frame shows the buffer as it is, where it
// belongs.
void HandTerminalToShell() {
  if (!TerminalIsOurs()) return;
  sigset_t waiting;
  if (sigpending(&waiting) == 0) {
    if (sigismember(&waiting, SIGWINCH)) gResized.store(true);
    if (sigismember(&waiting, SIGCONT)) gContinued.store(true);
  }
  if (!gInHost.load() && gDrawPending != nullptr) gDrawPending();
  // The colours go back with the last frame, in its write, unless the
  // protocol is to be popped first.
  const bool pushed = gModes.pushed.load();
  if (gPending != nullptr && !pushed) gPending->Put(ColoursReset(), std::strlen(ColoursReset()));
  if (gPending != nullptr && gPending->Size() > 0) {
    Send(gPending->Data(), gPending->Size());
    gPending->Discard();
  }
  if (pushed) Pop(nullptr, 0);
  if (gPending == nullptr || pushed) SendColoursReset();
  // A terminal that refuses its own mode back leaves nothing more to try.
  if (gModes.inKeyMode.load() && SetMode(gModes.saved)) gModes.inKeyMode.store(false);
}

namespace {

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

}  // namespace

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

}  // namespace platform_posix::console_host
