// The terminal host on a pseudo-terminal drawn by a terminal emulator: it
// shows what the in-memory console holds for the same calls, decodes what
// terminals send, and gives the terminal back as it found it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/console_host/charset.h"
#include "platform/posix/console_host/control.h"
#include "tests/platform/posix/cell_expect.h"
#include "tests/platform/posix/console_scripts.h"
#include "tests/support/vterm_pty.h"

namespace {

using testsupport::VtermPty;

std::string TempLog(const std::string &name) {
  return (std::filesystem::temp_directory_path() / ("console_host_" + std::to_string(getpid()) + "_" + name)).string();
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::ifstream f(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

// The terminal mode the console host must leave behind: the one it found.
void ExpectModeRestored(VtermPty &pty, const std::string &what) {
  termios now = pty.Mode(), before = pty.InitialMode();
  EXPECT_EQ(now.c_lflag, before.c_lflag) << what;
  EXPECT_EQ(now.c_iflag, before.c_iflag) << what;
  EXPECT_EQ(now.c_oflag, before.c_oflag) << what;
  EXPECT_EQ(now.c_cc[VMIN], before.c_cc[VMIN]) << what;
}

TEST(TerminalHostTest, ShowsWhatTheInMemoryConsoleHolds) {
  struct Size {
    int columns, rows;
  };
  for (Size size : {Size{40, 12}, Size{80, 25}}) {
    for (const std::string &name : consoletest::ScriptNames()) {
      const std::string what = name + " on " + std::to_string(size.columns) + "x" + std::to_string(size.rows);
      platform_posix::MemoryConsole memory(size.columns, size.rows);
      platform_posix::InstallMemoryConsole(memory);
      ASSERT_TRUE(consoletest::RunScript(name, GetStdHandle(STD_OUTPUT_HANDLE), size.columns, size.rows));
      platform_posix::RemoveMemoryConsole();

      VtermPty pty({size.rows, size.columns, false});
      ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "script", name}));
      ASSERT_TRUE(pty.WaitForExit()) << what;
      ASSERT_TRUE(WIFEXITED(pty.Status()) && WEXITSTATUS(pty.Status()) == 0) << what;
      int mismatches = 0;
      for (int y = 0; y < size.rows; ++y) {
        for (int x = 0; x < size.columns; ++x) {
          char32_t want = consoletest::ExpectedGlyph(memory.CharAt(x, y));
          auto [fg, bg] = consoletest::ExpectedColors(memory.AttributeAt(x, y));
          if (pty.CodePointAt(y, x) != want || !(pty.ColorsAt(y, x) == VtermPty::Colors{fg, bg})) {
            if (++mismatches <= 5)
              ADD_FAILURE() << what << ": cell " << x << "," << y << " shows U+" << std::hex
                            << static_cast<unsigned>(pty.CodePointAt(y, x)) << " colours " << std::dec
                            << pty.ColorsAt(y, x).foreground << "/" << pty.ColorsAt(y, x).background << ", wanted U+"
                            << std::hex << static_cast<unsigned>(want) << std::dec << " " << fg << "/" << bg;
          }
        }
      }
      int row, column;
      pty.Cursor(&row, &column);
      EXPECT_EQ(column, memory.Cursor().X) << what;
      EXPECT_EQ(row, memory.Cursor().Y) << what;
      ExpectModeRestored(pty, what);
    }
  }
}

TEST(TerminalHostTest, StartsAtTheTerminalsCursorAndKeepsWhatWasThere) {
  VtermPty pty({12, 40, false});
  std::string log = TempLog("info");
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "info", log}));
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_EQ(ReadLines(log), std::vector<std::string>{"size 40 12 cursor 2 1 attr 07"});
  // One row scrolled off: "abc" with it; the rest moved up, not erased.
  EXPECT_EQ(pty.RowText(0).substr(0, 5), "deXY ");
  EXPECT_EQ(pty.RowText(11).substr(0, 4), "end ");
  std::remove(log.c_str());
}

struct KeyCase {
  const char *name;
  std::string typed;
  std::vector<std::string> records;  // "D|U vk scan char state", as the child logs them
};

// Types each case and waits for its records before the next one, so that
// every case is a burst of its own.
void CheckKeys(bool kitty, const std::vector<KeyCase> &cases, const std::vector<std::string> &environment = {}) {
  VtermPty::Options options{10, 40, kitty};
  options.environment = environment;
  VtermPty pty(options);
  std::string log = TempLog(kitty ? "kitty" : "keys");
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "keys", log}));
  ASSERT_TRUE(pty.WaitForText("ready"));
  std::size_t expected = 0;
  for (const KeyCase &c : cases) {
    std::size_t before = expected;
    expected += c.records.size();
    pty.Type(c.typed);
    ASSERT_TRUE(VtermPty::WaitUntil([&] { return ReadLines(log).size() >= expected; })) << c.name;
    std::vector<std::string> lines = ReadLines(log);
    std::vector<std::string> got(lines.begin() + static_cast<long>(before),
                                 lines.begin() + static_cast<long>(expected));
    EXPECT_EQ(got, c.records) << c.name;
  }
  pty.Type(kitty ? "\x1b[100;5u" : "\x04");
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_TRUE(WIFEXITED(pty.Status()) && WEXITSTATUS(pty.Status()) == 0);
  EXPECT_EQ(ReadLines(log).size(), expected);
  ExpectModeRestored(pty, kitty ? "kitty" : "legacy");
  std::string out = pty.Output();
  if (kitty) {
    std::size_t push = out.find("\x1b[>31u"), pop = out.rfind("\x1b[<u");
    EXPECT_NE(push, std::string::npos);
    EXPECT_NE(pop, std::string::npos);
    EXPECT_LT(push, pop);
  } else {
    EXPECT_EQ(out.find("\x1b[>"), std::string::npos);
  }
  std::remove(log.c_str());
}

TEST(TerminalHostTest, DecodesWhatXtermSends) {
  CheckKeys(false, {
                       {"a", "a", {"D 41 1E 61 0000", "U 41 1E 61 0000"}},
                       {"enter", "\r", {"D 0D 1C 0D 0000", "U 0D 1C 0D 0000"}},
                       {"ctrl+c is a signal, ctrl+b a key", "\x02", {"D 42 30 02 0008", "U 42 30 02 0008"}},
                       {"ctrl+s reaches the program", "\x13", {"D 53 1F 13 0008", "U 53 1F 13 0008"}},
                       {"up", "\x1b[A", {"D 26 48 00 0100", "U 26 48 00 0100"}},
                       {"ctrl+right", "\x1b[1;5C", {"D 27 4D 00 0108", "U 27 4D 00 0108"}},
                       {"shift+f5", "\x1b[15;2~", {"D 74 3F 00 0010", "U 74 3F 00 0010"}},
                       {"f1", "\x1bOP", {"D 70 3B 00 0000", "U 70 3B 00 0000"}},
                       {"keypad enter", "\x1bOM", {"D 0D 1C 0D 0100", "U 0D 1C 0D 0100"}},
                       {"alt+q", "\x1bq", {"D 51 10 71 0002", "U 51 10 71 0002"}},
                       {"lone escape", "\x1b", {"D 1B 01 1B 0000", "U 1B 01 1B 0000"}},
                       {"u umlaut", "\xc3\xbc", {"D 00 00 81 0000", "U 00 00 81 0000"}},
                       {"a lone e9 once the escape timeout passes", "\xe9", {"D 00 00 E9 0000", "U 00 00 E9 0000"}},
                   });
}

TEST(TerminalHostTest, DecodesTheKittyProtocolOnceTheTerminalSpeaksIt) {
  CheckKeys(true, {
                      {"press and release", "\x1b[97u\x1b[97;1:3u", {"D 41 1E 61 0000", "U 41 1E 61 0000"}},
                      {"alt and keypad 6 5",
                       "\x1b[57443;3u\x1b[57405;3u\x1b[57405;3:3u\x1b[57404;3u\x1b[57404;3:3u\x1b[57443;1:3u",
                       {"D 12 38 00 0002", "D 66 4D 36 0002", "U 66 4D 36 0002", "D 65 4C 35 0002", "U 65 4C 35 0002",
                        "U 12 38 00 0000"}},
                      {"keypad slash", "\x1b[57410u", {"D 6F 35 2F 0100"}},
                      {"ctrl+tab has no character", "\x1b[9;5u", {"D 09 0F 00 0008"}},
                      {"escape needs no timeout", "\x1b[27u\x1b[27;1:3u", {"D 1B 01 1B 0000", "U 1B 01 1B 0000"}},
                  });
}

// A Latin-1 locale for the child: an installed one, or one made with
// localedef in a folder of the test's own. `skipped` says why there is none.
struct Latin1Locale {
  std::vector<std::string> environment;
  std::string skipped;
};

std::string Run(const std::string &command, int *status) {
  std::string out;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) {
    *status = -1;
    return "cannot start: " + command;
  }
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  *status = pclose(p);
  return out;
}

const Latin1Locale &FindLatin1Locale() {
  static const Latin1Locale found = [] {
    int status;
    std::istringstream names(Run("locale -a", &status));
    for (std::string name; std::getline(names, name);) {
      std::string set;
      for (char c : name.substr(name.find('.') == std::string::npos ? name.size() : name.find('.') + 1)) {
        if (c == '@') break;
        if (c != '-' && c != '_') set += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      if (set == "iso88591") return Latin1Locale{{"LC_ALL=" + name}, ""};
    }
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("console_host_locales_" + std::to_string(getpid()));
    static const struct Remover {
      ~Remover() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
      }
    } remover;
    std::filesystem::create_directories(dir);
    const std::string made = Run("localedef -i en_US -f ISO-8859-1 " + (dir / "en_US.ISO-8859-1").string(), &status);
    if (!std::filesystem::exists(dir / "en_US.ISO-8859-1" / "LC_CTYPE"))
      return Latin1Locale{{},
                          "no Latin-1 locale installed, and localedef could not make one (status " +
                              std::to_string(status) + "): " + made};
    return Latin1Locale{{"LOCPATH=" + dir.string(), "LC_ALL=en_US.ISO-8859-1"}, ""};
  }();
  return found;
}

#define SKIP_WITHOUT_LATIN1(locale)                                  \
  if (!(locale).skipped.empty()) {                                   \
    std::fprintf(stderr, "SKIPPED: %s\n", (locale).skipped.c_str()); \
    GTEST_SKIP() << "SKIPPED: " << (locale).skipped;                 \
  }

// An 8-bit terminal takes bytes 0x80-0x9F for C1 control codes: none may
// come from a cell, whichever of the 256 it is.
TEST(TerminalHostTest, AnEightBitTerminalGetsNoControlBytesAndShowsLatin1) {
  const Latin1Locale &latin1 = FindLatin1Locale();
  SKIP_WITHOUT_LATIN1(latin1);
  constexpr int kColumns = 80, kRows = 25;
  platform_posix::MemoryConsole memory(kColumns, kRows);
  platform_posix::InstallMemoryConsole(memory);
  ASSERT_TRUE(consoletest::RunScript("glyphs", GetStdHandle(STD_OUTPUT_HANDLE), kColumns, kRows));
  platform_posix::RemoveMemoryConsole();

  VtermPty::Options options{kRows, kColumns, false};
  options.environment = latin1.environment;
  options.utf8 = false;
  VtermPty pty(options);
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "script", "glyphs"}));
  ASSERT_TRUE(pty.WaitForExit());
  ASSERT_TRUE(WIFEXITED(pty.Status()) && WEXITSTATUS(pty.Status()) == 0);
  const std::string out = pty.Output();
  int controls = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 0x80 && c <= 0x9F && ++controls <= 5)
      ADD_FAILURE() << "byte " << std::hex << +c << " at " << std::dec << i;
  }
  EXPECT_EQ(controls, 0);

  // Where code page 437 has Latin-1's letters, the terminal shows them.
  struct Shown {
    unsigned char cell;
    char32_t want;
  };
  for (Shown s : {Shown{0x82, U'\u00E9'}, Shown{0x81, U'\u00FC'}, Shown{0x94, U'\u00F6'}, Shown{0xE1, U'\u00DF'},
                  Shown{0xDA, U'+'}, Shown{'A', U'A'}}) {
    EXPECT_EQ(pty.CodePointAt(s.cell / kColumns, s.cell % kColumns), s.want) << "cell " << std::hex << +s.cell;
  }
  // Everywhere else it shows what the console holds, as the table draws it.
  platform_posix::console_host::TerminalCharset set;
  set.Load("ISO-8859-1");
  int mismatches = 0;
  for (int y = 0; y < kRows; ++y) {
    for (int x = 0; x < kColumns; ++x) {
      const char32_t want = static_cast<unsigned char>(set.Glyphs()[memory.CharAt(x, y)].bytes[0]);
      if (pty.CodePointAt(y, x) != want && ++mismatches <= 5)
        ADD_FAILURE() << "cell " << x << "," << y << " shows U+" << std::hex
                      << static_cast<unsigned>(pty.CodePointAt(y, x)) << ", wanted U+" << static_cast<unsigned>(want);
    }
  }
  int row, column;
  pty.Cursor(&row, &column);
  EXPECT_EQ(column, memory.Cursor().X);
  EXPECT_EQ(row, memory.Cursor().Y);
  ExpectModeRestored(pty, "latin-1");
}

TEST(TerminalHostTest, DecodesTypedLatin1) {
  const Latin1Locale &latin1 = FindLatin1Locale();
  SKIP_WITHOUT_LATIN1(latin1);
  CheckKeys(false,
            {
                {"e acute", "\xe9", {"D 00 00 82 0000", "U 00 00 82 0000"}},
                {"capital o umlaut", "\xd6", {"D 00 00 99 0000", "U 00 00 99 0000"}},
                {"alt with u umlaut", "\x1b\xfc", {"D 00 00 81 0002", "U 00 00 81 0002"}},
                {"thorn, which code page 437 lacks", "\xfe", {"D 00 00 3F 0000", "U 00 00 3F 0000"}},
            },
            latin1.environment);
}

TEST(TerminalHostTest, KeysTypedBeforeTheConsoleStartedStillCount) {
  VtermPty pty({10, 40, false});
  std::string log = TempLog("typeahead");
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "typeahead", log}));
  ASSERT_TRUE(pty.WaitForText("early"));
  pty.Type("xy");
  ASSERT_TRUE(pty.WaitForText("ready"));
  pty.Type("\x04");
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_EQ(ReadLines(log),
            (std::vector<std::string>{"D 58 2D 78 0000", "U 58 2D 78 0000", "D 59 15 79 0000", "U 59 15 79 0000"}));
  std::remove(log.c_str());
}

TEST(TerminalHostTest, GivesTheTerminalBackOnEveryWayOut) {
  struct Case {
    const char *name;
    const char *mode;
    bool kitty;
    std::function<void(VtermPty &)> end;
    int signal;  // 0: exits with `code`
    int code;
    bool asJob = false;  // under a shell with job control, where a stop stops
  };
  const std::vector<Case> cases = {
      {"SIGTERM", "wait", false, [](VtermPty &p) { p.Signal(SIGTERM); }, SIGTERM, 0},
      {"SIGHUP", "wait", true, [](VtermPty &p) { p.Signal(SIGHUP); }, SIGHUP, 0},
      {"Ctrl+C", "wait", false, [](VtermPty &p) { p.Type("\x03"); }, SIGINT, 0},
      {"Ctrl+C under the keyboard protocol", "wait", true, [](VtermPty &p) { p.TypeCtrl('c'); }, SIGINT, 0},
      // Waiting on another descriptor, the protocol is off: the driver's Ctrl+C.
      {"Ctrl+C while it waits on a pipe", "pipe-wait", true, [](VtermPty &p) { p.TypeCtrl('c'); }, SIGINT, 0},
      // The protocol stays on between key polls: the console hears it.
      {"Ctrl+C under the protocol while it computes", "compute", true, [](VtermPty &p) { p.TypeCtrl('c'); }, SIGINT, 0},
      {"Ctrl+\\", "wait", false, [](VtermPty &p) { p.TypeCtrl('\\'); }, SIGQUIT, 0},
      {"SIGABRT", "wait", true, [](VtermPty &p) { p.Signal(SIGABRT); }, SIGABRT, 0},
      {"restored by hand, then _exit", "restore-exit", true, [](VtermPty &) {}, 0, 3},
      // A continue drops a stop that waits for the host to be done.
      {"a stop, then a continue, while the host is busy", "stop-continue", false,
       [](VtermPty &p) { p.Signal(SIGTERM); }, SIGTERM, 0, true},
  };
  for (const Case &c : cases) {
    VtermPty pty({10, 40, c.kitty});
    ASSERT_TRUE(c.asJob ? pty.Start({JOB_SHELL, CONSOLE_CHILD, c.mode}) : pty.Start({CONSOLE_CHILD, c.mode}));
    ASSERT_TRUE(pty.WaitForText("ready")) << c.name;
    if (c.signal != 0) {
      termios running = pty.Mode();
      EXPECT_EQ(running.c_lflag & (ICANON | ECHO), 0u) << c.name;
      EXPECT_NE(running.c_lflag & ISIG, 0u) << c.name;
    }
    c.end(pty);
    ASSERT_TRUE(pty.WaitForExit()) << c.name;
    if (c.signal != 0) {
      EXPECT_TRUE(WIFSIGNALED(pty.Status()) && WTERMSIG(pty.Status()) == c.signal) << c.name;
    } else {
      EXPECT_TRUE(WIFEXITED(pty.Status()) && WEXITSTATUS(pty.Status()) == c.code) << c.name;
    }
    ExpectModeRestored(pty, c.name);
    // The colours last, or just before the protocol's pop.
    std::string out = pty.Output();
    if (out.ends_with("\x1b[<u")) out.resize(out.size() - 4);
    EXPECT_TRUE(out.ends_with("\x1b[m")) << c.name;
    EXPECT_EQ(pty.KittyPushes(), c.kitty ? 1 : 0) << c.name;
    EXPECT_EQ(pty.KittyPops(), pty.KittyPushes()) << c.name;
  }
}

// Ctrl+Z while the program waits in ReadConsoleInput under the keyboard
// protocol, then fg: the screen is drawn again at once, not at the next key.
TEST(TerminalHostTest, RepaintsAfterAStopDuringABlockingRead) {
  VtermPty pty({10, 40, true});
  std::string log = TempLog("stop");
  ASSERT_TRUE(pty.Start({JOB_SHELL, CONSOLE_CHILD, "keys", log}));
  ASSERT_TRUE(pty.WaitForText("ready"));
  ASSERT_TRUE(VtermPty::WaitUntil([&] { return pty.KittyFlags() != 0; }));
  const int job = testsupport::JobOf(pty.Pid());
  pty.Type("\x1b[122;5u");  // the press alone: nothing else to read
  ASSERT_TRUE(VtermPty::WaitUntil([&] { return testsupport::ProcessState(job) == 'T'; }));
  pty.DrawOver("\x1b[H\x1b[2J$ fg\r\n");
  ASSERT_TRUE(pty.WaitForText("$ fg"));
  kill(pty.Pid(), SIGUSR1);  // the shell's fg
  EXPECT_TRUE(VtermPty::WaitUntil(
      [&] {
        return pty.ScreenText().find("ready") != std::string::npos &&
               pty.ScreenText().find("$ fg") == std::string::npos;
      },
      100));
  ASSERT_TRUE(VtermPty::WaitUntil([&] { return pty.KittyFlags() != 0; }));
  pty.Type("\x1b[100;5u");
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_TRUE(WIFEXITED(pty.Status()) && WEXITSTATUS(pty.Status()) == 0);
  EXPECT_EQ(ReadLines(log), std::vector<std::string>{});
  std::remove(log.c_str());
}

// A sleep lasts to the system timer's tick unless a key or a resize comes;
// then it ends once its time has passed. Each sleep starts 3 ms past a tick
// and lasts a whole number of ticks and 0 to 5 ms, so that ending before
// the tick is told apart from ending at it.
TEST(TerminalHostTest, SleepEndsAtATickUnlessAKeyOrAResizeComes) {
  constexpr long long kTickUs = 15625;
  struct Case {
    const char *name;
    bool kitty;
    std::vector<std::string> sleeps;
    std::function<void(VtermPty &, const std::string &log)> during;  // once the program is ready
    bool atTick;                                                     // else before it
  };
  const std::vector<Case> cases = {
      {"nothing comes", false, {"1", "5", "20"}, [](VtermPty &, const std::string &) {}, true},
      {"a key is pending", false, {"pending", "1"}, [](VtermPty &p, const std::string &) { p.Type("x"); }, false},
      {"a key comes", false, {"125"}, [](VtermPty &p, const std::string &) { usleep(40000), p.Type("x"); }, false},
      {"a key comes under the protocol",
       true,
       {"125"},
       [](VtermPty &p, const std::string &) { usleep(40000), p.TypeCtrl('x'); },
       false},
      {"a resize comes",
       false,
       {"2000"},
       [](VtermPty &p, const std::string &log) {
         usleep(200000);
         p.DrawOver("\x1b[H\x1b[2J");
         p.Resize(12, 50);
         // Painted again while the sleep goes on.
         EXPECT_TRUE(p.WaitForText("ready", 1500));
         EXPECT_EQ(ReadLines(log), std::vector<std::string>{});
       },
       false},
  };
  for (const Case &c : cases) {
    VtermPty pty({10, 40, c.kitty});
    const std::string log = TempLog("sleep");
    std::vector<std::string> argv = {CONSOLE_CHILD, "sleep", log};
    argv.insert(argv.end(), c.sleeps.begin(), c.sleeps.end());
    ASSERT_TRUE(pty.Start(argv)) << c.name;
    ASSERT_TRUE(pty.WaitForText("ready")) << c.name;
    c.during(pty, log);
    ASSERT_TRUE(pty.WaitForExit()) << c.name;
    const std::vector<std::string> lines = ReadLines(log);
    EXPECT_EQ(lines.size(), c.sleeps.size() - (c.sleeps[0] == "pending" ? 1 : 0)) << c.name;
    for (const std::string &line : lines) {
      long long asked = 0, lasted = 0, pastTick = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%lld %lld %lld", &asked, &lasted, &pastTick), 3) << line;
      EXPECT_GE(lasted, asked * 1000) << c.name << ": " << line;
      if (c.atTick) {
        EXPECT_TRUE(pastTick >= 0 && pastTick < kTickUs) << c.name << ": " << line;
      } else {
        EXPECT_LT(pastTick, 0) << c.name << ": " << line;
      }
    }
    std::remove(log.c_str());
  }
}

// A signal that arrives while the terminal is being put back waits for it
// to be done, then ends the process.
TEST(TerminalHostTest, ASignalDuringTheRestoreWaitsForIt) {
  VtermPty pty({10, 40, true});
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "restore-blocked"}));
  ASSERT_TRUE(pty.WaitForText("ready"));
  pty.PauseReading(true);
  pty.Type("g");
  const std::string proc = "/proc/" + std::to_string(pty.Pid());
  auto firstField = [](const std::string &path) {
    std::ifstream f(path);
    std::string word;
    f >> word;
    return word;
  };
  // In write(2) (system call 1) for good: the terminal's queue is full.
  ASSERT_TRUE(VtermPty::WaitUntil([&] { return firstField(proc + "/syscall") == "1"; }));
  pty.Signal(SIGTERM);
  auto pendingTerm = [&] {
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0)
        if (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGTERM - 1))) return true;
    return false;
  };
  EXPECT_TRUE(VtermPty::WaitUntil(pendingTerm, 2000)) << "SIGTERM was not held off";
  pty.PauseReading(false);
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_TRUE(WIFSIGNALED(pty.Status()) && WTERMSIG(pty.Status()) == SIGTERM);
  ExpectModeRestored(pty, "after the restore");
  // The pop, the question whose answer shows the terminal has seen it, the
  // colours.
  EXPECT_TRUE(pty.Output().ends_with("\x1b[<u\x1b[c\x1b[m"));
}

// A signal that comes while a frame is being sent waits for the frame: the
// terminal shows all of it, then gets its mode back, then the process ends.
TEST(TerminalHostTest, ASignalWhileAFrameIsSentWaitsForIt) {
  constexpr int kRows = 60, kColumns = 200;  // some 100 KB of cells and colours
  VtermPty pty({kRows, kColumns, false});
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "paint-blocked"}));
  ASSERT_TRUE(pty.WaitForText("ready"));
  pty.PauseReading(true);
  pty.Type("g");
  const std::string proc = "/proc/" + std::to_string(pty.Pid());
  auto inWrite = [&] {
    std::ifstream f(proc + "/syscall");
    std::string number;
    f >> number;
    return number == "1";
  };
  ASSERT_TRUE(VtermPty::WaitUntil(inWrite));
  pty.Signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pty.PauseReading(false);
  ASSERT_TRUE(pty.WaitForExit());
  EXPECT_TRUE(WIFSIGNALED(pty.Status()) && WTERMSIG(pty.Status()) == SIGTERM);
  ExpectModeRestored(pty, "after the frame");
  EXPECT_TRUE(pty.Output().ends_with("\x1b[m"));
  for (int y = 0; y < kRows; ++y) {
    std::string want;
    for (int x = 0; x < kColumns; ++x) want += static_cast<char>('a' + (y * kColumns + x) % 26);
    ASSERT_EQ(pty.RowText(y), want) << "row " << y;
  }
}

TEST(TerminalHostTest, PaintsAReportInLittleMoreThanItsOwnBytes) {
  VtermPty pty({25, 80, false});
  std::string log = TempLog("bench");
  ASSERT_TRUE(pty.Start({CONSOLE_CHILD, "bench", log}));
  ASSERT_TRUE(pty.WaitForExit());
  std::vector<std::string> lines = ReadLines(log);
  ASSERT_EQ(lines.size(), 1u);
  long size = 0, flushes = 0;
  unsigned long long bytes = 0, writes = 0;
  ASSERT_EQ(
      std::sscanf(lines[0].c_str(), "report %ld flushes %ld bytes %llu writes %llu", &size, &flushes, &bytes, &writes),
      4);
  std::printf("report %ld bytes in %ld write statements: %llu bytes to the terminal (%.3f), %llu write(2) calls\n",
              size, flushes, bytes, static_cast<double>(bytes) / static_cast<double>(size), writes);
  EXPECT_LE(static_cast<double>(bytes), 1.15 * static_cast<double>(size));
  EXPECT_LE(writes, static_cast<unsigned long long>(flushes));
  std::remove(log.c_str());
}

}  // namespace
