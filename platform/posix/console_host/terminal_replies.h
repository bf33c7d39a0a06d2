// The terminal's answers to the questions the console asks when it starts:
// the cursor position report (CSI row ; col R), the kitty keyboard protocol's
// flags (CSI ? flags u) and the primary device attributes (CSI ? ... c),
// which every terminal answers last and so ends the wait.
#pragma once

#include <cstddef>

namespace platform_posix::console_host {

struct StartupReplies {
  bool asked = false;     // the questions went out
  long long askedMs = 0;  // when (NowMs)
  bool gotPosition = false;
  int row = 0, column = 0;  // 1-based, as reported
  bool kittyKeyboard = false;
  bool gotAttributes = false;
};

// Takes the replies out of bytes[0..length) and returns how many bytes are
// left: the keys typed ahead, in order, with an escape sequence that is not
// complete yet kept at the end.
std::size_t ExtractReplies(unsigned char *bytes, std::size_t length, StartupReplies *replies);

// Asks the terminal on `fd` for the cursor position, the keyboard protocol
// and, last, the device attributes, which every terminal answers; false
// where the questions did not all go out.
bool AskQuestions(int fd);
// The answers, until `deadline` (NowMs), or the write limit (terminal_io.h)
// of a process that is ending; the keys typed meanwhile stay in `typed`,
// `*typedLength` of them.
StartupReplies ReadAnswers(int fd, long long deadline, unsigned char *typed, std::size_t capacity,
                           std::size_t *typedLength);

}  // namespace platform_posix::console_host
