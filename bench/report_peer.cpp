// The baseline of the run benchmark: the least a program can do that shows
// the same report and keeps the keyboard's rule. It writes the report's
// bytes in one write(2), then sleeps the 1 ms that the wait for a key must
// take before its first poll, and ends.
//
//   report_peer FILE
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  static char report[1 << 16];
  if (argc < 2) return 64;
  const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 66;
  const ssize_t n = read(fd, report, sizeof report);
  close(fd);
  if (n <= 0 || write(STDOUT_FILENO, report, static_cast<size_t>(n)) != n) return 74;
  timespec oneMs{0, 1000000};
  while (nanosleep(&oneMs, &oneMs) != 0) {
  }
  return 0;
}
