// The in-memory console's host, for the call dispatcher.
#pragma once

#include "platform/posix/console_host/console_host.h"
#include "platform/posix/console_host/control.h"

namespace platform_posix::console_host {

struct MemoryAccess {
  static ConsoleHost &Host(MemoryConsole &console);
};

}  // namespace platform_posix::console_host
