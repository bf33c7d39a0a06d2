// kernel32's file calls over POSIX descriptors.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/console_host/dispatch.h"
#include "platform/posix/posix_internal.h"

namespace {

using platform_posix::IoDirection;

void FailWith(DWORD code) { platform_posix::SetLastErrorCode(code); }

void FailWithErrno(int err, IoDirection direction, const char *path = nullptr) {
  platform_posix::SetLastErrorCode(platform_posix::ErrorFromErrno(err, direction, path));
}

int OpenFlags(DWORD access, DWORD disposition, bool inherit) {
  // Never wait in the open itself (a FIFO would wait there for its other
  // end); the descriptor blocks again once it is open.
  int flags = O_NOCTTY | O_NONBLOCK;
  if ((access & GENERIC_READ) != 0 && (access & GENERIC_WRITE) != 0) flags |= O_RDWR;
  else if ((access & GENERIC_WRITE) != 0) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  // Truncation waits until the file is known not to be in use elsewhere.
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) flags |= O_CREAT;
  if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (!inherit) flags |= O_CLOEXEC;
  return flags;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

// A wait for a descriptor outside the console: a FIFO without a writer yet,
// an empty or full pipe, a standard handle left non-blocking. 0 once `fd`
// is ready for `events` (or has hung up or failed, which the read or write
// that follows reports), else the errno of a failed poll. Only a wait that
// blocks involves the console: its drawing goes out before, and signals are
// never blocked during it, so Ctrl+C and SIGTERM still end it.
int WaitUntilReady(int fd, short events) {
  pollfd p = {fd, events, 0};
  for (;;) {
    const int n = poll(&p, 1, 0);
    if (n > 0) return 0;
    if (n == 0) return platform_posix::console_host::WaitForDescriptor(fd, events);
    if (errno != EINTR) return errno;
  }
}

// Descriptors this layer opened on regular files, which are always ready:
// their reads and writes need no poll first.
platform_posix::DescriptorFlags gRegularFile;

bool AlwaysReady(int fd) { return gRegularFile[fd]; }

// A lease break is announced by a signal to the lease holder. SIGURG is
// ignored unless handled, and nothing here handles it; SIGIO, the default,
// would end the process if another opener came during the probe.
constexpr int kLeaseBreakSignal = SIGURG;

enum class OtherOpeners { kNone, kSome, kUnknown };

// Whether another open file description, in any process, has the file: a
// write lease is granted only when none has. It is given back at once, for
// while it is held other openers wait and we get signals. Leases need the
// file's owner or CAP_LEASE and a file system that has them; without them
// the answer is unknown.
OtherOpeners ProbeOtherOpeners(int fd) {
  if (fcntl(fd, F_SETSIG, kLeaseBreakSignal) != 0) return OtherOpeners::kUnknown;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0) return WouldBlock(errno) ? OtherOpeners::kSome : OtherOpeners::kUnknown;
  fcntl(fd, F_SETLEASE, F_UNLCK);
  return OtherOpeners::kNone;
}

// Share mode 0 on a regular file: an exclusive flock, held while the file
// is open, keeps out every later opener that locks; the probe keeps out
// whoever has the file open already. 0, or the Windows error code.
DWORD TakeAlone(int fd, const char *path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    return WouldBlock(errno) ? ERROR_SHARING_VIOLATION
                             : platform_posix::ErrorFromErrno(errno, IoDirection::kOpen, path);
  return ProbeOtherOpeners(fd) == OtherOpeners::kSome ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  if (HANDLE console; platform_posix::console_host::OpenConsoleName(lpFileName, &console)) return console;
  char path[PATH_MAX];
  if (lpFileName == nullptr || !platform_posix::MapDosPath(lpFileName, path, sizeof path)) {
    FailWith(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  bool inherit = lpSecurityAttributes != nullptr && lpSecurityAttributes->bInheritHandle;
  int fd;
  do {
    fd = open(path, OpenFlags(dwDesiredAccess, dwCreationDisposition, inherit), 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailWithErrno(errno, IoDirection::kOpen, path);
    return INVALID_HANDLE_VALUE;
  }

  // CreateFile does not wait for the other end of a pipe: a FIFO without a
  // reader refuses the open; one without a writer opens, and its first read
  // waits for one.
  if (int flags = fcntl(fd, F_GETFL); flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    FailWithErrno(errno, IoDirection::kOpen, path);
    close(fd);
    return INVALID_HANDLE_VALUE;
  }

  struct stat st;
  if (fstat(fd, &st) != 0) {
    FailWithErrno(errno, IoDirection::kOpen, path);
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  // Windows refuses to open a folder as a file.
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    FailWith(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISREG(st.st_mode)) {
    if (DWORD refused = dwShareMode == 0 ? TakeAlone(fd, path) : ERROR_SUCCESS; refused != ERROR_SUCCESS) {
      close(fd);
      FailWith(refused);
      return INVALID_HANDLE_VALUE;
    }
    if ((dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING) &&
        ftruncate(fd, 0) != 0) {
      int err = errno;
      close(fd);
      FailWithErrno(err, IoDirection::kWrite, path);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (S_ISREG(st.st_mode)) gRegularFile.Set(fd, true);
  platform_posix::SetLastErrorCode(ERROR_SUCCESS);
  return platform_posix::HandleFromFd(fd);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED /*lpOverlapped*/) {
  if (BOOL done;
      platform_posix::console_host::ConsoleReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, &done))
    return done;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  int fd = platform_posix::FdFromHandle(hFile);
  if (fd < 0) {
    FailWith(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Asked first: a FIFO that has had no writer since it was opened reads as
  // ended at once, while poll reports its hang-up only once a writer has
  // come and gone. A regular file is always ready.
  ssize_t got;
  for (;;) {
    int err = nNumberOfBytesToRead == 0 || AlwaysReady(fd) ? 0 : WaitUntilReady(fd, POLLIN);
    got = err == 0 ? read(fd, lpBuffer, nNumberOfBytesToRead) : -1;
    if (got >= 0) break;
    if (err == 0) err = errno;
    if (err != EINTR && !WouldBlock(err)) {
      FailWithErrno(err, IoDirection::kRead);
      return FALSE;
    }
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(got);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED /*lpOverlapped*/) {
  if (BOOL done; platform_posix::console_host::ConsoleWriteFile(hFile, lpBuffer, nNumberOfBytesToWrite,
                                                                lpNumberOfBytesWritten, &done))
    return done;
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  int fd = platform_posix::FdFromHandle(hFile);
  if (fd < 0 || (nNumberOfBytesToWrite == 0 && fcntl(fd, F_GETFL) == -1)) {
    FailWith(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Writing nothing succeeds without asking the device, as on Windows (a
  // full device refuses even an empty write(2)).
  const char *from = static_cast<const char *>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    int err = AlwaysReady(fd) ? 0 : WaitUntilReady(fd, POLLOUT);
    ssize_t n = err == 0 ? write(fd, from + done, nNumberOfBytesToWrite - done) : -1;
    if (n > 0) {
      done += static_cast<DWORD>(n);
      continue;
    }
    if (err == 0) err = n < 0 ? errno : EIO;
    if (err == EINTR || WouldBlock(err)) continue;
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
    FailWithErrno(err, IoDirection::kWrite);
    return FALSE;
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (BOOL done; platform_posix::console_host::ConsoleCloseHandle(hObject, &done)) return done;
  int fd = platform_posix::FdFromHandle(hObject);
  gRegularFile.Set(fd, false);
  if (fd < 0 || close(fd) != 0) {
    FailWith(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  if (DWORD type; platform_posix::console_host::ConsoleFileType(hFile, &type)) return type;
  int fd = platform_posix::FdFromHandle(hFile);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    FailWith(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  int fd = platform_posix::FdFromHandle(hFile);
  if (fd < 0) {
    FailWith(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  off_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr)
    distance = static_cast<off_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                  static_cast<uint32_t>(lDistanceToMove));
  int whence = dwMoveMethod == FILE_END ? SEEK_END : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : SEEK_SET;
  off_t at = lseek(fd, distance, whence);
  if (at < 0) {
    FailWithErrno(errno, IoDirection::kOpen);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
  return static_cast<DWORD>(at);
}
