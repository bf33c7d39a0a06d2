// The console calls served by an installed in-memory console: handles,
// processed output, input, and the ways a console can be missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/console_host/control.h"
#include "platform/posix/timer_tick.h"

namespace {

using platform_posix::MemoryConsole;

class MemoryConsoleTest : public ::testing::Test {
 protected:
  void Install(MemoryConsole &c) { platform_posix::InstallMemoryConsole(c); }
  void TearDown() override { platform_posix::RemoveMemoryConsole(); }
};

INPUT_RECORD Key(bool down, WORD vk, char ch) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.wVirtualKeyCode = vk;
  r.Event.KeyEvent.uChar.AsciiChar = ch;
  return r;
}

TEST_F(MemoryConsoleTest, StandardHandlesAndConoutAreTheConsole) {
  MemoryConsole c(30, 20);
  c.SetCursor({4, 7});
  c.SetAttributes(0x1E);
  Install(c);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  EXPECT_EQ(out, platform_posix::ConsoleOutputHandle());
  EXPECT_EQ(in, platform_posix::ConsoleInputHandle());
  EXPECT_EQ(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            out);
  EXPECT_EQ(CreateFileA("conout$", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), out);
  EXPECT_EQ(GetFileType(out), FILE_TYPE_CHAR);
  EXPECT_EQ(GetFileType(in), FILE_TYPE_CHAR);
  EXPECT_TRUE(CloseHandle(out));

  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &info));  // closing did nothing
  EXPECT_EQ(info.dwSize.X, 30);
  EXPECT_EQ(info.dwSize.Y, 20);
  EXPECT_EQ(info.dwCursorPosition.X, 4);
  EXPECT_EQ(info.dwCursorPosition.Y, 7);
  EXPECT_EQ(info.wAttributes, 0x1E);
  CONSOLE_CURSOR_INFO cursor{};
  ASSERT_TRUE(GetConsoleCursorInfo(out, &cursor));
  EXPECT_EQ(cursor.dwSize, 25u);

  DWORD count = 7;
  EXPECT_FALSE(GetConsoleScreenBufferInfo(in, &info));
  EXPECT_FALSE(GetNumberOfConsoleInputEvents(out, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(SetConsoleCursorPosition(out, {30, 0}));
  EXPECT_EQ(c.Cursor().X, 4);
  EXPECT_TRUE(SetConsoleCursorPosition(out, {29, 19}));
  EXPECT_EQ(c.Cursor().X, 29);
}

TEST_F(MemoryConsoleTest, AMissingConsole) {
  struct Case {
    const char *name;
    void (*set)(MemoryConsole &);
    bool stdOutIsConsole, conoutOpens, infoWorks, stdInIsConsole;
  };
  const std::vector<Case> cases = {
      {"all there", [](MemoryConsole &) {}, true, true, true, true},
      {"standard output redirected", [](MemoryConsole &c) { c.stdOutputIsConsole = false; }, false, true, true, true},
      {"no console at all", [](MemoryConsole &c) { c.stdOutputIsConsole = false, c.conoutOpens = false; }, false, false,
       false, true},
      {"no buffer information", [](MemoryConsole &c) { c.screenInfoWorks = false; }, true, true, false, true},
      {"standard input redirected", [](MemoryConsole &c) { c.stdInputIsConsole = false; }, true, true, true, false},
  };
  for (const Case &k : cases) {
    MemoryConsole c(10, 5);
    k.set(c);
    Install(c);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    EXPECT_EQ(GetConsoleScreenBufferInfo(out, &info) != 0, k.stdOutIsConsole && k.infoWorks) << k.name;
    HANDLE conout = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(conout != INVALID_HANDLE_VALUE, k.conoutOpens) << k.name;
    if (conout != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetConsoleScreenBufferInfo(conout, &info) != 0, k.infoWorks) << k.name;
    }
    DWORD count = 5;
    EXPECT_EQ(GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count) != 0, k.stdInIsConsole) << k.name;
    if (!k.stdInIsConsole) {
      EXPECT_EQ(count, 0u) << k.name;
    }
    platform_posix::RemoveMemoryConsole();
  }
}

TEST_F(MemoryConsoleTest, WriteFileIsProcessedOutput) {
  struct Case {
    const char *name;
    COORD start;
    std::string bytes;
    std::vector<std::string> rows;
    COORD cursor;
    int bells;
  };
  const std::vector<Case> cases = {
      {"line end", {0, 0}, "ab\r\ncd", {"ab      ", "cd      ", "        "}, {2, 1}, 0},
      {"line feed alone returns too", {3, 0}, "x\ny", {"   x    ", "y       ", "        "}, {1, 1}, 0},
      {"carriage return", {0, 0}, "abc\rX", {"Xbc     ", "        ", "        "}, {1, 0}, 0},
      {"backspace, not erasing", {0, 0}, "abc\b\bX", {"aXc     ", "        ", "        "}, {2, 0}, 0},
      {"backspace at the left edge", {0, 1}, "\bq", {"        ", "q       ", "        "}, {1, 1}, 0},
      {"tab to the next multiple of 8", {0, 0}, "a\tb", {"a       ", "b       ", "        "}, {1, 1}, 0},
      {"tab from a stop", {0, 1}, "\tz", {"        ", "        ", "z       "}, {1, 2}, 0},
      {"bell", {0, 0}, "a\a\ab", {"ab      ", "        ", "        "}, {2, 0}, 2},
      {"other control codes are cells",
       {0, 0},
       "\x01\x1b\x0c",
       {"\x01\x1b\x0c     ", "        ", "        "},
       {3, 0},
       0},
      {"wrap at the right edge", {0, 0}, "12345678", {"12345678", "        ", "        "}, {0, 1}, 0},
      {"scroll at the bottom", {0, 2}, "bottom\r\nnew", {"top row ", "bottom  ", "new     "}, {3, 2}, 0},
      {"wrap on the last row scrolls", {0, 2}, "abcdefghi", {"top row ", "abcdefgh", "i       "}, {1, 2}, 0},
  };
  for (const Case &k : cases) {
    MemoryConsole c(8, 3);
    c.Fill(' ', 0x07);
    c.SetAttributes(0x2A);
    if (k.name == std::string("scroll at the bottom") || k.name == std::string("wrap on the last row scrolls")) {
      for (int x = 0; x < 7; ++x) c.SetCell(x, 1, static_cast<unsigned char>("top row"[x]), 0x07);
    }
    c.SetCursor(k.start);
    Install(c);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), k.bytes.data(), static_cast<DWORD>(k.bytes.size()), &written,
                          nullptr))
        << k.name;
    EXPECT_EQ(written, k.bytes.size()) << k.name;
    for (int y = 0; y < 3; ++y) EXPECT_EQ(c.RowText(y), k.rows[static_cast<std::size_t>(y)]) << k.name << ", row " << y;
    EXPECT_EQ(c.Cursor().X, k.cursor.X) << k.name;
    EXPECT_EQ(c.Cursor().Y, k.cursor.Y) << k.name;
    EXPECT_EQ(c.bells, k.bells) << k.name;
    platform_posix::RemoveMemoryConsole();
  }
  // The row that a scroll brings in is blank in the console's attribute.
  MemoryConsole c(8, 3);
  c.SetAttributes(0x4F);
  c.SetCursor({0, 2});
  Install(c);
  DWORD n;
  WriteFile(platform_posix::ConsoleOutputHandle(), "\nz", 2, &n, nullptr);
  EXPECT_EQ(c.CharAt(0, 2), 'z');
  for (int x = 0; x < 8; ++x) EXPECT_EQ(c.AttributeAt(x, 2), 0x4F);
}

TEST_F(MemoryConsoleTest, InputComesOutOldestFirst) {
  MemoryConsole c(10, 5);
  c.input = {Key(true, 'A', 'a'), Key(false, 'A', 'a'), Key(true, VK_F1, 0), Key(true, 'B', 'b')};
  Install(c);
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD count = 0;
  ASSERT_TRUE(GetNumberOfConsoleInputEvents(in, &count));
  EXPECT_EQ(count, 4u);
  INPUT_RECORD r[3];
  DWORD got = 0;
  ASSERT_TRUE(ReadConsoleInputA(in, r, 1, &got));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(r[0].Event.KeyEvent.uChar.AsciiChar, 'a');
  EXPECT_TRUE(r[0].Event.KeyEvent.bKeyDown);
  ASSERT_TRUE(ReadConsoleInputA(in, r, 3, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_FALSE(r[0].Event.KeyEvent.bKeyDown);
  EXPECT_EQ(r[1].Event.KeyEvent.wVirtualKeyCode, VK_F1);
  EXPECT_EQ(c.input.size(), 0u);

  // Reading the console input as a file gives the characters of key presses.
  c.input = {Key(true, 'X', 'x'), Key(false, 'X', 'x'), Key(true, VK_F1, 0), Key(true, 'Y', 'y')};
  char buf[8];
  ASSERT_TRUE(ReadFile(in, buf, sizeof buf, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "xy");
  ASSERT_TRUE(ReadFile(in, buf, sizeof buf, &got, nullptr));
  EXPECT_EQ(got, 0u);
}

// Sleep(n) ends at the system timer's first tick after n ms, or at n ms
// when input is queued. Each starts 3 ms past a tick, so the two differ.
TEST_F(MemoryConsoleTest, SleepEndsAtATickUnlessInputIsQueued) {
  MemoryConsole c(30, 20);
  Install(c);
  for (const bool queued : {false, true}) {
    if (queued) c.input.push_back(Key(true, 'A', 'a'));
    for (const DWORD asked : {1u, 5u, 20u}) {
      platform_posix::SleepUntil(platform_posix::TickAtOrAfter(platform_posix::MonotonicNs()) + 3000000);
      const long long start = platform_posix::MonotonicNs();
      Sleep(asked);
      const long long end = platform_posix::MonotonicNs(),
                      tick = platform_posix::TickAtOrAfter(start + asked * 1000000LL);
      EXPECT_GE(end - start, asked * 1000000LL) << asked << (queued ? " queued" : "");
      EXPECT_EQ(end >= tick, !queued) << asked << (queued ? " queued" : "") << ": " << end - tick
                                      << " ns past the tick";
    }
  }
}

}  // namespace
