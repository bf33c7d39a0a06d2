// Keys from the terminal, and the waits: for keys, in Sleep, on another
// descriptor.
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

BOOL TerminalHost::InputCount(DWORD *count) {
  Present();
  SetKeyboardProtocol(true);
  Pump();
  if (count != nullptr) *count = static_cast<DWORD>(queued_);
  return TRUE;
}

BOOL TerminalHost::ReadInput(INPUT_RECORD *records, DWORD length, DWORD *read) {
  Present();
  SetKeyboardProtocol(true);
  for (;;) {
    Pump();
    if (queued_ > 0 || length == 0) break;
    long long wait = -1;
    if (pendingLength_ > 0) {
      const long long left = kEscapeTimeoutMs - (NowMs() - lastByteMs_);
      wait = (left < 1 ? 1 : left) * kNsPerMs;
    }
    pollfd p{gTerminalFd, POLLIN, 0};
    WaitAwayFromHost(&p, 1, wait);
    Present();
  }
  DWORD n = 0;
  while (n < length && queued_ > 0) {
    records[n++] = queue_[head_];
    head_ = (head_ + 1) % kQueueSize;
    --queued_;
  }
  if (read != nullptr) *read = n;
  return TRUE;
}

void TerminalHost::Sleep(DWORD milliseconds) {
  const long long earliest = MonotonicNs() + static_cast<long long>(milliseconds) * kNsPerMs;
  long long end = milliseconds == 0 ? earliest : TickAtOrAfter(earliest);
  woken_ = false;
  for (;;) {
    Present();
    if (woken_ || queued_ > 0) end = earliest;
    // A lone ESC becomes a key when its time is up.
    if (pendingLength_ > 0) end = std::min(end, std::max(earliest, (lastByteMs_ + kEscapeTimeoutMs) * kNsPerMs));
    const long long left = end - MonotonicNs();
    if (left <= 0) return;
    if (end == earliest) {
      WaitAwayFromHost(nullptr, 0, left);
      continue;
    }
    pollfd p{gTerminalFd, POLLIN, 0};
    const int ready = WaitAwayFromHost(&p, 1, left);
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) EndOnHangUp();
    if (ready > 0) end = earliest;
  }
}

int TerminalHost::WaitOutside(int fd, short events) {
  Present();
  // The terminal driver sees Ctrl+C again while the process waits
  // elsewhere; what the terminal sent under the protocol stays as keys.
  if (std::size_t kept = SetKeyboardProtocol(false, pending_ + pendingLength_, kPendingSize - pendingLength_)) {
    pendingLength_ += kept;
    lastByteMs_ = NowMs();
    // Sent under the protocol: a Ctrl+C among them acts now, not after a
    // wait in which the host does not read the terminal.
    keys_.reportsReleases = true;
    Decode(false);
  }
  for (;;) {
    // The terminal is watched too: its hang-up ends the wait.
    pollfd p[2] = {{fd, events, 0}, {gTerminalFd, 0, 0}};
    const int ready = WaitAwayFromHost(p, 2, -1);
    if (ready > 0 && (p[1].revents & (POLLHUP | POLLERR)) != 0) EndOnHangUp();
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
    Present();
  }
}

void TerminalHost::AwaitAnswers() {
  if (keys_.attributeReplies == 0) return;
  // Read but not decoded yet, the answers may be among those bytes; the
  // device attributes come last.
  StartupReplies late;
  pendingLength_ = ExtractReplies(pending_, pendingLength_, &late);
  if (!late.gotAttributes && TerminalIsOurs()) ReadToAnswer(nullptr, 0, askedMs_ + 3LL * kReplyTimeoutMs);
  keys_.attributeReplies = 0;
  keys_.positionReplies = 0;
}

void TerminalHost::Pump() {
  // Outside the foreground a read would stop the process, or fail where its
  // group is orphaned: keys are read only from a terminal that is its own.
  const bool ours = AwaitForeground();
  while (ours && pendingLength_ < kPendingSize && WaitReadable(gTerminalFd, 0)) {
    const long got = ReadWithoutWaiting(gTerminalFd, pending_ + pendingLength_, kPendingSize - pendingLength_);
    if (got < 0 && errno == EAGAIN) break;
    if (got <= 0) EndOnHangUp();
    pendingLength_ += static_cast<std::size_t>(got);
    lastByteMs_ = NowMs();
  }
  keys_.reportsReleases = KeyboardProtocolOn();
  Decode(false);
  if (pendingLength_ > 0 && NowMs() - lastByteMs_ >= kEscapeTimeoutMs) Decode(true);
}

void TerminalHost::Decode(bool final) {
  std::size_t at = 0;
  while (at < pendingLength_ && kQueueSize - queued_ >= 2) {
    DecodeResult r = DecodeKey(pending_ + at, pendingLength_ - at, final, keys_);
    if (r.kind == DecodeResult::kNeedMore) break;
    at += r.consumed;
    if (r.kind != DecodeResult::kKeys) continue;
    // Where the protocol hides Ctrl+C, Ctrl+\ and Ctrl+Z from the terminal
    // driver, they do what the driver would have done, and are no keys,
    // also when they are released.
    const KEY_EVENT_RECORD &key = r.records[0].Event.KeyEvent;
    if (int sig = SignalForKey(static_cast<unsigned char>(key.uChar.AsciiChar)); sig != 0) {
      if (key.bKeyDown) RaiseForKey(sig);
      continue;
    }
    for (int i = 0; i < r.count; ++i) {
      queue_[(head_ + queued_) % kQueueSize] = r.records[i];
      ++queued_;
    }
  }
  std::memmove(pending_, pending_ + at, pendingLength_ - at);
  pendingLength_ -= at;
}

}  // namespace platform_posix::console_host
