// kernel32's console calls over POSIX.
#pragma once

#include "platform/posix/kernel32.h"
