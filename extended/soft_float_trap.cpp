#include "extended/soft_float_trap.h"

SoftFloatTrapHandler softFloatTrap = nullptr;
