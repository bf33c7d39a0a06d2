// The processor's floating hardware as the 80-bit format sees it: whether an
// x87 unit is there (GRADES_HAVE_X87) and, where it is, its control and
// status words. Only platform/ knows the processor; everything else asks here.
#pragma once

#if defined(__i386__) || defined(__x86_64__)
#include "platform/x86/float_unit.h"
#elif defined(__aarch64__)
#include "platform/aarch64/float_unit.h"
#elif defined(__arm__) || defined(__riscv) || defined(__s390x__)
// 32-bit ARM, RISC-V and s390x have no x87 either.
#define GRADES_HAVE_X87 0
#else
#error "no floating-unit description for this processor"
#endif
