// The system timer's tick as Windows keeps it by default: 64 a second,
// counted from the start of the process. A Sleep that nothing cuts short
// ends at one, so a program that sleeps 1 ms at a time in a loop wakes 64
// times a second, not a thousand.
#pragma once

namespace platform_posix {

constexpr long long kTickNs = 15625000;

// The monotonic clock in ns.
long long MonotonicNs() noexcept;
// The first tick at or after `ns`, a time of the monotonic clock in ns.
long long TickAtOrAfter(long long ns);
// Sleeps until `ns` of the monotonic clock, through interruptions.
void SleepUntil(long long ns);

}  // namespace platform_posix
