// The message box the message-box streams show their text in. A file of its
// own, so that a test build can link its own double in its place.
#include "runtime/message_box_stream.h"

MessageBoxProc messageBoxProc = MessageBoxA;
