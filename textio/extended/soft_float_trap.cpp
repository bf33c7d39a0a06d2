#include "textio/extended/soft_float_trap.h"

SoftFloatTrapHandler softFloatTrap = nullptr;

void ReportSoftFloatTraps(int raised) {
  static constexpr int kinds[] = {kFloatTrapInvalid, kFloatTrapZeroDivide, kFloatTrapOverflow};
  for (const int kind : kinds) {
    if ((raised & kind) != 0 && softFloatTrap != nullptr) softFloatTrap(kind);
  }
}
