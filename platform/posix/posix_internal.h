// Shared pieces of the POSIX kernel32 layer.
#pragma once

#include <bitset>
#include <cstddef>

#include "platform/posix/kernel32.h"

namespace platform_posix {

// Handles for file descriptors: (fd + 1) * 4, so that no valid descriptor
// becomes 0 or INVALID_HANDLE_VALUE. Other handle kinds (the console host)
// use values whose low two bits are set.
HANDLE HandleFromFd(int fd);
// -1 when the handle is not a file-descriptor handle.
int FdFromHandle(HANDLE handle);

enum class IoDirection { kOpen, kRead, kWrite };
// The Windows error code for an errno value. `path` (may be null) tells a
// missing file from a missing folder on ENOENT.
DWORD ErrorFromErrno(int err, IoDirection direction, const char *path);

// Turns a DOS-style name into a POSIX path in `out` (size `outSize`).
// Returns false when the result does not fit.
bool MapDosPath(const char *dosName, char *out, std::size_t outSize);

void SetLastErrorCode(DWORD code);

// One flag per descriptor, for what this layer keeps knowing of a
// descriptor until it is closed. Descriptors from 1024 up (and invalid
// ones) are never flagged: those are asked again each time.
class DescriptorFlags {
 public:
  bool operator[](int fd) const { return fd >= 0 && fd < kTracked && bits_[static_cast<std::size_t>(fd)]; }
  void Set(int fd, bool on) {
    if (fd >= 0 && fd < kTracked) bits_[static_cast<std::size_t>(fd)] = on;
  }

 private:
  static constexpr int kTracked = 1024;
  std::bitset<kTracked> bits_;
};

}  // namespace platform_posix
