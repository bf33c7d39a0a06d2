// The entry of a windowed program. Its error streams are message boxes; a
// console program never enters here, so it links neither the message-box
// streams nor the system's message box.
#include "platform/machine.h"
#include "runtime/core_init.h"
#include "runtime/message_box_stream.h"
#include "runtime/startup.h"

extern "C" void WindowedEntry() {
  isConsoleApp = false;
  bindMessageStream = BindMessageStream;
  StartProgram();
}
