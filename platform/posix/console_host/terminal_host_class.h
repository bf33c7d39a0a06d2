// The terminal host's class, for the files that make it up:
// terminal_host.cpp (its start, and the console's ways in),
// terminal_frames.cpp (what changed goes to the terminal, a frame at a time)
// and terminal_input.cpp (keys, and the waits: for keys, in Sleep, on
// another descriptor).
#pragma once

#include <cstddef>
#include <memory>

#include "platform/posix/console_host/charset.h"
#include "platform/posix/console_host/console_host.h"
#include "platform/posix/console_host/key_decoder.h"
#include "platform/posix/console_host/output_buffer.h"
#include "platform/posix/console_host/renderer.h"
#include "platform/posix/console_host/screen_buffer.h"
#include "platform/posix/console_host/terminal_replies.h"

namespace platform_posix::console_host {

inline constexpr int kEscapeTimeoutMs = 50;  // after which a lone ESC is the Esc key
// Every change is on the terminal within a frame: half a refresh of a 60 Hz
// display, so the terminal never shows a change much later than it could,
// and at most 125 writes a second whatever the program does. A change after
// a quiet spell goes out at once; the later ones of a frame go out together
// when the frame timer ends it, or sooner, when the program lets time pass.
inline constexpr long long kFrameMs = 8;
inline constexpr long long kNsPerMs = 1000000;
// How long the console waits for the terminal's answers to its questions:
// at the start, and where its cursor went on a resize.
inline constexpr int kReplyTimeoutMs = 500;

extern int gTerminalFd;           // the terminal, open for the console
extern TerminalCharset gCharset;  // loaded once, before the host starts

// The output buffer's sink: one write(2) a frame; a hang-up ends the process.
void SendToTerminal(void *, const char *bytes, std::size_t length);

struct TerminalParts {
  TerminalParts(int columns, int rows)
      : screen(columns, rows),
        capacity(static_cast<std::size_t>(columns) * rows * 16 + 4096),
        storage(new char[capacity]),
        out(storage.get(), capacity, SendToTerminal, nullptr),
        renderer(columns, rows, out, gCharset.Glyphs()) {}
  ScreenBuffer screen;
  std::size_t capacity;
  std::unique_ptr<char[]> storage;
  OutputBuffer out;
  Renderer renderer;
};

class TerminalHost final : private TerminalParts, public ConsoleHost {
 public:
  TerminalHost(int columns, int rows) : TerminalParts(columns, rows), ConsoleHost(TerminalParts::screen) {}

  OutputBuffer &Output() { return out; }

  void Begin(const StartupReplies &replies, int terminalColumns, int terminalRows, const unsigned char *typed,
             std::size_t typedLength);

  void Present() override;

  // At the end: what comes next on the terminal starts a line of its own.
  void EndLine() { renderer.EndLine(); }

  // Before the terminal goes back to the shell (a stop, the end): the
  // answers to the start-up questions that have not come yet (a slow link,
  // a terminal that read nothing for a while) are waited for and dropped
  // with what came before them, so that the shell never gets them; up to
  // 1.5 s after the questions, so that a terminal that never answers costs
  // nothing at the end of a run longer than that.
  void AwaitAnswers();

  // What changed since the last frame, into the output buffer.
  void DrawPending();

  // What a signal asks, outside any change: the frame timer ended a frame,
  // or keys came while the keyboard protocol hides the signal keys from the
  // terminal driver.
  void Serve(int sig);

  BOOL InputCount(DWORD *count) override;

  BOOL ReadInput(INPUT_RECORD *records, DWORD length, DWORD *read) override;

  // Lasts to the system timer's first tick after `milliseconds` (see
  // timer_tick.h), unless input comes or the host serves a continue or a
  // resize: then it ends as soon as `milliseconds` have passed, so that a
  // program polling for a key between sleeps answers it at once.
  void Sleep(DWORD milliseconds);

  // A wait for another descriptor: 0 once it is ready, else the errno of a
  // failed poll.
  int WaitOutside(int fd, short events);

 protected:
  void Changed() override;
  // The rows that a scroll takes off the top go to the terminal's
  // scrollback as they are now.
  void BeforeScroll() override;
  void Shifted(const RowShift &shift, const CHAR_INFO &fill) override;
  void Bell() override { renderer.Bell(); }

 private:
  static constexpr std::size_t kQueueSize = 256;
  static constexpr std::size_t kPendingSize = 512;

  // After a stop or a resize the terminal shows something else, so it is
  // drawn again from the buffer.
  void RedrawAfterStopOrResize();
  // How far the terminal moved its rows, with its cursor, when it changed
  // size: it says where its cursor is now. 0 where it does not say.
  int RowsMovedByResize();

  // Reads what the terminal sent and decodes the complete keys in it.
  void Pump();

  void Decode(bool final);

  long long lastFrameMs_ = 0;
  bool framePending_ = false;  // changes not yet sent
  bool timerArmed_ = false;
  bool woken_ = false;            // a continue or a resize was served
  bool reportsPosition_ = false;  // the terminal answered the cursor question at the start
  long long askedMs_ = 0;         // when the start-up questions went out (NowMs)
  KeyDecoderState keys_;
  unsigned char pending_[kPendingSize];
  std::size_t pendingLength_ = 0;
  long long lastByteMs_ = 0;
  INPUT_RECORD queue_[kQueueSize];
  std::size_t head_ = 0, queued_ = 0;
};

}  // namespace platform_posix::console_host
