#include "platform/posix/timer_tick.h"

#include <cerrno>
#include <ctime>

namespace platform_posix {

long long MonotonicNs() noexcept {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

namespace {

// Taken while the process starts, before any code of the program runs.
const long long gFirstTickNs = MonotonicNs();

}  // namespace

long long TickAtOrAfter(long long ns) {
  if (ns <= gFirstTickNs) return gFirstTickNs;
  const long long ticks = (ns - gFirstTickNs + kTickNs - 1) / kTickNs;
  return gFirstTickNs + ticks * kTickNs;
}

void SleepUntil(long long ns) {
  const timespec until{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace platform_posix
