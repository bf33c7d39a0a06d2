// The image's entry on Windows is ConsoleEntry itself: the linker names it
// in the executable's header and reserves the 32 MB main stack (see
// platform/CMakeLists.txt), so the C run time's start-up never runs. Its
// start-up object still wants a main to link against; should anything enter
// through it, the run starts the same way.
#include "platform/machine.h"

int main() { ConsoleEntry(); }
