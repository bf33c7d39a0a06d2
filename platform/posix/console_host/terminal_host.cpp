#include "platform/posix/console_host/terminal_host.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/console_host/control.h"
#include "platform/posix/console_host/dispatch.h"
#include "platform/posix/console_host/terminal_host_class.h"
#include "platform/posix/console_host/terminal_io.h"
#include "platform/posix/console_host/terminal_modes.h"
#include "platform/posix/console_host/terminal_replies.h"
#include "platform/posix/console_host/terminal_signals.h"
#include "platform/posix/posix_internal.h"

namespace platform_posix::console_host {
namespace {

std::atomic<unsigned long long> gBytes{0}, gWrites{0};

}  // namespace

int gTerminalFd = -1;
TerminalCharset gCharset;

void SendToTerminal(void *, const char *bytes, std::size_t length) {
  // A frame for a terminal that is not the process's is dropped: taking the
  // terminal back repaints it all.
  if (!AwaitForeground()) return;
  gWrites.fetch_add(1, std::memory_order_relaxed);
  gBytes.fetch_add(length, std::memory_order_relaxed);
  errno = 0;
  if (!WriteAll(gTerminalFd, bytes, length) && errno == EIO) EndOnHangUp();
}

void TerminalHost::Begin(const StartupReplies &replies, int terminalColumns, int terminalRows,
                         const unsigned char *typed, std::size_t typedLength) {
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
  keys_.attributeReplies = replies.asked && !replies.gotAttributes ? 1 : 0;
  askedMs_ = replies.askedMs;
  reportsPosition_ = replies.gotPosition;
  keys_.input = gCharset.Input();
  std::memcpy(pending_, typed, typedLength);
  pendingLength_ = typedLength;
  lastByteMs_ = NowMs();
  // Keys typed ahead are input waiting, as soon as the console starts.
  Decode(false);
}

namespace {

TerminalHost *gHost = nullptr;
bool gTried = false;

void DrawPendingFrame() {
  if (gHost == nullptr) return;
  gHost->DrawPending();
  gHost->AwaitAnswers();
  if (Ending()) gHost->EndLine();
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
  gTerminalFd = fd;
  int terminalColumns, terminalRows;
  TerminalSize(fd, &terminalColumns, &terminalRows);
  int columns = terminalColumns, rows = terminalRows;
  ClampConsoleSize(&columns, &rows);
  // Key mode before the questions, so that the answers come as they are
  // sent; the host is made while the terminal answers.
  ArmTerminal(fd, saved);
  const bool asked = TerminalIsOurs() && AskQuestions(fd);
  const long long askedMs = NowMs();
  const long long deadline = askedMs + (asked ? kReplyTimeoutMs : 0);
  gCharset.LoadFromEnvironment();
  auto *host = new TerminalHost(columns, rows);
  ConnectHost(&host->Output(), DrawPendingFrame, ServeFromSignal);

  unsigned char typed[512];
  std::size_t typedLength = 0;
  StartupReplies replies = ReadAnswers(fd, deadline, typed, sizeof typed, &typedLength);
  replies.asked = asked;
  replies.askedMs = askedMs;
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
DescriptorFlags gNotTerminal;
}  // namespace

bool IsConsoleTerminal(int fd) {
  if (fd == gKnownTerminalFd) return gHost != nullptr || Terminal() != nullptr;
  if (gNotTerminal[fd]) return false;
  // Only the controlling terminal, which /dev/tty opens, tells its
  // foreground process group; any other answers ENOTTY. (Its session would
  // tell the same, but emulators such as qemu-user 7 do not pass that
  // answer on.)
  bool is = isatty(fd) && tcgetpgrp(fd) != -1 && Terminal() != nullptr;
  if (is) gKnownTerminalFd = fd;
  else gNotTerminal.Set(fd, true);
  return is;
}

void ForgetTerminalFd(int fd) {
  if (fd == gKnownTerminalFd) gKnownTerminalFd = -1;
  gNotTerminal.Set(fd, false);
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
