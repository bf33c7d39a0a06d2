#include "runtime/core_init.h"

#include "runtime/run_error.h"
#include "runtime/std_streams.h"
#include "textio/file_driver.h"
#include "textio/streams.h"

STARTUPINFOA startupInfo = {};
HMODULE moduleInstance = nullptr;
uint16_t showWindow = 0;
const char *commandLine = nullptr;

void (*bindMessageStream)(TextStream &stream) = nullptr;

HMODULE diskSpaceLibrary = nullptr;
FARPROC diskFreeSpaceFunction = nullptr;

namespace {

constexpr DWORD kModuleNameSize = 255;
static_assert(sizeof(OSVERSIONINFOA) == 148);

}  // namespace

// A console program's streams are on the standard handles; a windowed
// program's error streams are message boxes and it has no standard input and
// output.
void CoreInit() {
  GetStartupInfoA(&startupInfo);
  char modulePath[kModuleNameSize + 1] = {};
  GetModuleFileNameA(nullptr, modulePath, kModuleNameSize);
  moduleInstance = GetModuleHandleA(modulePath);
  showWindow = startupInfo.wShowWindow;
  // The heap needs no set-up: nothing in the run-time layer allocates.
  stdInputHandle = GetStdHandle(STD_INPUT_HANDLE);
  stdOutputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  stdErrorHandle = GetStdHandle(STD_ERROR_HANDLE);
  if (isConsoleApp || bindMessageStream == nullptr) {
    BindStdStream(stdInput, ModeInput, stdInputHandle);
    BindStdStream(stdOutput, ModeOutput, stdOutputHandle);
    BindStdStream(errorOutput, ModeOutput, stdOutputHandle);
    BindStdStream(stdError, ModeOutput, stdErrorHandle);
  } else {
    bindMessageStream(stdError);
    bindMessageStream(errorOutput);
    BindStream(stdOutput, ShortString{});
    BindStream(stdInput, ShortString{});
  }
  // The program takes no arguments; the command line is kept as it is.
  commandLine = GetCommandLineA();
  // Failures while binding are not reported.
  ioStatus = 0;
  lastOsError = 0;
}

void BindStdStream(TextStream &stream, uint32_t mode, OsHandle handle) {
  BindStream(stream, ShortString{});
  stream.handle = handle;
  stream.mode = mode;
  stream.closeProc = FileCloseProc;
  if (mode == ModeInput) {
    stream.transferProc = FileFillBuffer;
  } else if (mode == ModeOutput) {
    stream.transferProc = FileEmptyBuffer;
    stream.flushProc = FileEmptyBuffer;
  } else {
    RaiseRunError(kStdStreamModeError);
  }
}

void InitResourceStrings() {}
void FinalResourceStrings() {}

void InitDiskSpaceLoader() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  const bool hasFunction = version.dwPlatformId == VER_PLATFORM_WIN32_NT ||
                           (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && version.dwBuildNumber >= 1000);
  if (!hasFunction) return;
  diskSpaceLibrary = LoadLibraryA("kernel32");
  if (diskSpaceLibrary != nullptr) diskFreeSpaceFunction = GetProcAddress(diskSpaceLibrary, "GetDiskFreeSpaceExA");
}

void FinalDiskSpaceLoader() {
  if (diskSpaceLibrary != nullptr) FreeLibrary(diskSpaceLibrary);
}
