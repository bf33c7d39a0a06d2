// kernel32's process information calls over POSIX, and the end of the process.
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/machine.h"
#include "platform/posix/posix_internal.h"

// The ELF header of the executable, placed by the linker at the start of the
// image: its address is the image's base, which Windows calls the module
// handle of the program.
// The name is the linker's, reserved to it.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" const char __ehdr_start[];

namespace {

constexpr std::size_t kCommandLineSize = 32768;

bool SameModuleName(const char *name, const char *path) {
  if (std::strcmp(name, path) == 0) return true;
  const char *slash = std::strrchr(path, '/');
  return slash != nullptr && std::strcmp(name, slash + 1) == 0;
}

int FirstObjectBias(struct dl_phdr_info *info, std::size_t, void *data) {
  *static_cast<uintptr_t *>(data) = info->dlpi_addr;
  return 1;  // the first object reported is the executable itself
}

// Appends `arg` as one argument of a Windows command line: quoted when it
// holds blanks or quotes or is empty, with the quotes inside escaped.
void AppendArgument(char *line, std::size_t &n, const char *arg) {
  auto put = [&](char ch) {
    if (n + 1 < kCommandLineSize) line[n++] = ch;
  };
  if (n > 0) put(' ');
  bool quote = arg[0] == '\0' || std::strpbrk(arg, " \t\"") != nullptr;
  if (quote) put('"');
  std::size_t backslashes = 0;
  for (const char *p = arg; *p != '\0'; ++p) {
    if (*p == '\\') {
      ++backslashes;
    } else {
      if (*p == '"')
        for (std::size_t i = 0; i <= backslashes; ++i) put('\\');
      backslashes = 0;
    }
    put(*p);
  }
  if (quote) {
    for (std::size_t i = 0; i < backslashes; ++i) put('\\');
    put('"');
  }
}

}  // namespace

void WINAPI GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo) {
  std::memset(lpStartupInfo, 0, sizeof *lpStartupInfo);
  lpStartupInfo->cb = sizeof *lpStartupInfo;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (nSize == 0) return 0;
  if (hModule != nullptr && hModule != GetModuleHandleA(nullptr)) {
    platform_posix::SetLastErrorCode(ERROR_MOD_NOT_FOUND);
    lpFilename[0] = '\0';
    return 0;
  }
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n < 0) {
    platform_posix::SetLastErrorCode(ERROR_GEN_FAILURE);
    lpFilename[0] = '\0';
    return 0;
  }
  // Like Windows: a name that does not fit is cut and still terminated.
  DWORD length = static_cast<DWORD>(n);
  if (length >= nSize) {
    std::memcpy(lpFilename, path, nSize - 1);
    lpFilename[nSize - 1] = '\0';
    platform_posix::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path, length);
  lpFilename[length] = '\0';
  return length;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  HMODULE self = reinterpret_cast<HMODULE>(const_cast<char *>(__ehdr_start));
  if (lpModuleName == nullptr) return self;
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n >= 0) {
    path[n] = '\0';
    if (SameModuleName(lpModuleName, path)) return self;
  }
  platform_posix::SetLastErrorCode(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// The arguments the process was started with, joined as Windows joins them.
LPSTR WINAPI GetCommandLineA() {
  static char line[kCommandLineSize];
  static bool built = false;
  if (built) return line;
  built = true;
  char raw[kCommandLineSize];
  std::size_t got = 0;
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t n;
    while (got < sizeof raw - 1 && (n = read(fd, raw + got, sizeof raw - 1 - got)) > 0)
      got += static_cast<std::size_t>(n);
    close(fd);
  }
  raw[got] = '\0';
  std::size_t length = 0;
  for (std::size_t at = 0; at < got; at += std::strlen(raw + at) + 1) AppendArgument(line, length, raw + at);
  line[length] = '\0';
  return line;
}

// A system of the NT line, so callers take the paths meant for current
// systems; none of its libraries can be loaded here.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr || lpVersionInformation->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    platform_posix::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  lpVersionInformation->dwMajorVersion = 5;
  lpVersionInformation->dwMinorVersion = 1;
  lpVersionInformation->dwBuildNumber = 2600;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  lpVersionInformation->szCSDVersion[0] = '\0';
  return TRUE;
}

HMODULE WINAPI LoadLibraryA(LPCSTR) {
  platform_posix::SetLastErrorCode(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR) {
  platform_posix::SetLastErrorCode(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE) {
  platform_posix::SetLastErrorCode(ERROR_INVALID_HANDLE);
  return FALSE;
}

void WINAPI ExitProcess(UINT uExitCode) {
  // A POSIX parent sees the low 8 bits of the code.
  std::exit(static_cast<int>(uExitCode));
}

uintptr_t ImageAddressBias() {
  static uintptr_t bias = [] {
    uintptr_t value = 0;
    dl_iterate_phdr(FirstObjectBias, &value);
    return value;
  }();
  return bias;
}
