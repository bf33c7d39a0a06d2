// How the software extended format reports the floating exceptions that the
// run time keeps unmasked on the hardware (invalid, zero divide, overflow).
#pragma once

#include "textio/extended/extended_bits.h"

// Called with one kFloatTrap* kind for each such exception an operation
// raises, where the hardware would trap. Empty: the operation delivers the
// hardware's masked default result (real indefinite, signed infinity) and
// nothing else happens. A handler that returns gets that result as well.
using SoftFloatTrapHandler = void (*)(int kind);
extern SoftFloatTrapHandler softFloatTrap;

// Calls the handler for every kind set in `raised`, invalid first.
void ReportSoftFloatTraps(int raised);
