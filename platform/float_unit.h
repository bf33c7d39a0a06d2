// The processor's floating hardware as the 80-bit format sees it: whether an
// x87 unit is there (GRADES_HAVE_X87) and, where it is, its control and
// status words. Only platform/ knows the processor; everything else asks here.
#pragma once

#if defined(__i386__) || defined(__x86_64__)
#include "platform/x86/float_unit.h"
#elif defined(__aarch64__)
#include "platform/aarch64/float_unit.h"
#else
#error "no floating-unit description for this processor"
#endif
