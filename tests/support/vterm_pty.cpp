#include "tests/support/vterm_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>
#include <vterm.h>

#include <chrono>
#include <cstring>

namespace testsupport {
namespace {

void AppendUtf8(std::string &s, std::uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int ColorIndex(const VTermColor &c, bool foreground) {
  if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return -1;
  if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
  return -2;
}

}  // namespace

VtermPty::VtermPty(Options options) : options_(options) {
  vt_ = vterm_new(options.rows, options.columns);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, &VtermPty::Answer, this);
  VTermScreen *screen = vterm_obtain_screen(vt_);
  vterm_screen_reset(screen, 1);
}

VtermPty::~VtermPty() {
  if (pid_ > 0 && status_ == -1) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (reader_.joinable()) {
    char c = 'x';
    (void)!write(wake_[1], &c, 1);
    reader_.join();
  }
  for (int fd : {master_, slave_, wake_[0], wake_[1]})
    if (fd >= 0) close(fd);
  vterm_free(vt_);
}

bool VtermPty::Start(const std::vector<std::string> &argv) {
  winsize ws{};
  ws.ws_row = static_cast<unsigned short>(options_.rows);
  ws.ws_col = static_cast<unsigned short>(options_.columns);
  if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) return false;
  if (pipe2(wake_, O_CLOEXEC) != 0) return false;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  tcgetattr(slave_, &initialMode_);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    close(master_);
    if (login_tty(slave_) != 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

void VtermPty::Answer(const char *bytes, std::size_t length, void *self) {
  int fd = static_cast<VtermPty *>(self)->master_;
  while (length > 0) {
    ssize_t n = write(fd, bytes, length);
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

// Feeds the emulator in order, answering each kitty protocol query in its
// place among the other replies.
// Length of an incomplete UTF-8 sequence at the end of `text` (0 if none):
// the emulator takes a sequence split over two writes as two bad ones.
static std::size_t IncompleteUtf8Tail(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? back : 0;
  }
  return 0;
}

void VtermPty::Feed(const char *bytes, std::size_t length) {
  static constexpr char kQuery[] = "\x1b[?u";
  pendingUtf8_.append(bytes, length);
  std::size_t hold = IncompleteUtf8Tail(pendingUtf8_);
  std::string whole = pendingUtf8_.substr(0, pendingUtf8_.size() - hold);
  pendingUtf8_.erase(0, pendingUtf8_.size() - hold);
  std::string_view rest(whole);
  while (options_.kittyKeyboard) {
    std::size_t at = rest.find(kQuery);
    if (at == std::string_view::npos) break;
    vterm_input_write(vt_, rest.data(), at + 4);
    Answer("\x1b[?0u", 5, this);
    rest.remove_prefix(at + 4);
  }
  vterm_input_write(vt_, rest.data(), rest.size());
}

void VtermPty::ReadLoop() {
  char buf[4096];
  for (;;) {
    pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents != 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = true;
    ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      output_.append(buf, static_cast<std::size_t>(n));
      Feed(buf, static_cast<std::size_t>(n));
    }
    busy_ = false;
    if (n <= 0) return;
  }
}

void VtermPty::Type(std::string_view bytes) { Answer(bytes.data(), bytes.size(), this); }

void VtermPty::Signal(int sig) { kill(pid_, sig); }

void VtermPty::Resize(int rows, int columns) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.rows = rows;
  options_.columns = columns;
  vterm_set_size(vt_, rows, columns);
  winsize ws{};
  ws.ws_row = static_cast<unsigned short>(rows);
  ws.ws_col = static_cast<unsigned short>(columns);
  ioctl(master_, TIOCSWINSZ, &ws);
}

bool VtermPty::WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(2000);
  }
  return true;
}

bool VtermPty::WaitForText(std::string_view text, int timeoutMs) {
  return WaitUntil([&] { return ScreenText().find(text) != std::string::npos; }, timeoutMs);
}

bool VtermPty::WaitForExit(int timeoutMs) {
  bool ended = WaitUntil([&] { return waitpid(pid_, &status_, WNOHANG) == pid_; }, timeoutMs);
  if (!ended) return false;
  // What it wrote may still be on its way through the terminal driver: wait
  // until nothing is queued and nothing more has come for a while.
  std::size_t seen = static_cast<std::size_t>(-1);
  auto quietSince = std::chrono::steady_clock::now();
  return WaitUntil([&] {
    int pending = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    if (ioctl(master_, FIONREAD, &pending) != 0 || pending != 0 || busy_ || output_.size() != seen) {
      seen = output_.size();
      quietSince = now;
      return false;
    }
    return now - quietSince >= std::chrono::milliseconds(100);
  }, timeoutMs);
}

std::string VtermPty::RowText(int row) {
  std::string s;
  for (int c = 0; c < options_.columns; ++c) AppendUtf8(s, CodePointAt(row, c));
  return s;
}

std::string VtermPty::ScreenText() {
  std::string s;
  for (int r = 0; r < options_.rows; ++r) {
    if (r > 0) s += '\n';
    s += RowText(r);
  }
  return s;
}

char32_t VtermPty::CodePointAt(int row, int column) {
  std::lock_guard<std::mutex> lock(mutex_);
  VTermScreenCell cell;
  vterm_screen_get_cell(vterm_obtain_screen(vt_), VTermPos{row, column}, &cell);
  return cell.chars[0] == 0 ? U' ' : static_cast<char32_t>(cell.chars[0]);
}

VtermPty::Colors VtermPty::ColorsAt(int row, int column) {
  std::lock_guard<std::mutex> lock(mutex_);
  VTermScreenCell cell;
  vterm_screen_get_cell(vterm_obtain_screen(vt_), VTermPos{row, column}, &cell);
  return {ColorIndex(cell.fg, true), ColorIndex(cell.bg, false)};
}

void VtermPty::Cursor(int *row, int *column) {
  std::lock_guard<std::mutex> lock(mutex_);
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  *row = pos.row;
  *column = pos.col;
}

std::string VtermPty::Output() {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

termios VtermPty::Mode() const {
  termios t{};
  tcgetattr(slave_, &t);
  return t;
}

}  // namespace testsupport
