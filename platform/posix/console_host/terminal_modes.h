// The terminal's modes as the console sets them and puts them back: its
// termios (key mode, or as the process found it), the colours, and the
// keyboard protocol with what the terminal sent under it. Everything here
// is safe in a signal handler: the handlers of terminal_signals.cpp put the
// terminal back with it.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstddef>

namespace platform_posix::console_host {

struct TerminalModes {
  int fd = -1;
  termios saved{}, keyMode{};
  bool kitty = false;                     // the terminal speaks the keyboard protocol
  bool answersAttributes = false;         // ... and answers a device-attributes question
  std::atomic<bool> inKeyMode{false};     // the terminal is in key mode
  std::atomic<bool> pushed{false};        // the protocol is on at the terminal
  std::atomic<bool> wantProtocol{false};  // ... and belongs on after a stop
};
extern TerminalModes gModes;

// Whether no other process group is the terminal's foreground group: only
// then does the console write to the terminal, set its mode or ask it
// anything, so that a job in the background or one whose shell has gone
// never draws over, or types into, what the user now works with.
bool TerminalIsOurs();

// Sends bytes to the terminal as they are; false where they did not all go.
bool Send(const char *bytes, std::size_t length);
void SendColoursReset();
// Its bytes, to go with others.
const char *ColoursReset();
// A mode for the terminal, also where a signal interrupts the call.
bool SetMode(const termios &mode);
// The keyboard protocol on, with the terminal's input raising SIGIO.
void Push();
// The protocol off. What the terminal sent under it, up to its answer to a
// device-attributes question asked after the pop, is read; up to
// `capacity` of those bytes go to `keep`. Returns how many.
std::size_t Pop(unsigned char *keep, std::size_t capacity);
// Reads what the terminal sends up to its next answer to a device-attributes
// question, one byte at a time, so that nothing behind the answer is taken;
// up to `capacity` of those bytes go to `keep`, and the count is returned.
// Waits a second at most, nor past `notAfterMs` (NowMs, 0 for no such
// time), and a process that an ending signal ends no longer than half a
// second past its write limit (terminal_io.h).
std::size_t ReadToAnswer(unsigned char *keep, std::size_t capacity, long long notAfterMs);

}  // namespace platform_posix::console_host
