// Runs a program in a pseudo-terminal drawn by a real terminal emulator
// (libvterm): the test types bytes, waits for what the screen shows, reads
// cells, colours and the cursor, and gets the exit status. The emulator
// answers the program's cursor position and device attribute queries, if
// asked after a delay, as over a slow link; it can also speak the kitty
// keyboard protocol: it keeps the stack of flags the program pushes and pops
// and sends keys as such a terminal does under the flags in force. It can
// also be an 8-bit terminal showing Latin-1.
//
// The line end that the console sends at the end (colours reset, CR LF),
// so that the shell starts a line of its own, is held back until more is
// drawn: the screen, the cursor and the scrollback read after the end are
// where the program left them (as a console's own are), and what a shell
// prints next still starts where that line end took the cursor.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct VTerm;

namespace testsupport {

class VtermPty {
 public:
  struct Options {
    int rows = 25;
    int columns = 80;
    // Speak the kitty keyboard protocol.
    bool kittyKeyboard = false;
    // Every answer to the program's questions arrives this much later.
    int replyDelayMs = 0;
    // "NAME=value" entries added to the program's environment, or replacing
    // the variable of that name there.
    std::vector<std::string> environment = {};
    // False: an 8-bit terminal, where bytes 0x80-0x9F are C1 control codes
    // and bytes 0xA0-0xFF show as Latin-1.
    bool utf8 = true;
    // The terminal reads nothing the program writes until PauseReading(false),
    // and its queue is full before the program starts: the program's first
    // write waits, as on a frozen emulator or behind a suspended remote client.
    bool readsNothing = false;
    // Grown taller, it pulls rows back from its scrollback onto the screen,
    // above what it showed, as xterm, alacritty and VTE do; else it adds
    // blank rows below, as kitty does. Shrunk, it first drops blank rows
    // below the cursor, then pushes rows from the top into its scrollback.
    bool pullsBackOnGrow = false;
    // Erasing the whole screen (ED 2) moves what it showed into the
    // scrollback, as alacritty, VTE and tmux do.
    bool keepsClearedScreen = false;
  };

  explicit VtermPty(Options options);
  ~VtermPty();
  VtermPty(const VtermPty &) = delete;
  VtermPty &operator=(const VtermPty &) = delete;

  // Starts argv[0] with the arguments argv[1..] on the terminal.
  bool Start(const std::vector<std::string> &argv);
  void Type(std::string_view bytes);
  // Ctrl with `key` (a letter or one of [ \ ]), as the terminal sends it
  // under the keyboard protocol's flags now: the control character, or
  // the protocol's press and release.
  void TypeCtrl(char key);
  void Signal(int sig);
  // Output that does not come from the program, as a shell draws while the
  // program is stopped.
  void DrawOver(std::string_view bytes);
  // Stops reading the program's output, so that its writes block once the
  // terminal's queue is full, and starts again.
  void PauseReading(bool paused);
  // While reading is paused: output not the program's, until the terminal's
  // queue takes no more, so that the program's next write waits.
  void FillQueue();

  pid_t Pid() const { return pid_; }
  // Gives the terminal a new size, as a user dragging its window does: the
  // emulator redraws and the program's foreground group gets SIGWINCH.
  void Resize(int rows, int columns);
  // Closes the terminal, as a closed window or a dropped remote login does:
  // the program's side hangs up. The screen stays readable.
  void HangUp();
  // Bytes typed that no program has read yet: what the next reader of the
  // terminal, the shell, would get.
  int InputQueued() const;
  // Those bytes, taken: for a test that is done with the program and its
  // shell.
  std::string TakeInput();
  int Rows() const { return options_.rows; }
  int Columns() const { return options_.columns; }

  // Polls `condition` until it holds or `timeoutMs` pass.
  static bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);
  bool WaitForText(std::string_view text, int timeoutMs = 10000);
  // Waits for the program to end and for all it wrote to be drawn.
  bool WaitForExit(int timeoutMs = 20000);
  int Status() const { return status_; }  // as from waitpid

  std::string RowText(int row);  // UTF-8
  // The rows that scrolled off the top into the terminal's scrollback,
  // oldest first, trailing blanks removed.
  std::vector<std::string> Scrollback();
  std::string ScreenText();  // rows joined with '\n'
  char32_t CodePointAt(int row, int column);
  struct Colors {
    int foreground, background;  // -1 for the default colour, else 0..15
    bool operator==(const Colors &) const = default;
  };
  Colors ColorsAt(int row, int column);
  void Cursor(int *row, int *column);
  // Every byte the program wrote to the terminal.
  std::string Output();
  // The terminal mode now, and as it was before the program started.
  termios Mode() const;
  const termios &InitialMode() const { return initialMode_; }
  // The kitty keyboard protocol: the flags in force, and how often the
  // program pushed and popped them.
  int KittyFlags();
  int KittyPushes();
  int KittyPops();
  // Answers held back by replyDelayMs, not yet sent.
  std::size_t AnswersPending();

 private:
  void ReadLoop();
  void Feed(const char *bytes, std::size_t length);
  void KittySequence(char marker, int first, int second);
  int KittyFlagsLocked() const;
  void Show(const char *bytes, std::size_t length);
  static void Answer(const char *bytes, std::size_t length, void *self);
  void WriteToProgram(const char *bytes, std::size_t length);
  void ShowLines(const char *bytes, std::size_t length);
  std::string RowTextLocked(int row);
  friend struct ScrollbackSink;
  int SendDueReplies();  // the milliseconds until the next one is due, or -1

  Options options_;
  VTerm *vt_ = nullptr;
  int master_ = -1, slave_ = -1;
  int wake_[2] = {-1, -1};
  pid_t pid_ = -1;
  int status_ = -1;
  termios initialMode_{};
  std::mutex mutex_;
  std::string output_;
  std::string pendingUtf8_;  // the start of a character still to come
  std::thread reader_;
  bool busy_ = false;
  bool paused_ = false;
  std::vector<int> kittyStack_{0};
  int kittyPushes_ = 0, kittyPops_ = 0;
  struct Reply {
    std::chrono::steady_clock::time_point due;
    std::string bytes;
  };
  std::vector<Reply> delayed_;
  std::vector<std::string> scrollback_;
  std::string heldLineEnd_;
};

// The state letter of process `pid` (R, S, T, Z, ...), 0 when it is gone.
char ProcessState(int pid);
// The one child of process `pid`: the job that a job shell started.
int JobOf(int pid);

}  // namespace testsupport
