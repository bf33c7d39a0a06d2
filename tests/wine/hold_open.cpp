// hold_open FILE: opens FILE for reading without sharing it, says "held" on
// standard output, and keeps it open until its standard input ends. Another
// opener of FILE meanwhile is refused with a sharing violation.
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("usage: hold_open FILE\n", stderr);
    return 125;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_open: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  char byte;
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) && got == 1) {
  }
  CloseHandle(file);
  return 0;
}
