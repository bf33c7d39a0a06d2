// What changed in the console goes to the terminal, a frame at a time.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/console_host/dispatch.h"
#include "platform/posix/console_host/terminal_host_class.h"
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_modes.h"
#include "platform/posix/console_host/terminal_replies.h"
#include "platform/posix/console_host/terminal_signals.h"
#include "platform/posix/timer_tick.h"

namespace platform_posix::console_host {

void TerminalHost::Present() {
  DrawPending();
  out.Flush();
  lastFrameMs_ = NowMs();
  framePending_ = false;
  if (timerArmed_) {
    StopFrameTimer();
    timerArmed_ = false;
  }
}

void TerminalHost::DrawPending() {
  RedrawAfterStopOrResize();
  renderer.Follow(screen);
  renderer.Render(screen);
  renderer.PlaceCursor(screen.cursor.X, screen.cursor.Y);
}

void TerminalHost::Serve(int sig) {
  HostSection section;
  if (sig == SIGALRM) {
    timerArmed_ = false;
    if (framePending_) Present();
  } else {
    Pump();
  }
}

void TerminalHost::Changed() {
  if (framePending_) return;
  framePending_ = true;
  const long long since = NowMs() - lastFrameMs_;
  if (since >= kFrameMs) {
    Present();
    return;
  }
  StartFrameTimer(kFrameMs - since);
  timerArmed_ = true;
}

void TerminalHost::BeforeScroll() {
  renderer.Follow(screen);
  renderer.Render(screen);
}

void TerminalHost::Shifted(const RowShift &shift, const CHAR_INFO &fill) {
  if (!renderer.Shift(shift, fill.Char.AsciiChar == ' ' && (fill.Attributes & 0xFF) == 0x07)) screen.MarkAllDirty();
}

void TerminalHost::RedrawAfterStopOrResize() {
  const bool continued = TakeContinued(), resized = TakeResized();
  if (!continued && !resized) return;
  woken_ = true;
  // After a stop the shell has moved the cursor: where it stands tells
  // nothing.
  if (!continued) renderer.TerminalMoved(RowsMovedByResize());
  int columns, rows;
  TerminalSize(gTerminalFd, &columns, &rows);
  renderer.Resize(columns, rows);
  renderer.Repaint(screen);
}

int TerminalHost::RowsMovedByResize() {
  const int before = renderer.TerminalCursorRow();
  // A question from outside the foreground would stop the process; one
  // while it is ending or stopping would hold that up by its wait.
  if (!reportsPosition_ || before < 0 || WriteLimit() != 0 || !TerminalIsOurs()) return 0;
  out.Flush();
  static constexpr char kWhere[] = "\x1b[6n";
  if (!WriteAll(gTerminalFd, kWhere, sizeof kWhere - 1)) return 0;
  const long long deadline = NowMs() + kReplyTimeoutMs;
  StartupReplies replies;
  // Keys typed meanwhile stay keys.
  for (;;) {
    pendingLength_ = ExtractReplies(pending_, pendingLength_, &replies);
    if (replies.gotPosition) return replies.row - 1 - before;
    const long long left = deadline - NowMs();
    if (left <= 0 || pendingLength_ >= kPendingSize) break;
    if (!WaitReadable(gTerminalFd, static_cast<int>(left))) continue;
    const long got = ReadWithoutWaiting(gTerminalFd, pending_ + pendingLength_, kPendingSize - pendingLength_);
    if (got < 0 && errno == EAGAIN) continue;
    if (got <= 0) break;
    pendingLength_ += static_cast<std::size_t>(got);
    lastByteMs_ = NowMs();
  }
  // The answer comes later, and is no key then.
  ++keys_.positionReplies;
  return 0;
}

}  // namespace platform_posix::console_host
