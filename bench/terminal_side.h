// The terminal side of a benchmark's run in a pseudo-terminal.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <string>

// The terminal side of a run: reads what the program writes and answers
// the queries it may ask.
struct TerminalSide {
  int master = -1;
  std::size_t total = 0;
  std::string tail;  // to find a query split over two reads
  // Typed in the same write as the first answer: keys that reach the
  // program together with the answers to its start-up questions.
  std::string withAnswers;

  // False once the program has closed the terminal (EIO) or nothing is
  // there to read.
  bool Read() {
    char buf[65536];
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) return false;
    total += static_cast<std::size_t>(n);
    tail.append(buf, static_cast<std::size_t>(n));
    // Each question is answered once: what follows it is looked at anew.
    for (std::size_t at; (at = tail.find("\x1b[6n")) != std::string::npos; tail.erase(0, at + 4))
      if (!Answer("\x1b[1;1R")) return false;
    for (std::size_t at; (at = tail.find("\x1b[c")) != std::string::npos; tail.erase(0, at + 3))
      if (!Answer("\x1b[?1;2c")) return false;
    if (tail.find("\x1b[") != std::string::npos) tail.erase(0, tail.size() > 8 ? tail.size() - 8 : 0);
    else tail.clear();
    return true;
  }

  bool Answer(const std::string &answer) {
    const std::string bytes = withAnswers + answer;
    withAnswers.clear();
    return write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
};
