// The in-memory console's host, for the call dispatcher.
#pragma once

#include "platform/posix/console/host.h"
#include "platform/posix/console_host.h"

namespace platform_posix::console {

struct MemoryAccess {
  static ConsoleHost &Host(MemoryConsole &console);
};

}  // namespace platform_posix::console
