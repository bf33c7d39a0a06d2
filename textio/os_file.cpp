// The file driver's calls into kernel32.
#include "platform/platform.h"
#include "textio/file_driver.h"

void FixSlashes(char *fileName) {
  for (char *p = fileName; *p != '\0'; ++p)
    if (*p == '/') *p = '\\';
}

void MapOsError() {
  if (lastOsError >= ERROR_WRITE_PROTECT && lastOsError <= ERROR_GEN_FAILURE)
    ioStatus = static_cast<uint16_t>(lastOsError + 131);
  else if (lastOsError == ERROR_SHARING_VIOLATION) ioStatus = 5;
  else ioStatus = static_cast<uint16_t>(lastOsError);
  lastOsError = 0;
}

void OsOpenFile(TextStream &stream, char *fileName, uint32_t openRequest) {
  FixSlashes(fileName);
  if ((openRequest & kOpenAlreadyClosed) == 0) {
    if (stream.mode == ModeInput || stream.mode == ModeOutput || stream.mode == ModeInOut) {
      OsCloseHandle(stream.handle);
    } else if (stream.mode != ModeClosed) {
      ioStatus = kIoFileNotAssigned;
      return;
    }
  }
  stream.handle = noHandle;

  DWORD access;
  switch (openRequest & kOpenAccessMask) {
    case kOpenRead:
      stream.mode = ModeInput;
      access = GENERIC_READ;
      break;
    case kOpenWrite:
      stream.mode = ModeOutput;
      access = GENERIC_WRITE;
      break;
    default:
      stream.mode = ModeInOut;
      access = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  DWORD disposition = (openRequest & kOpenCreate) != 0 ? CREATE_ALWAYS : OPEN_EXISTING;

  if (fileName[0] == '\0') {
    stream.handle = stream.mode == ModeInput ? stdInputHandle : stdOutputHandle;
    return;
  }

  SECURITY_ATTRIBUTES security = {};
  security.nLength = 12;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = TRUE;
  stream.handle = CreateFileA(fileName, access, 0, &security, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream.handle != nullptr && stream.handle != INVALID_HANDLE_VALUE && (openRequest & kOpenAppend) != 0) {
    OsSeekEnd(stream.handle);
    stream.mode = ModeOutput;
  }
  if (stream.handle == nullptr || stream.handle == INVALID_HANDLE_VALUE) {
    lastOsError = GetLastError();
    MapOsError();
  }
}

int32_t OsRead(OsHandle handle, void *destination, int32_t count) {
  DWORD done = 0;
  if (ReadFile(handle, destination, static_cast<DWORD>(count), &done, nullptr) == 0) {
    lastOsError = GetLastError();
    MapOsError();
  }
  return static_cast<int32_t>(done);
}

int32_t OsWrite(OsHandle handle, const void *source, int32_t count) {
  DWORD done = 0;
  if (WriteFile(handle, source, static_cast<DWORD>(count), &done, nullptr) == 0) {
    lastOsError = GetLastError();
    MapOsError();
  }
  return static_cast<int32_t>(done);
}

void OsCloseHandle(OsHandle handle) {
  // A console handle is never closed.
  if (IsCharDevice(handle)) return;
  CloseHandle(handle);
}

void OsSeekEnd(OsHandle handle) {
  if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
    lastOsError = GetLastError();
    MapOsError();
  }
}

bool IsCharDevice(OsHandle handle) { return GetFileType(handle) == FILE_TYPE_CHAR; }
