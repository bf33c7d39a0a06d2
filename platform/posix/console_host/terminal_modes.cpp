#include "platform/posix/console_host/terminal_modes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/console_host/terminal_io.h"

namespace platform_posix::console_host {
namespace {

constexpr char kColoursReset[] = "\x1b[m";
// Flags of the kitty keyboard protocol: disambiguate, report event types,
// report alternate keys, report all keys as escape codes, report text.
constexpr char kKittyPush[] = "\x1b[>31u";
constexpr char kKittyPop[] = "\x1b[<u";
// Every terminal answers it, and only once it has handled what came before.
constexpr char kAttributesQuestion[] = "\x1b[c";
// How long the console waits for that answer: a terminal that answered at
// the start answers again, unless it reads nothing for a while (a loaded
// machine, a slow remote link), and whatever it sends late is left for the
// shell.
constexpr int kDrainMs = 1000;
// A process that an ending signal ends waits no longer than this past its
// write limit (terminal_io.h): within a second of the signal in all.
constexpr int kEndingDrainMs = 500;

template <std::size_t N>
bool Send(const char (&s)[N]) {
  return console_host::Send(s, N - 1);
}

// While the protocol is on, the terminal's input raises SIGIO, so that the
// signal keys act whatever the program does meanwhile.
void WatchInput(bool on) {
  const int flags = fcntl(gModes.fd, F_GETFL);
  if (flags >= 0) fcntl(gModes.fd, F_SETFL, on ? flags | O_ASYNC : flags & ~O_ASYNC);
}

// Reads what the terminal sent before it handled everything written to it
// so far: up to its answer to a device-attributes question asked now.
std::size_t DrainToAnswer(unsigned char *keep, std::size_t capacity) {
  if (!gModes.answersAttributes || !Send(kAttributesQuestion)) return 0;
  return ReadToAnswer(keep, capacity, 0);
}

}  // namespace

TerminalModes gModes;

std::size_t ReadToAnswer(unsigned char *keep, std::size_t capacity, long long notAfterMs) {
  long long deadline = NowMs() + kDrainMs;
  if (notAfterMs != 0 && notAfterMs < deadline) deadline = notAfterMs;
  if (const long long limit = WriteLimit(); limit != 0 && limit / 1000000 + kEndingDrainMs < deadline)
    deadline = limit / 1000000 + kEndingDrainMs;
  std::size_t kept = 0;
  auto put = [&](unsigned char c) {
    if (keep != nullptr && kept < capacity) keep[kept++] = c;
  };
  // The answer is ESC [ ? then digits and semicolons, then c.
  unsigned char candidate[32];
  std::size_t length = 0;
  auto giveUp = [&] {
    for (std::size_t i = 0; i < length; ++i) put(candidate[i]);
    length = 0;
  };
  for (;;) {
    const long long left = deadline - NowMs();
    if (left <= 0 || !WaitReadable(gModes.fd, static_cast<int>(left))) break;
    unsigned char c;
    const long got = ReadWithoutWaiting(gModes.fd, &c, 1);
    if (got < 0 && errno == EAGAIN) continue;
    if (got <= 0) break;
    if (c == 0x1B) {
      giveUp();
      candidate[length++] = c;
      continue;
    }
    if (length > 0) {
      if (length >= 3 && c == 'c') return kept;
      const bool fits = length == 1 ? c == '[' : length == 2 ? c == '?' : (c >= '0' && c <= '9') || c == ';';
      if (fits && length < sizeof candidate) {
        candidate[length++] = c;
        continue;
      }
      giveUp();
    }
    put(c);
  }
  giveUp();
  return kept;
}

bool TerminalIsOurs() {
  // A terminal that no session has any more (its controlling process ended)
  // has nobody else to draw over; one that has hung up fails every write.
  const pid_t group = tcgetpgrp(gModes.fd);
  return group < 0 || group == getpgrp();
}

bool Send(const char *bytes, std::size_t length) { return TerminalIsOurs() && WriteAll(gModes.fd, bytes, length); }
void SendColoursReset() { Send(kColoursReset); }
const char *ColoursReset() { return kColoursReset; }

bool SetMode(const termios &mode) {
  if (!TerminalIsOurs()) return false;
  int result;
  do result = tcsetattr(gModes.fd, TCSANOW, &mode);
  while (result != 0 && errno == EINTR);
  return result == 0;
}

void Push() {
  // Only a push the terminal got is ever popped.
  if (!Send(kKittyPush)) return;
  gModes.pushed.store(true);
  WatchInput(true);
}

std::size_t Pop(unsigned char *keep, std::size_t capacity) {
  WatchInput(false);
  Send(kKittyPop);
  gModes.pushed.store(false);
  return DrainToAnswer(keep, capacity);
}

}  // namespace platform_posix::console_host
