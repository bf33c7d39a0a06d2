// kernel32's process calls over POSIX.
#pragma once

#include "platform/posix/kernel32.h"
