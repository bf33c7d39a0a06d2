#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "platform/posix/console_host/dispatch.h"
#include "platform/posix/posix_internal.h"

namespace platform_posix {

HANDLE HandleFromFd(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>((fd + 1) * 4)); }

int FdFromHandle(HANDLE handle) {
  intptr_t value = reinterpret_cast<intptr_t>(handle);
  if (value <= 0 || (value & 3) != 0) return -1;
  return static_cast<int>(value / 4 - 1);
}

}  // namespace platform_posix

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
  if (HANDLE console; platform_posix::console_host::ConsoleStdHandle(nStdHandle, &console)) return console;
  int fd;
  if (nStdHandle == STD_INPUT_HANDLE) fd = STDIN_FILENO;
  else if (nStdHandle == STD_OUTPUT_HANDLE) fd = STDOUT_FILENO;
  else if (nStdHandle == STD_ERROR_HANDLE) fd = STDERR_FILENO;
  else {
    platform_posix::SetLastErrorCode(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  // Like Windows, a process started without a standard handle has none (0),
  // so a file opened later on the same descriptor is never mistaken for it.
  if (fcntl(fd, F_GETFD) == -1) return nullptr;
  return platform_posix::HandleFromFd(fd);
}
