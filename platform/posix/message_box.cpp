#include <cstring>
#include <initializer_list>

#include "platform/posix/user32.h"

int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return IDOK;
  DWORD written;
  for (const char *part : {lpCaption != nullptr ? lpCaption : "", ": ", lpText != nullptr ? lpText : ""})
    WriteFile(error, part, static_cast<DWORD>(std::strlen(part)), &written, nullptr);
  return IDOK;
}
