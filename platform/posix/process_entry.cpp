// The process start-up: what the loader does for a Windows executable. The
// image's entry point runs on a main stack of its own, reserved at 32 MB
// like the executable's stack reserve on Windows, with a guard region below
// it, so that a stack overflow is caught as such.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/machine.h"
#include "platform/posix/process_internal.h"

// Which of the run-time frame's entries this image has: a console
// program's, unless its build names another.
#if !defined(GRADES_IMAGE_ENTRY)
#define GRADES_IMAGE_ENTRY ConsoleEntry
#endif

namespace {

constexpr std::size_t kStackReserve = 32u << 20;
constexpr std::size_t kGuardSize = 1u << 20;

// The signal mask the process started with, for the program's thread.
sigset_t startMask;

void *RunEntry(void *) {
  pthread_sigmask(SIG_SETMASK, &startMask, nullptr);
  GRADES_IMAGE_ENTRY();
}

}  // namespace

int main() {
  // Windows has no SIGPIPE or SIGXFSZ: a write to a pipe nobody reads, or
  // one past the file size limit (ulimit -f), fails like any failed write,
  // and the run's own error handling takes it from there.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // The initial thread allocates nothing once the program's thread runs, so
  // that thread takes the main arena: an arena of its own would cost a 64 MB
  // reservation, trimmed with munmap, at the start of every run.
  mallopt(M_ARENA_MAX, 1);
  // The initial thread only waits for the program's thread, so it takes no
  // signals: SIGINT, SIGTERM and SIGHUP then stop the program's thread
  // where it is, and nothing it draws can follow the terminal's restoring.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &startMask);
  void *block = mmap(nullptr, kGuardSize + kStackReserve, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  pthread_attr_t attr;
  pthread_t thread;
  if (block != MAP_FAILED && mprotect(block, kGuardSize, PROT_NONE) == 0 && pthread_attr_init(&attr) == 0) {
    uintptr_t low = reinterpret_cast<uintptr_t>(block);
    platform_posix::SetProgramStack({low, low + kGuardSize, low + kGuardSize + kStackReserve});
    if (pthread_attr_setstack(&attr, reinterpret_cast<char *>(block) + kGuardSize, kStackReserve) == 0 &&
        pthread_create(&thread, &attr, RunEntry, nullptr) == 0) {
      // The entry point ends the process itself.
      pthread_join(thread, nullptr);
      return 0;
    }
  }
  // Without a stack of our own the program still runs, on the initial one.
  pthread_sigmask(SIG_SETMASK, &startMask, nullptr);
  platform_posix::SetProgramStack({0, 0, 0});
  GRADES_IMAGE_ENTRY();
}
