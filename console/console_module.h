// The console module's entry in a program's module table: it has no
// finalisation, and its initialisation comes after the standard modules.
#pragma once

#include "console/console_screen.h"
#include "runtime/startup.h"

inline constexpr ModuleEntry kConsoleModule = {InitConsole, nullptr};
