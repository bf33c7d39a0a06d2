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

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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

// The rows the emulator pushes into its scrollback, as it takes the
// program's output (with the lock held).
struct ScrollbackSink {
  static int PushLine(int columns, const VTermScreenCell *cells, void *self) {
    std::string line;
    for (int c = 0; c < columns; ++c) AppendUtf8(line, cells[c].chars[0] == 0 ? U' ' : cells[c].chars[0]);
    line.erase(line.find_last_not_of(' ') + 1);
    static_cast<VtermPty *>(self)->scrollback_.push_back(line);
    return 1;
  }
  // A row back from the scrollback onto a taller screen.
  static int PopLine(int columns, VTermScreenCell *cells, void *self) {
    auto *pty = static_cast<VtermPty *>(self);
    if (pty->scrollback_.empty()) return 0;
    const std::string line = pty->scrollback_.back();
    pty->scrollback_.pop_back();
    VTermColor fg, bg;
    vterm_state_get_default_colors(vterm_obtain_state(pty->vt_), &fg, &bg);
    std::size_t at = 0;
    for (int c = 0; c < columns; ++c) {
      char32_t cp = U' ';
      if (at < line.size()) {
        const auto lead = static_cast<unsigned char>(line[at]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        cp = length == 1 ? lead : lead & (0x7F >> length);
        for (int i = 1; i < length && at + i < line.size(); ++i) cp = cp << 6 | (line[at + i] & 0x3F);
        at += length;
      }
      cells[c] = VTermScreenCell{};
      cells[c].chars[0] = cp;
      cells[c].width = 1;
      cells[c].fg = fg;
      cells[c].bg = bg;
    }
    return 1;
  }
};

VtermPty::VtermPty(Options options) : options_(options) {
  vt_ = vterm_new(options.rows, options.columns);
  vterm_set_utf8(vt_, options.utf8 ? 1 : 0);
  vterm_output_set_callback(vt_, &VtermPty::Answer, this);
  VTermScreen *screen = vterm_obtain_screen(vt_);
  static const VTermScreenCallbacks callbacks = [] {
    VTermScreenCallbacks c{};
    c.sb_pushline = &ScrollbackSink::PushLine;
    return c;
  }();
  static const VTermScreenCallbacks pullingBack = [] {
    VTermScreenCallbacks c = callbacks;
    c.sb_popline = &ScrollbackSink::PopLine;
    return c;
  }();
  vterm_screen_set_callbacks(screen, options.pullsBackOnGrow ? &pullingBack : &callbacks, this);
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
  if (options_.readsNothing) {
    paused_ = true;
    FillQueue();
  }
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> environment;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string &extra : options_.environment) replaced = replaced || extra.rfind(name, 0) == 0;
    if (!replaced) environment.emplace_back(entry);
  }
  for (const std::string &extra : options_.environment) environment.push_back(extra);
  std::vector<char *> envp;
  for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    close(master_);
    if (login_tty(slave_) != 0) _exit(126);
    // As a terminal starts its shell: every signal at its default and none
    // blocked, however the tests were started (a script's background job
    // ignores Ctrl+C). A case that wants one ignored says so in a launcher.
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

// The emulator's answers, and the protocol's, while the lock is held.
void VtermPty::Answer(const char *bytes, std::size_t length, void *self) {
  auto *pty = static_cast<VtermPty *>(self);
  if (pty->options_.replyDelayMs > 0) {
    pty->delayed_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(pty->options_.replyDelayMs),
                             std::string(bytes, length)});
    return;
  }
  pty->WriteToProgram(bytes, length);
}

int VtermPty::SendDueReplies() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto now = std::chrono::steady_clock::now();
  while (!delayed_.empty() && delayed_.front().due <= now) {
    WriteToProgram(delayed_.front().bytes.data(), delayed_.front().bytes.size());
    delayed_.erase(delayed_.begin());
  }
  if (delayed_.empty()) return -1;
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(delayed_.front().due - now).count()) +
         1;
}

void VtermPty::WriteToProgram(const char *bytes, std::size_t length) {
  int fd = master_;
  while (length > 0) {
    ssize_t n = write(fd, bytes, length);
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

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

// Length of a control sequence begun but not ended at the end of `text`.
static std::size_t IncompleteCsiTail(std::string_view text) {
  std::size_t esc = text.rfind('\x1b');
  if (esc == std::string_view::npos || text.size() - esc > 32) return 0;
  if (esc + 1 == text.size()) return 1;
  if (text[esc + 1] != '[') return 0;
  for (std::size_t i = esc + 2; i < text.size(); ++i)
    if (text[i] >= 0x40 && text[i] <= 0x7E) return 0;
  return text.size() - esc;
}

// Length of the console's line end at the end, begun but not ended at the
// end of `text` (its CR LF may come in two reads): held with the rest of it.
static std::size_t IncompleteLineEndTail(std::string_view text) {
  for (std::string_view begun : {"\x1b[m\r\r", "\x1b[m\r"})
    if (text.ends_with(begun)) return begun.size();
  return 0;
}

// One of the protocol's sequences: CSI ? u (the query), CSI > flags u (push),
// CSI < n u (pop n), CSI = flags ; how u (set).
void VtermPty::KittySequence(char marker, int first, int second) {
  // The bottom entry stands for no flags: a pop that empties the stack
  // resets them.
  switch (marker) {
    case '?': {
      const std::string reply = "\x1b[?" + std::to_string(KittyFlagsLocked()) + "u";
      Answer(reply.data(), reply.size(), this);
      break;
    }
    case '>':
      ++kittyPushes_;
      kittyStack_.push_back(first < 0 ? 0 : first);
      break;
    case '<':
      for (int n = first < 1 ? 1 : first; n > 0; --n) {
        ++kittyPops_;
        if (kittyStack_.size() > 1) kittyStack_.pop_back();
      }
      break;
    case '=': {
      int &top = kittyStack_.back();
      top = second == 2 ? top | first : second == 3 ? top & ~first : first;
      break;
    }
    default: break;
  }
}

// Feeds the emulator in order, taking the keyboard protocol's sequences in
// their place among the other replies.
void VtermPty::Feed(const char *bytes, std::size_t length) {
  pendingUtf8_.append(bytes, length);
  std::size_t hold = std::max({options_.utf8 ? IncompleteUtf8Tail(pendingUtf8_) : 0, IncompleteCsiTail(pendingUtf8_),
                               IncompleteLineEndTail(pendingUtf8_)});
  std::string whole = pendingUtf8_.substr(0, pendingUtf8_.size() - hold);
  pendingUtf8_.erase(0, pendingUtf8_.size() - hold);
  std::string_view rest(whole);
  for (std::size_t at = 0; options_.kittyKeyboard && (at = rest.find("\x1b[", at)) != std::string_view::npos;) {
    std::size_t i = at + 2;
    const char marker = i < rest.size() ? rest[i] : 0;
    if (marker != '?' && marker != '>' && marker != '<' && marker != '=') {
      at = i;
      continue;
    }
    int values[2] = {-1, -1}, index = 0;
    for (++i; i < rest.size() && ((rest[i] >= '0' && rest[i] <= '9') || rest[i] == ';'); ++i) {
      if (rest[i] == ';') index = 1;
      else values[index] = (values[index] < 0 ? 0 : values[index]) * 10 + (rest[i] - '0');
    }
    if (i >= rest.size() || rest[i] != 'u') {
      at = i;
      continue;
    }
    Show(rest.data(), i + 1);
    KittySequence(marker, values[0], values[1]);
    rest.remove_prefix(i + 1);
    at = 0;
  }
  Show(rest.data(), rest.size());
}

// The console's line end at the end (colours reset, CR LF), with nothing
// behind it but sequences that draw nothing (colours, the keyboard
// protocol, a question), is held back until more is drawn. Where the
// terminal keeps a cleared screen, its rows go into the scrollback first.
void VtermPty::Show(const char *bytes, std::size_t length) {
  std::string_view rest(bytes, length);
  std::size_t tail = rest.size();  // where the sequences that draw nothing start
  for (std::size_t esc; (esc = rest.substr(0, tail).rfind("\x1b[")) != std::string_view::npos; tail = esc) {
    const std::string_view sequence = rest.substr(esc + 2, tail - esc - 2);
    if (sequence.empty() || std::string_view("mcu").find(sequence.back()) == std::string_view::npos ||
        sequence.substr(0, sequence.size() - 1).find_first_not_of("0123456789;<>?") != std::string_view::npos)
      break;
  }
  if (!heldLineEnd_.empty() && tail > 0) {
    ShowLines(heldLineEnd_.data(), heldLineEnd_.size());
    heldLineEnd_.clear();
  }
  // The terminal driver's ONLCR makes its CR LF CR CR LF.
  std::size_t lineEnd = tail;
  for (std::string_view end : {"\x1b[m\r\n", "\x1b[m\r\r\n"})
    if (rest.substr(0, tail).ends_with(end)) lineEnd = tail - end.size() + 3;
  for (std::size_t at; options_.keepsClearedScreen && (at = rest.substr(0, lineEnd).find("\x1b[2J")) != rest.npos;) {
    ShowLines(rest.data(), at);
    int last = options_.rows - 1;
    while (last >= 0 && RowTextLocked(last).find_first_not_of(' ') == std::string::npos) --last;
    for (int r = 0; r <= last; ++r) {
      std::string line = RowTextLocked(r);
      line.erase(line.find_last_not_of(' ') + 1);
      scrollback_.push_back(line);
    }
    ShowLines(rest.data() + at, 4);
    rest.remove_prefix(at + 4);
    lineEnd -= at + 4;
    tail -= at + 4;
  }
  ShowLines(rest.data(), lineEnd);
  if (lineEnd < tail) heldLineEnd_.assign(rest.substr(lineEnd, tail - lineEnd));
  ShowLines(rest.data() + tail, rest.size() - tail);
}

// libvterm's 8-bit mode has no Latin-1 (it drops the high bit of 0xA0-0xFF),
// so those bytes go in as UTF-8, one at a time; C1 codes still act.
void VtermPty::ShowLines(const char *bytes, std::size_t length) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < length && !options_.utf8; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0xA0) continue;
    vterm_input_write(vt_, bytes + from, i - from);
    const char latin1[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    vterm_set_utf8(vt_, 1);
    vterm_input_write(vt_, latin1, 2);
    vterm_set_utf8(vt_, 0);
    from = i + 1;
  }
  vterm_input_write(vt_, bytes + from, length - from);
}

void VtermPty::ReadLoop() {
  char buf[4096];
  for (;;) {
    const int nextReply = SendDueReplies();
    bool paused;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paused = paused_;
    }
    pollfd p[2] = {{paused ? -1 : master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, nextReply) <= 0) continue;
    if (p[1].revents != 0) {
      char c = 0;
      if (read(wake_[0], &c, 1) != 1 || c == 'x') return;
      continue;
    }
    if (p[0].revents == 0) continue;
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

void VtermPty::Type(std::string_view bytes) { WriteToProgram(bytes.data(), bytes.size()); }

// Encoded and sent under the lock, as a terminal does both in one step:
// a key sent after the emulator has answered what followed a pop would
// come under the protocol after its own answer.
void VtermPty::TypeCtrl(char key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int flags = KittyFlagsLocked();
  std::string bytes(1, static_cast<char>(key & 0x1F));
  if ((flags & 1) != 0) {
    const std::string code = "\x1b[" + std::to_string(static_cast<int>(key)) + ";5";
    bytes = code + "u" + ((flags & 2) != 0 ? code + ":3u" : "");
  }
  WriteToProgram(bytes.data(), bytes.size());
}

void VtermPty::Signal(int sig) { kill(pid_, sig); }

void VtermPty::DrawOver(std::string_view bytes) { (void)!write(slave_, bytes.data(), bytes.size()); }

void VtermPty::PauseReading(bool paused) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = paused;
  }
  char c = 'w';
  (void)!write(wake_[1], &c, 1);
}

// Output not the program's, until the queue takes no more.
void VtermPty::FillQueue() {
  // A descriptor of its own: the program's share the slave's flags.
  const int fd = open(ptsname(master_), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  const std::string fill(4096, '.');
  // Full only when it stays full: the kernel moves what was written on to
  // the reader's side a little later, which makes room again.
  for (int refused = 0; refused < 3;) {
    if (write(fd, fill.data(), fill.size()) > 0) {
      refused = 0;
    } else {
      ++refused;
      usleep(20000);
    }
  }
  close(fd);
}

int VtermPty::KittyFlagsLocked() const { return kittyStack_.back(); }

int VtermPty::KittyFlags() {
  std::lock_guard<std::mutex> lock(mutex_);
  return KittyFlagsLocked();
}

int VtermPty::KittyPushes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return kittyPushes_;
}

std::size_t VtermPty::AnswersPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  return delayed_.size();
}

int VtermPty::KittyPops() {
  std::lock_guard<std::mutex> lock(mutex_);
  return kittyPops_;
}

void VtermPty::HangUp() {
  if (reader_.joinable()) {
    char c = 'x';
    (void)!write(wake_[1], &c, 1);
    reader_.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  close(master_);
  master_ = -1;
}

int VtermPty::InputQueued() const {
  int queued = 0;
  return ioctl(slave_, FIONREAD, &queued) == 0 ? queued : -1;
}

std::string VtermPty::TakeInput() {
  termios raw = initialMode_;
  cfmakeraw(&raw);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  tcsetattr(slave_, TCSANOW, &raw);
  std::string taken;
  char buf[256];
  for (ssize_t n; (n = read(slave_, buf, sizeof buf)) > 0;) taken.append(buf, static_cast<std::size_t>(n));
  return taken;
}

std::vector<std::string> VtermPty::Scrollback() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scrollback_;
}

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
  return WaitUntil(
      [&] {
        int pending = 0;
        std::lock_guard<std::mutex> lock(mutex_);
        auto now = std::chrono::steady_clock::now();
        if (master_ < 0) return true;  // hung up: nothing more comes
        if (ioctl(master_, FIONREAD, &pending) != 0 || pending != 0 || busy_ || output_.size() != seen) {
          seen = output_.size();
          quietSince = now;
          return false;
        }
        return now - quietSince >= std::chrono::milliseconds(100);
      },
      timeoutMs);
}

std::string VtermPty::RowText(int row) {
  std::lock_guard<std::mutex> lock(mutex_);
  return RowTextLocked(row);
}

std::string VtermPty::RowTextLocked(int row) {
  std::string s;
  VTermScreenCell cell;
  for (int c = 0; c < options_.columns; ++c) {
    vterm_screen_get_cell(vterm_obtain_screen(vt_), VTermPos{row, c}, &cell);
    AppendUtf8(s, cell.chars[0] == 0 ? U' ' : cell.chars[0]);
  }
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

char ProcessState(int pid) {
  // A process that goes away while its file is read fails the read (ESRCH),
  // which a stream would throw for.
  const int fd = open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  const ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  const std::string all(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  const std::size_t close = all.rfind(')');
  return close != std::string::npos && close + 2 < all.size() ? all[close + 2] : 0;
}

int JobOf(int pid) {
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  int job = -1;
  children >> job;
  return job;
}

}  // namespace testsupport
