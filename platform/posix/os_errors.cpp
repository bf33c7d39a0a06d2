// errno to Windows error codes: the one table of the POSIX layer.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_internal.h"

namespace {

thread_local DWORD lastError = 0;

// ENOENT means a missing folder on the path when the parent does not exist.
bool ParentExists(const char *path) {
  if (path == nullptr) return true;
  const char *slash = std::strrchr(path, '/');
  if (slash == nullptr) return true;
  if (slash == path) return true;
  char parent[4096];
  std::size_t n = static_cast<std::size_t>(slash - path);
  if (n >= sizeof parent) return false;
  std::memcpy(parent, path, n);
  parent[n] = '\0';
  struct stat st;
  return stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

namespace platform_posix {

DWORD ErrorFromErrno(int err, IoDirection direction, const char *path) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EROFS: return ERROR_WRITE_PROTECT;
    // A file grown to the process's size limit (ulimit -f) is as full as
    // its disk, as a file on a full quota is on Windows.
    case ENOSPC:
    case EFBIG: return ERROR_DISK_FULL;
    case EIO: return direction == IoDirection::kWrite ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    // A lease held elsewhere refuses a non-blocking open; a running program's
    // executable cannot be opened for writing.
    case EWOULDBLOCK:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

void SetLastErrorCode(DWORD code) { lastError = code; }

}  // namespace platform_posix

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }
