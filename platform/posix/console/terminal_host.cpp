#include "platform/posix/console/terminal_host.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/console/dispatch.h"
#include "platform/posix/console/key_decoder.h"
#include "platform/posix/console/output_buffer.h"
#include "platform/posix/console/renderer.h"
#include "platform/posix/console/terminal_io.h"
#include "platform/posix/console/terminal_replies.h"
#include "platform/posix/console_host.h"

namespace posix::console {
namespace {

constexpr int kReplyTimeoutMs = 500;  // for the answers to the start-up questions
constexpr int kEscapeTimeoutMs = 50;  // after which a lone ESC is the Esc key
// Flags of the kitty keyboard protocol: disambiguate, report event types,
// report alternate keys, report all keys as escape codes, report text.
constexpr char kKittyPush[] = "\x1b[>31u";
constexpr char kKittyPop[] = "\x1b[<u";
constexpr char kColoursReset[] = "\x1b[m";

// What ConsoleHostRestore needs, kept where a signal handler can reach it.
int gFd = -1;
termios gSaved;
char gRestore[16];
std::size_t gRestoreLength = 0;
std::atomic<bool> gArmed{false};
std::atomic<bool> gRestored{false};
OutputBuffer *gOutput = nullptr;
std::atomic<unsigned long long> gBytes{0}, gWrites{0};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[3];

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
        renderer(columns, rows, out) {}
  ScreenBuffer screen;
  std::size_t capacity;
  std::unique_ptr<char[]> storage;
  OutputBuffer out;
  Renderer renderer;
};

class TerminalHost final : private TerminalParts, public ConsoleHost {
 public:
  TerminalHost(int columns, int rows) : TerminalParts(columns, rows), ConsoleHost(TerminalParts::screen) {}

  void Begin(const StartupReplies &replies, const unsigned char *typed, std::size_t typedLength) {
    screen.MakeForeign();
    renderer.AssumeForeign();
    if (replies.gotPosition) {
      int x = replies.column - 1, y = replies.row - 1;
      if (x >= screen.Columns()) x = screen.Columns() - 1;
      if (y >= screen.Rows()) y = screen.Rows() - 1;
      screen.cursor = {static_cast<SHORT>(x), static_cast<SHORT>(y)};
      renderer.AssumeCursor(x, y);
    }
    keys_.reportsReleases = replies.kittyKeyboard;
    std::memcpy(pending_, typed, typedLength);
    pendingLength_ = typedLength;
    lastByteMs_ = NowMs();
  }

  OutputBuffer &Output() { return out; }

  void Present() override {
    renderer.PlaceCursor(screen.cursor.X, screen.cursor.Y);
    out.Flush();
  }

  BOOL InputCount(DWORD *count) override {
    Present();
    Pump();
    if (count != nullptr) *count = static_cast<DWORD>(queued_);
    return TRUE;
  }

  BOOL ReadInput(INPUT_RECORD *records, DWORD length, DWORD *read) override {
    Present();
    DWORD n = 0;
    for (;;) {
      Pump();
      if (queued_ > 0 || ended_ || length == 0) break;
      int wait = -1;
      if (pendingLength_ > 0) {
        long long left = kEscapeTimeoutMs - (NowMs() - lastByteMs_);
        wait = left < 1 ? 1 : static_cast<int>(left);
      }
      WaitReadable(gFd, wait);
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
  void Changed() override { renderer.Render(screen); }
  void Shifted(const RowShift &shift, const CHAR_INFO &fill) override {
    renderer.Shift(shift, fill.Char.AsciiChar == ' ' && (fill.Attributes & 0xFF) == 0x07);
  }
  void Bell() override { renderer.Bell(); }

 private:
  static constexpr std::size_t kQueueSize = 256;
  static constexpr std::size_t kPendingSize = 512;

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
    Decode(false);
    if (pendingLength_ > 0 && NowMs() - lastByteMs_ >= kEscapeTimeoutMs) Decode(true);
  }

  void Decode(bool final) {
    std::size_t at = 0;
    while (at < pendingLength_ && kQueueSize - queued_ >= 2) {
      DecodeResult r = DecodeKey(pending_ + at, pendingLength_ - at, final, keys_);
      if (r.kind == DecodeResult::kNeedMore) break;
      for (int i = 0; i < r.count; ++i) {
        queue_[(head_ + queued_) % kQueueSize] = r.records[i];
        ++queued_;
      }
      at += r.consumed;
    }
    std::memmove(pending_, pending_ + at, pendingLength_ - at);
    pendingLength_ -= at;
  }

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

void OnSignal(int sig, siginfo_t *info, void *context) {
  ConsoleHostRestore();
  for (int i = 0; i < 3; ++i) {
    if (kSignals[i] != sig) continue;
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

void InstallSignalHandlers() {
  for (int i = 0; i < 3; ++i) {
    sigaction(kSignals[i], nullptr, &gPrevious[i]);
    if ((gPrevious[i].sa_flags & SA_SIGINFO) == 0 && gPrevious[i].sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_sigaction = OnSignal;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&sa.sa_mask);
    sigaction(kSignals[i], &sa, nullptr);
  }
}

void AddRestore(const char *s) {
  std::size_t n = std::strlen(s);
  std::memcpy(gRestore + gRestoreLength, s, n);
  gRestoreLength += n;
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
  if (tcgetattr(fd, &gSaved) != 0) {
    close(fd);
    return nullptr;
  }
  gFd = fd;
  int columns, rows;
  TerminalSize(fd, &columns, &rows);

  AddRestore(kColoursReset);
  gArmed.store(true);
  InstallSignalHandlers();
  std::atexit(ConsoleHostRestore);
  // TCSANOW: keys typed before now stay pending and still count.
  termios keyMode;
  MakeKeyMode(gSaved, &keyMode);
  tcsetattr(fd, TCSANOW, &keyMode);

  unsigned char typed[512];
  std::size_t typedLength = 0;
  StartupReplies replies = Ask(typed, sizeof typed, &typedLength);
  if (replies.kittyKeyboard) {
    AddRestore(kKittyPop);
    WriteAll(fd, kKittyPush, sizeof kKittyPush - 1);
  }
  gHost = new TerminalHost(columns, rows);
  gHost->Begin(replies, typed, typedLength);
  gOutput = &gHost->Output();
  return gHost;
}

namespace {
// The descriptor last found to be the console's terminal: every console call
// asks, and the answer only changes when that descriptor is closed.
int gKnownTerminalFd = -1;
}  // namespace

bool IsConsoleTerminal(int fd) {
  if (fd == gKnownTerminalFd) return Terminal() != nullptr;
  // Only the controlling terminal, which /dev/tty opens, answers with the
  // process's session.
  if (!isatty(fd)) return false;
  pid_t session = tcgetsid(fd);
  bool is = session != -1 && session == getsid(0) && Terminal() != nullptr;
  if (is) gKnownTerminalFd = fd;
  return is;
}

void ForgetTerminalFd(int fd) {
  if (fd == gKnownTerminalFd) gKnownTerminalFd = -1;
}

void BeforeOutsideWait() {
  if (gHost != nullptr) gHost->Present();
}

void AfterInterruptedWait() {}

}  // namespace posix::console

void ConsoleHostRestore() {
  using namespace posix::console;
  if (!gArmed.load() || gRestored.exchange(true)) return;
  // What is drawn but not yet sent goes first, as it is: no drawing here.
  if (gOutput != nullptr && gOutput->Size() > 0) WriteAll(gFd, gOutput->Data(), gOutput->Size());
  WriteAll(gFd, gRestore, gRestoreLength);
  tcsetattr(gFd, TCSANOW, &gSaved);
}

posix::TerminalOutputStats posix::TerminalHostStats() {
  return {posix::console::gBytes.load(), posix::console::gWrites.load()};
}
