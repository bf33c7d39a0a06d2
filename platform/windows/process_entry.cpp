// The image's entry on Windows: the C run time starts first, then the run-time
// frame's entry point. The linker reserves the 32 MB main stack.
#include "platform/machine.h"

int main() {
  ConsoleEntry();
}
