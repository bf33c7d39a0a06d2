// The operating-system interface of the run-time layer: the kernel32 calls and
// records it uses, and user32's message box, under their Win32 names and types. On Windows they are the
// real ones; elsewhere our own implementation in platform/posix provides them.
// This is the only header outside platform/ that code may include for them.
#pragma once

#if defined(_WIN32)
#include "platform/windows/win32.h"
#else
#include "platform/posix/kernel32.h"
#include "platform/posix/user32.h"
#endif
