// A message box for the tests of a windowed program where the system's own
// shows nothing a test can read (Wine without a display): it writes the
// caption, ": " and the text to standard error, as the Linux platform's
// message box does. A build links it in place of the system's.
#include <cstring>
#include <initializer_list>

#include "runtime/message_box_stream.h"

namespace {

int WINAPI RecordMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written;
  for (const char *part : {caption, ": ", text})
    WriteFile(error, part, static_cast<DWORD>(std::strlen(part)), &written, nullptr);
  return IDOK;
}

}  // namespace

MessageBoxProc messageBoxProc = RecordMessageBox;
