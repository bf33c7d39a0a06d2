#include "platform/posix/console_host/terminal_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "platform/posix/timer_tick.h"

namespace platform_posix::console_host {
namespace {

std::atomic<long long> gWriteLimit{0};

// Waits for room on `fd` until the write limit, if any: false once it has
// passed. A signal ends the wait early, so that a limit it set counts.
bool WaitForRoom(int fd) {
  int timeoutMs = -1;
  if (const long long limit = gWriteLimit.load(); limit != 0) {
    const long long left = limit - MonotonicNs();
    if (left <= 0) return false;
    timeoutMs = static_cast<int>((left + 999999) / 1000000);
  }
  pollfd p{fd, POLLOUT, 0};
  return poll(&p, 1, timeoutMs) >= 0 || errno == EINTR;
}

}  // namespace

bool WriteAll(int fd, const char *bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitForRoom(fd)) return false;
      continue;
    }
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

void LimitWrites(int fd, long long deadlineNs) {
  long long now = gWriteLimit.load();
  while ((now == 0 || deadlineNs < now) && !gWriteLimit.compare_exchange_weak(now, deadlineNs)) {
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

long long WriteLimit() { return gWriteLimit.load(); }

void SetWriteLimit(int fd, long long deadlineNs) {
  gWriteLimit.store(deadlineNs);
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, deadlineNs != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

long ReadWithoutWaiting(int fd, unsigned char *bytes, std::size_t capacity) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  if ((flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  ssize_t got;
  do {
    got = read(fd, bytes, capacity);
  } while (got < 0 && errno == EINTR);
  const int savedErrno = errno;
  if ((flags & O_NONBLOCK) == 0) {
    fcntl(fd, F_SETFL, flags);
    // A write limit that an ending signal set meanwhile wants it back.
    if (WriteLimit() != 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  }
  errno = savedErrno;
  return got;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int r = poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

long long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void MakeKeyMode(const termios &from, termios *to) {
  *to = from;
  to->c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  to->c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  to->c_cc[VMIN] = 1;
  to->c_cc[VTIME] = 0;
}

void TerminalSize(int fd, int *columns, int *rows) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    *columns = ws.ws_col > 32767 ? 32767 : ws.ws_col;
    *rows = ws.ws_row > 32767 ? 32767 : ws.ws_row;
  } else {
    *columns = 80;
    *rows = 25;
  }
}

void ClampConsoleSize(int *columns, int *rows) {
  if (*columns > kMaxConsoleSide) *columns = kMaxConsoleSide;
  if (*rows > kMaxConsoleSide) *rows = kMaxConsoleSide;
  if (static_cast<long>(*columns) * *rows > kMaxConsoleCells) *rows = static_cast<int>(kMaxConsoleCells / *columns);
}

}  // namespace platform_posix::console_host
