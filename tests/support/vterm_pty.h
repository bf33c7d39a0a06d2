// Runs a program in a pseudo-terminal drawn by a real terminal emulator
// (libvterm): the test types bytes, waits for what the screen shows, reads
// cells, colours and the cursor, and gets the exit status. The emulator
// answers the program's cursor position and device attribute queries; it can
// also pretend to speak the kitty keyboard protocol.
#pragma once

#include <sys/types.h>
#include <termios.h>

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
    // Answer CSI ? u as a terminal with the kitty keyboard protocol does.
    bool kittyKeyboard = false;
  };

  explicit VtermPty(Options options);
  ~VtermPty();
  VtermPty(const VtermPty &) = delete;
  VtermPty &operator=(const VtermPty &) = delete;

  // Starts argv[0] with the arguments argv[1..] on the terminal.
  bool Start(const std::vector<std::string> &argv);
  void Type(std::string_view bytes);
  void Signal(int sig);
  pid_t Pid() const { return pid_; }
  // Gives the terminal a new size, as a user dragging its window does: the
  // emulator redraws and the program's foreground group gets SIGWINCH.
  void Resize(int rows, int columns);
  int Rows() const { return options_.rows; }
  int Columns() const { return options_.columns; }

  // Polls `condition` until it holds or `timeoutMs` pass.
  static bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);
  bool WaitForText(std::string_view text, int timeoutMs = 10000);
  // Waits for the program to end and for all it wrote to be drawn.
  bool WaitForExit(int timeoutMs = 20000);
  int Status() const { return status_; }  // as from waitpid

  std::string RowText(int row);  // UTF-8
  std::string ScreenText();      // rows joined with '\n'
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

 private:
  void ReadLoop();
  void Feed(const char *bytes, std::size_t length);
  static void Answer(const char *bytes, std::size_t length, void *self);

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
};

}  // namespace testsupport
