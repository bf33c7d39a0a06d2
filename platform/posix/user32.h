// user32's message box over POSIX: a process without windows shows its
// caption and text on standard error.
#pragma once

#include "platform/posix/kernel32.h"

struct WindowTag;  // never defined: a window is known only by its handle
using HWND = WindowTag *;

constexpr UINT MB_OK = 0x0;
constexpr int IDOK = 1;

extern "C" {

// Writes the caption, ": " and the text to standard error, nothing when
// the process has no standard error; answers IDOK.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

}  // extern "C"
