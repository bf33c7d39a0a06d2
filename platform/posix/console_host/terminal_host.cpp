#include "platform/posix/console_host/terminal_host.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/console_host/charset.h"
#include "platform/posix/console_host/control.h"
#include "platform/posix/console_host/dispatch.h"
#include "platform/posix/console_host/key_decoder.h"
#include "platform/posix/console_host/output_buffer.h"
#include "platform/posix/console_host/renderer.h"
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_replies.h"
#include "platform/posix/console_host/terminal_signals.h"
#include "platform/posix/timer_tick.h"

namespace platform_posix::console_host {
namespace {

constexpr int kReplyTimeoutMs = 500;  // for the answers to the start-up questions
constexpr int kEscapeTimeoutMs = 50;  // after which a lone ESC is the Esc key
// Every change is on the terminal within a frame: half a refresh of a 60 Hz
// display, so the terminal never shows a change much later than it could,
// and at most 125 writes a second whatever the program does. A change after
// a quiet spell goes out at once; the later ones of a frame go out together
// when the frame timer ends it, or sooner, when the program lets time pass.
constexpr long long kFrameMs = 8;
constexpr long long kNsPerMs = 1000000;

int gFd = -1;
std::atomic<unsigned long long> gBytes{0}, gWrites{0};
TerminalCharset gCharset;  // loaded once, before the host starts

void SendToTerminal(void *, const char *bytes, std::size_t length) {
  gWrites.fetch_add(1, std::memory_order_relaxed);
  gBytes.fetch_add(length, std::memory_order_relaxed);
  errno = 0;
  if (!WriteAll(gFd, bytes, length) && errno == EIO) EndOnHangUp();
}

struct TerminalParts {
  TerminalParts(int columns, int rows)
      : screen(columns, rows),
        capacity(static_cast<std::size_t>(columns) * rows * 16 + 4096),
        storage(new char[capacity]),
        out(storage.get(), capacity, SendToTerminal, nullptr),
        renderer(columns, rows, out, gCharset.Glyphs()) {}
  ScreenBuffer screen;
  std::size_t capacity;
  std::unique_ptr<char[]> storage;
  OutputBuffer out;
  Renderer renderer;
};

class TerminalHost final : private TerminalParts, public ConsoleHost {
 public:
  TerminalHost(int columns, int rows) : TerminalParts(columns, rows), ConsoleHost(TerminalParts::screen) {}

  OutputBuffer &Output() { return out; }

  void Begin(const StartupReplies &replies, int terminalColumns, int terminalRows, const unsigned char *typed,
             std::size_t typedLength) {
    screen.MakeForeign();
    renderer.AssumeForeign();
    renderer.Resize(terminalColumns, terminalRows);
    if (replies.gotPosition) {
      int x = replies.column - 1, y = replies.row - 1;
      if (x >= screen.Columns()) x = screen.Columns() - 1;
      if (y >= screen.Rows()) y = screen.Rows() - 1;
      screen.cursor = {static_cast<SHORT>(x), static_cast<SHORT>(y)};
      renderer.AssumeCursor(x, y);
    }
    // A report still to come is a reply, whenever it arrives.
    keys_.positionReplies = replies.gotPosition ? 0 : 1;
    keys_.input = gCharset.Input();
    std::memcpy(pending_, typed, typedLength);
    pendingLength_ = typedLength;
    lastByteMs_ = NowMs();
  }

  void Present() override {
    DrawPending();
    out.Flush();
    lastFrameMs_ = NowMs();
    framePending_ = false;
    if (timerArmed_) {
      StopFrameTimer();
      timerArmed_ = false;
    }
  }

  // What changed since the last frame, into the output buffer.
  void DrawPending() {
    RedrawAfterStopOrResize();
    renderer.Follow(screen);
    renderer.Render(screen);
    renderer.PlaceCursor(screen.cursor.X, screen.cursor.Y);
  }

  // What a signal asks, outside any change: the frame timer ended a frame,
  // or keys came while the keyboard protocol hides the signal keys from the
  // terminal driver.
  void Serve(int sig) {
    HostSection section;
    if (sig == SIGALRM) {
      timerArmed_ = false;
      if (framePending_) Present();
    } else {
      Pump();
    }
  }

  BOOL InputCount(DWORD *count) override {
    Present();
    SetKeyboardProtocol(true);
    Pump();
    if (count != nullptr) *count = static_cast<DWORD>(queued_);
    return TRUE;
  }

  BOOL ReadInput(INPUT_RECORD *records, DWORD length, DWORD *read) override {
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
      pollfd p{gFd, POLLIN, 0};
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

  // Lasts to the system timer's first tick after `milliseconds` (see
  // timer_tick.h), unless input comes or the host serves a continue or a
  // resize: then it ends as soon as `milliseconds` have passed, so that a
  // program polling for a key between sleeps answers it at once.
  void Sleep(DWORD milliseconds) {
    const long long earliest = NowNs() + static_cast<long long>(milliseconds) * kNsPerMs;
    long long end = milliseconds == 0 ? earliest : TickAtOrAfter(earliest);
    woken_ = false;
    for (;;) {
      Present();
      if (woken_ || queued_ > 0) end = earliest;
      // A lone ESC becomes a key when its time is up.
      if (pendingLength_ > 0) end = std::min(end, std::max(earliest, (lastByteMs_ + kEscapeTimeoutMs) * kNsPerMs));
      const long long left = end - NowNs();
      if (left <= 0) return;
      if (end == earliest) {
        WaitAwayFromHost(nullptr, 0, left);
        continue;
      }
      pollfd p{gFd, POLLIN, 0};
      const int ready = WaitAwayFromHost(&p, 1, left);
      if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) EndOnHangUp();
      if (ready > 0) end = earliest;
    }
  }

  // A wait for another descriptor: 0 once it is ready, else the errno of a
  // failed poll.
  int WaitOutside(int fd, short events) {
    Present();
    // The terminal driver sees Ctrl+C again while the process waits
    // elsewhere; what the terminal sent under the protocol stays as keys.
    if (std::size_t kept = SetKeyboardProtocol(false, pending_ + pendingLength_, kPendingSize - pendingLength_)) {
      pendingLength_ += kept;
      lastByteMs_ = NowMs();
    }
    for (;;) {
      // The terminal is watched too: its hang-up ends the wait.
      pollfd p[2] = {{fd, events, 0}, {gFd, 0, 0}};
      const int ready = WaitAwayFromHost(p, 2, -1);
      if (ready > 0 && (p[1].revents & (POLLHUP | POLLERR)) != 0) EndOnHangUp();
      if (ready > 0) return 0;
      if (ready < 0 && errno != EINTR) return errno;
      Present();
    }
  }

 protected:
  void Changed() override {
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
  // The rows that a scroll takes off the top go to the terminal's
  // scrollback as they are now.
  void BeforeScroll() override {
    renderer.Follow(screen);
    renderer.Render(screen);
  }
  void Shifted(const RowShift &shift, const CHAR_INFO &fill) override {
    if (!renderer.Shift(shift, fill.Char.AsciiChar == ' ' && (fill.Attributes & 0xFF) == 0x07)) screen.MarkAllDirty();
  }
  void Bell() override { renderer.Bell(); }

 private:
  static constexpr std::size_t kQueueSize = 256;
  static constexpr std::size_t kPendingSize = 512;

  // After a stop or a resize the terminal shows something else, so it is
  // drawn again from the buffer.
  void RedrawAfterStopOrResize() {
    const bool continued = TakeContinued(), resized = TakeResized();
    if (!continued && !resized) return;
    woken_ = true;
    int columns, rows;
    TerminalSize(gFd, &columns, &rows);
    renderer.Resize(columns, rows);
    renderer.Repaint(screen);
  }

  // Reads what the terminal sent and decodes the complete keys in it.
  void Pump() {
    while (pendingLength_ < kPendingSize && WaitReadable(gFd, 0)) {
      ssize_t got = read(gFd, pending_ + pendingLength_, kPendingSize - pendingLength_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) EndOnHangUp();
      pendingLength_ += static_cast<std::size_t>(got);
      lastByteMs_ = NowMs();
    }
    keys_.reportsReleases = KeyboardProtocolOn();
    Decode(false);
    if (pendingLength_ > 0 && NowMs() - lastByteMs_ >= kEscapeTimeoutMs) Decode(true);
  }

  void Decode(bool final) {
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

  long long lastFrameMs_ = 0;
  bool framePending_ = false;  // changes not yet sent
  bool timerArmed_ = false;
  bool woken_ = false;  // a continue or a resize was served
  KeyDecoderState keys_;
  unsigned char pending_[kPendingSize];
  std::size_t pendingLength_ = 0;
  long long lastByteMs_ = 0;
  INPUT_RECORD queue_[kQueueSize];
  std::size_t head_ = 0, queued_ = 0;
};

TerminalHost *gHost = nullptr;
bool gTried = false;

void DrawPendingFrame() {
  if (gHost != nullptr) gHost->DrawPending();
}

void ServeFromSignal(int sig) {
  if (gHost != nullptr) gHost->Serve(sig);
}

ConsoleHost *StartTerminal() {
  gTried = true;
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    close(fd);
    return nullptr;
  }
  gFd = fd;
  int terminalColumns, terminalRows;
  TerminalSize(fd, &terminalColumns, &terminalRows);
  int columns = terminalColumns, rows = terminalRows;
  ClampConsoleSize(&columns, &rows);
  // Key mode before the questions, so that the answers come as they are
  // sent; the host is made while the terminal answers.
  ArmTerminal(fd, saved);
  AskQuestions(fd);
  const long long deadline = NowMs() + kReplyTimeoutMs;
  gCharset.LoadFromEnvironment();
  auto *host = new TerminalHost(columns, rows);
  ConnectHost(&host->Output(), DrawPendingFrame, ServeFromSignal);

  unsigned char typed[512];
  std::size_t typedLength = 0;
  StartupReplies replies = ReadAnswers(fd, deadline, typed, sizeof typed, &typedLength);
  TerminalAnswered(replies.kittyKeyboard, replies.gotAttributes);
  host->Begin(replies, terminalColumns, terminalRows, typed, typedLength);
  gHost = host;
  return gHost;
}

}  // namespace

ConsoleHost *ActiveTerminal() { return gHost; }

// Every console call asks: the answer is ready after the first.
ConsoleHost *Terminal() { return gHost != nullptr || gTried ? gHost : StartTerminal(); }

namespace {
// The descriptor last found to be the console's terminal, and those found
// not to be: every console call and every write asks, and the answer only
// changes when the descriptor is closed.
int gKnownTerminalFd = -1;
constexpr int kTrackedFds = 1024;
std::bitset<kTrackedFds> gNotTerminal;
}  // namespace

bool IsConsoleTerminal(int fd) {
  if (fd == gKnownTerminalFd) return gHost != nullptr || Terminal() != nullptr;
  if (fd < kTrackedFds && gNotTerminal[static_cast<std::size_t>(fd)]) return false;
  // Only the controlling terminal, which /dev/tty opens, tells its
  // foreground process group; any other answers ENOTTY. (Its session would
  // tell the same, but emulators such as qemu-user 7 do not pass that
  // answer on.)
  bool is = isatty(fd) && tcgetpgrp(fd) != -1 && Terminal() != nullptr;
  if (is) gKnownTerminalFd = fd;
  else if (fd >= 0 && fd < kTrackedFds) gNotTerminal[static_cast<std::size_t>(fd)] = true;
  return is;
}

void ForgetTerminalFd(int fd) {
  if (fd == gKnownTerminalFd) gKnownTerminalFd = -1;
  if (fd >= 0 && fd < kTrackedFds) gNotTerminal[static_cast<std::size_t>(fd)] = false;
}

bool SleepOnTerminal(DWORD milliseconds) {
  if (gHost == nullptr) return false;
  HostSection section;
  gHost->Sleep(milliseconds);
  return true;
}

int WaitForDescriptor(int fd, short events) {
  if (gHost != nullptr) {
    HostSection section;
    return gHost->WaitOutside(fd, events);
  }
  pollfd p{fd, events, 0};
  for (;;) {
    const int ready = poll(&p, 1, -1);
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
  }
}

}  // namespace platform_posix::console_host

platform_posix::TerminalOutputStats platform_posix::TerminalHostStats() {
  return {platform_posix::console_host::gBytes.load(), platform_posix::console_host::gWrites.load()};
}
