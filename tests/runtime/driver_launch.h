// Starts the run-time driver (runtime_driver.cpp) as the build under test
// runs its programs. The test program's build names the driver, the
// launcher in front of it (Wine, an emulator, or nothing) and the machine
// it runs on.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"

// The builds the fault table tells apart, as bits.
enum Machine : unsigned { kX86_64 = 1, kI686 = 2, kAarch64 = 4, kWindows = 8, kArm = 16, kRiscv64 = 32, kS390x = 64 };

// The machine of this build; 0 for a name the table does not know.
unsigned DriverMachine();

ChildResult Drive(std::vector<std::string> args, OutputKind kind = OutputKind::kPipe);
// Another program of the build, `command[0]`, behind the same launcher.
ChildResult Launch(std::vector<std::string> command, OutputKind kind = OutputKind::kPipe);

// The main routine's return point into the start-up code, from a run whose
// error is raised in the main routine.
const std::string &MainReturnPoint();
