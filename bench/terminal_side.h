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

  // False once the program has closed the terminal (EIO) or nothing is
  // there to read.
  bool Read() {
    char buf[65536];
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) return false;
    total += static_cast<std::size_t>(n);
    tail.append(buf, static_cast<std::size_t>(n));
    if (tail.find("\x1b[6n") != std::string::npos && write(master, "\x1b[1;1R", 6) < 0) return false;
    if (tail.find("\x1b[c") != std::string::npos && write(master, "\x1b[?1;2c", 7) < 0) return false;
    if (tail.find("\x1b[") != std::string::npos) tail.erase(0, tail.size() > 8 ? tail.size() - 8 : 0);
    else tail.clear();
    return true;
  }
};
