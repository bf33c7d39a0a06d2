// Unit tests link the run-time layer without a program of their own.
#include "runtime/startup.h"

ModuleTable moduleTable = {0, 0, nullptr};
const MainRoutine mainRoutine = nullptr;
