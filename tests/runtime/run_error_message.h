// Reads a run-time error message out of a program's output, as the tests of
// the Linux and the Windows runs check it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// `text` cut at every CR LF; a last line without one is kept.
std::vector<std::string> SplitLines(const std::string &text);

// Whether `text` from `at` on is exactly 8 upper-case hex digits.
bool IsAddress(const std::string &text, std::size_t at);

// A run-time error message as printed, and the text before it.
struct Message {
  bool found = false;
  std::string before;
  int number = -1;
  std::string location;             // 8 hex digits
  std::vector<std::string> frames;  // the digits of every "  0x" line
  bool wellFormed = false;          // header, "  0x" lines, one empty line, nothing after
};

Message ParseMessage(const std::string &output);

// The source line ("file:line") that `addr2line` names for the address in
// `hexAddress` (8 hex digits) of the program `executable`; "" when the tool
// fails.
std::string SourceLineOf(const std::string &addr2line, const std::string &executable, const std::string &hexAddress);
