// Which native floating hardware this build can use for the 80-bit format.
#pragma once

#include "platform/float_unit.h"

// `long double` is the x87 80-bit format, so its arithmetic is ours.
#if GRADES_HAVE_X87 && defined(__LDBL_MANT_DIG__) && __LDBL_MANT_DIG__ == 64
#define GRADES_HAVE_HARD_EXTENDED 1
#else
#define GRADES_HAVE_HARD_EXTENDED 0
#endif

// The build may ask for the software format; without hardware it must.
#if !defined(GRADES_SOFT_EXTENDED)
#define GRADES_SOFT_EXTENDED 0
#endif
#if !GRADES_HAVE_HARD_EXTENDED
#undef GRADES_SOFT_EXTENDED
#define GRADES_SOFT_EXTENDED 1
#endif
