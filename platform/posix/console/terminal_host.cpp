#include "platform/posix/console/terminal_host.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/console/charset.h"
#include "platform/posix/console/dispatch.h"
#include "platform/posix/console/key_decoder.h"
#include "platform/posix/console/output_buffer.h"
#include "platform/posix/console/renderer.h"
#include "platform/posix/console/terminal_io.h"
#include "platform/posix/console/terminal_replies.h"
#include "platform/posix/console/terminal_signals.h"
#include "platform/posix/console_host.h"

namespace posix::console {
namespace {

constexpr int kReplyTimeoutMs = 500;  // for the answers to the start-up questions
constexpr int kEscapeTimeoutMs = 50;  // after which a lone ESC is the Esc key
// What changes within a frame goes to the terminal in one write: half a
// refresh of a 60 Hz display, so the terminal never shows a change much
// later than it could, and at most 125 writes a second whatever the program
// does.
constexpr long long kFrameMs = 8;
// Within a frame the clock is read once every so many changes: a program
// painting cell by cell makes thousands of them.
constexpr int kChangesPerClockRead = 64;

int gFd = -1;
std::atomic<unsigned long long> gBytes{0}, gWrites{0};
TerminalCharset gCharset;  // loaded once, before the host starts

void SendToTerminal(void *, const char *bytes, std::size_t length) {
  gWrites.fetch_add(1, std::memory_order_relaxed);
  gBytes.fetch_add(length, std::memory_order_relaxed);
  WriteAll(gFd, bytes, length);
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
    Service();
    DrawPending();
    out.Flush();
    lastFrameMs_ = NowMs();
    changesInFrame_ = 0;
  }

  // What changed since the last frame, into the output buffer.
  void DrawPending() {
    renderer.Follow(screen);
    renderer.Render(screen);
    renderer.PlaceCursor(screen.cursor.X, screen.cursor.Y);
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
    DWORD n = 0;
    for (;;) {
      Pump();
      if (queued_ > 0 || ended_ || length == 0) break;
      int wait = -1;
      if (pendingLength_ > 0) {
        long long left = kEscapeTimeoutMs - (NowMs() - lastByteMs_);
        wait = left < 1 ? 1 : static_cast<int>(left);
      }
      // A signal ends the wait, so that a resume or a resize is served.
      pollfd p{gFd, POLLIN, 0};
      LeaveHost();
      const int ready = poll(&p, 1, wait);
      EnterHost();
      if (ready < 0) Present();
    }
    while (n < length && queued_ > 0) {
      records[n++] = queue_[head_];
      head_ = (head_ + 1) % kQueueSize;
      --queued_;
    }
    if (read != nullptr) *read = n;
    return TRUE;
  }

 protected:
  // A change after a quiet spell goes out at once; later ones wait for
  // the frame's end or for anything that lets time pass.
  void Changed() override {
    if (changesInFrame_++ % kChangesPerClockRead == 0 && NowMs() - lastFrameMs_ >= kFrameMs) Present();
  }
  void Shifted(const RowShift &shift, const CHAR_INFO &fill) override {
    renderer.Shift(shift, fill.Char.AsciiChar == ' ' && (fill.Attributes & 0xFF) == 0x07);
  }
  void Bell() override { renderer.Bell(); }

 private:
  static constexpr std::size_t kQueueSize = 256;
  static constexpr std::size_t kPendingSize = 512;

  // What signals asked of the console: after a stop or a resize the
  // terminal shows something else, so it is drawn again from the buffer.
  void Service() {
    const bool continued = TakeContinued(), resized = TakeResized();
    if (!continued && !resized) return;
    int columns, rows;
    TerminalSize(gFd, &columns, &rows);
    renderer.Resize(columns, rows);
    renderer.Repaint(screen);
  }

  // Reads what the terminal sent and decodes the complete keys in it.
  void Pump() {
    while (!ended_ && pendingLength_ < kPendingSize && WaitReadable(gFd, 0)) {
      ssize_t got = read(gFd, pending_ + pendingLength_, kPendingSize - pendingLength_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ended_ = true;
        break;
      }
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
      // driver, they do what the driver would have done.
      const KEY_EVENT_RECORD &key = r.records[0].Event.KeyEvent;
      if (int sig = key.bKeyDown ? SignalForKey(static_cast<unsigned char>(key.uChar.AsciiChar)) : 0; sig != 0) {
        RaiseForKey(sig);
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
  unsigned changesInFrame_ = 0;
  KeyDecoderState keys_;
  unsigned char pending_[kPendingSize];
  std::size_t pendingLength_ = 0;
  long long lastByteMs_ = 0;
  bool ended_ = false;
  INPUT_RECORD queue_[kQueueSize];
  std::size_t head_ = 0, queued_ = 0;
};

TerminalHost *gHost = nullptr;
bool gTried = false;

void DrawPendingFrame() {
  if (gHost != nullptr) gHost->DrawPending();
}

// Asks for the cursor position and the keyboard protocol; the keys typed
// meanwhile stay in `typed`.
StartupReplies Ask(unsigned char *typed, std::size_t capacity, std::size_t *typedLength) {
  StartupReplies replies;
  static constexpr char kQuestions[] = "\x1b[6n\x1b[?u\x1b[c";
  WriteAll(gFd, kQuestions, sizeof kQuestions - 1);
  const long long deadline = NowMs() + kReplyTimeoutMs;
  std::size_t length = 0;
  while (!replies.gotAttributes && length < capacity) {
    long long left = deadline - NowMs();
    if (left <= 0 || !WaitReadable(gFd, static_cast<int>(left))) break;
    ssize_t got = read(gFd, typed + length, capacity - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length = ExtractReplies(typed, length + static_cast<std::size_t>(got), &replies);
  }
  *typedLength = length;
  return replies;
}

}  // namespace

ConsoleHost *ActiveTerminal() { return gHost; }

ConsoleHost *Terminal() {
  if (gHost != nullptr || gTried) return gHost;
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
  gCharset.LoadFromEnvironment();
  auto *host = new TerminalHost(columns, rows);
  ArmTerminal(fd, saved, &host->Output(), DrawPendingFrame);

  unsigned char typed[512];
  std::size_t typedLength = 0;
  StartupReplies replies = Ask(typed, sizeof typed, &typedLength);
  if (replies.kittyKeyboard) TerminalSpeaksKeyboardProtocol();
  host->Begin(replies, terminalColumns, terminalRows, typed, typedLength);
  gHost = host;
  return gHost;
}

namespace {
// The descriptor last found to be the console's terminal: every console call
// asks, and the answer only changes when that descriptor is closed.
int gKnownTerminalFd = -1;
}  // namespace

bool IsConsoleTerminal(int fd) {
  if (fd == gKnownTerminalFd) return Terminal() != nullptr;
  // Only the controlling terminal, which /dev/tty opens, tells its
  // foreground process group; any other answers ENOTTY. (Its session would
  // tell the same, but emulators such as qemu-user 7 do not pass that
  // answer on.)
  if (!isatty(fd)) return false;
  bool is = tcgetpgrp(fd) != -1 && Terminal() != nullptr;
  if (is) gKnownTerminalFd = fd;
  return is;
}

void ForgetTerminalFd(int fd) {
  if (fd == gKnownTerminalFd) gKnownTerminalFd = -1;
}

void BeforeOutsideWait() {
  if (gHost == nullptr) return;
  HostSection section;
  gHost->Present();
  // The terminal driver sees Ctrl+C again while the process waits elsewhere.
  SetKeyboardProtocol(false);
}

void AfterInterruptedWait() {
  if (gHost == nullptr) return;
  HostSection section;
  gHost->Present();
}

}  // namespace posix::console

posix::TerminalOutputStats posix::TerminalHostStats() {
  return {posix::console::gBytes.load(), posix::console::gWrites.load()};
}
