#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/console/console_fixture.h"

namespace {

INPUT_RECORD Key(bool down, WORD vk, WORD scan, char ch, DWORD state = 0) {
  INPUT_RECORD r = {};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.wVirtualKeyCode = vk;
  r.Event.KeyEvent.wVirtualScanCode = scan;
  r.Event.KeyEvent.uChar.AsciiChar = ch;
  r.Event.KeyEvent.dwControlKeyState = state;
  return r;
}
INPUT_RECORD Down(WORD vk, WORD scan, char ch, DWORD state = 0) { return Key(true, vk, scan, ch, state); }
INPUT_RECORD Up(WORD vk, WORD scan, char ch, DWORD state = 0) { return Key(false, vk, scan, ch, state); }
INPUT_RECORD Letter(char ch) {
  char upper = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
  return Down(static_cast<WORD>(upper), 0x1E, ch);
}
INPUT_RECORD Other(WORD type) {
  INPUT_RECORD r = {};
  r.EventType = type;
  return r;
}

class KeyboardTest : public ConsoleTest {
 protected:
  void SetUp() override { Start(40, 5); }
  void Queue(std::vector<INPUT_RECORD> events) {
    for (const INPUT_RECORD &e : events) console_->input.push_back(e);
  }
  // Every key WaitForKey returns for the queued events: a final '~' key
  // marks their end, so that a wait never outlasts them.
  std::vector<int> Drain() {
    console_->input.push_back(Down('~', 0x29, '~'));
    std::vector<int> keys;
    for (int guard = 0; guard < 100; ++guard) {
      int key = WaitForKey();
      if (key == '~' && console_->input.empty()) return keys;
      keys.push_back(key);
    }
    ADD_FAILURE() << "no end of the keys";
    return keys;
  }
};

constexpr DWORD kLAlt = LEFT_ALT_PRESSED, kRAlt = RIGHT_ALT_PRESSED, kLCtrl = LEFT_CTRL_PRESSED,
                kRCtrl = RIGHT_CTRL_PRESSED, kShift = SHIFT_PRESSED, kEnh = ENHANCED_KEY;

struct TranslateCase {
  uint16_t scan;
  uint32_t state;
  uint8_t code;
};

TEST(TranslateKeyTest, EveryRowOfTheTables) {
  std::vector<TranslateCase> rows;
  for (uint16_t s = 0x02; s <= 0x0D; ++s) rows.push_back({s, kLAlt, static_cast<uint8_t>(s + 0x76)});
  rows.push_back({0x1C, kRAlt, 0xA6});
  rows.push_back({0x35, kLAlt, 0xA4});
  for (uint16_t s = 0x3B; s <= 0x44; ++s) {
    rows.push_back({s, kLAlt, static_cast<uint8_t>(s + 0x2D)});
    rows.push_back({s, kLCtrl, static_cast<uint8_t>(s + 0x23)});
    rows.push_back({s, kShift, static_cast<uint8_t>(s + 0x19)});
    rows.push_back({s, 0, static_cast<uint8_t>(s)});
  }
  for (uint16_t s : {0x47, 0x48, 0x49, 0x4F, 0x50, 0x51, 0x52, 0x53})
    rows.push_back({s, kLAlt, static_cast<uint8_t>(s + 0x50)});
  rows.push_back({0x4B, kLAlt, 0x9B});
  rows.push_back({0x4D, kRAlt, 0x9D});
  for (uint16_t s : {0x57, 0x58}) {
    rows.push_back({s, kLAlt, static_cast<uint8_t>(s + 0x34)});
    rows.push_back({s, kRCtrl, static_cast<uint8_t>(s + 0x32)});
    rows.push_back({s, kShift, static_cast<uint8_t>(s + 0x30)});
    rows.push_back({s, 0, static_cast<uint8_t>(s + 0x2E)});
  }
  rows.push_back({0x0F, kLCtrl, 0x94});
  rows.push_back({0x35, kRCtrl, 0x95});
  rows.push_back({0x37, kLCtrl, 0x96});
  const uint8_t ctrlPad[13] = {0x77, 0x8D, 0x84, 0x8E, 0x73, 0x8F, 0x74, 0x4E, 0x75, 0x91, 0x76, 0x92, 0x93};
  for (uint16_t i = 0; i < 13; ++i) rows.push_back({static_cast<uint16_t>(0x47 + i), kLCtrl | kEnh, ctrlPad[i]});
  // Groups are tested Alt, then Ctrl, then Shift; unnamed scan codes give themselves.
  rows.push_back({0x3B, kLAlt | kLCtrl | kShift, 0x68});
  rows.push_back({0x3B, kLCtrl | kShift, 0x5E});
  rows.push_back({0x10, kLAlt, 0x10});
  rows.push_back({0x10, kLCtrl, 0x10});
  rows.push_back({0x47, kShift, 0x47});
  rows.push_back({0x1C, kLCtrl, 0x1C});
  rows.push_back({0x123, 0, 0x23});  // the low 8 bits
  for (const TranslateCase &r : rows) {
    keyboardState = {};
    EXPECT_EQ(TranslateKey(r.scan, r.state, 0), r.code) << std::hex << r.scan << " " << r.state;
    EXPECT_FALSE(keyboardState.altNumpadActive);
  }
}

TEST_F(KeyboardTest, ExtendedKeysComeAsZeroThenTheirCode) {
  Queue({Down(VK_F1, 0x3B, 0), Up(VK_F1, 0x3B, 0), Down(VK_F1, 0x3B, 0, kShift), Down(VK_F12, 0x58, 0, kLAlt),
         Down(VK_HOME, 0x47, 0, kLCtrl | kEnh), Down(0, 0x4E, 0, kRCtrl), Down('A', 0x1E, 'a', kLAlt),
         Down(VK_DIVIDE, 0x35, '/', kEnh)});
  EXPECT_EQ(Drain(), (std::vector<int>{0, 0x3B, 0, 0x54, 0, 0x8C, 0, 0x77, 0, 0x4E, 0, 0x1E, 0, 0x35}));
}

TEST_F(KeyboardTest, WhatCountsAsAKey) {
  Queue({Down(VK_SHIFT, 0x2A, 0, kShift), Down(VK_CONTROL, 0x1D, 0, kLCtrl), Down(VK_MENU, 0x38, 0, kLAlt),
         Down(VK_CAPITAL, 0x3A, 0), Down(VK_NUMLOCK, 0x45, 0), Down(VK_SCROLL, 0x46, 0), Other(MOUSE_EVENT),
         Other(FOCUS_EVENT), Other(MENU_EVENT), Other(WINDOW_BUFFER_SIZE_EVENT), Up('Q', 0x10, 'q'), Letter('q'),
         Letter('w')});
  EXPECT_TRUE(KeyAvailable());
  EXPECT_EQ(console_->input.size(), 1u);  // the rest stays queued
  EXPECT_EQ(WaitForKey(), 'q');
  EXPECT_EQ(WaitForKey(), 'w');
  EXPECT_FALSE(KeyAvailable());
}

TEST_F(KeyboardTest, EnterAndCharactersWithModifiers) {
  Queue({Down(VK_RETURN, 0x1C, 13, kEnh), Down(VK_RETURN, 0x1C, 13, kLAlt), Down('Q', 0x10, '@', kRAlt | kLCtrl),
         Down('A', 0x1E, 1, kLCtrl), Down(VK_ESCAPE, 0x01, 27), Down('Z', 0x2C, 'z', kRAlt)});
  EXPECT_EQ(Drain(), (std::vector<int>{13, 13, '@', 1, 27, 'z'}));
}

TEST_F(KeyboardTest, AltKeypadEntry) {
  auto pad = [](int digit) { return Down(static_cast<WORD>(VK_NUMPAD0 + digit), 0x47, 0, kLAlt); };
  auto padUp = [](int digit) { return Up(static_cast<WORD>(VK_NUMPAD0 + digit), 0x47, 0, kLAlt); };
  Queue({Down(VK_MENU, 0x38, 0, kLAlt), pad(6), padUp(6), pad(5), Up(VK_MENU, 0x38, 0)});
  EXPECT_EQ(Drain(), std::vector<int>{65});
  Queue({pad(3), pad(0), pad(0), Up(VK_MENU, 0x38, 0)});
  EXPECT_EQ(Drain(), std::vector<int>{44});
  // 256 is 0: nothing is delivered, the wait goes on to the next key.
  Queue({pad(2), pad(5), pad(6), Up(VK_MENU, 0x38, 0), Letter('k')});
  EXPECT_EQ(Drain(), std::vector<int>{'k'});
  // A keypad digit arriving with its character and Right Alt only is dropped.
  keyboardState.altNumpadActive = false;
  keyboardState.altNumpadValue = 0;
  Queue({Down(VK_NUMPAD0 + 7, 0x47, '7', kRAlt), Up(VK_MENU, 0x38, 0), Letter('m')});
  EXPECT_EQ(Drain(), std::vector<int>{'m'});
}

TEST_F(KeyboardTest, AnExtendedKeyTranslatingToZeroGivesOneZero) {
  Queue({Down(0, 0x00, 0), Letter('x')});
  EXPECT_EQ(Drain(), (std::vector<int>{0, 'x'}));
}

TEST_F(KeyboardTest, KeysTypedBeforeTheWaitCount) {
  Queue({Letter('e')});
  Write("a long report");
  EXPECT_EQ(WaitForKey(), 'e');
}

struct LineCase {
  const char *name;
  std::vector<INPUT_RECORD> keys;
  std::string line;    // as it lands in the buffer
  const char *screen;  // row 0 afterwards
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

INPUT_RECORD Left() { return Down(VK_LEFT, 0x4B, 0, kEnh); }
INPUT_RECORD Right() { return Down(VK_RIGHT, 0x4D, 0, kEnh); }
INPUT_RECORD Home() { return Down(VK_HOME, 0x47, 0, kEnh); }
INPUT_RECORD End() { return Down(VK_END, 0x4F, 0, kEnh); }
INPUT_RECORD Enter() { return Down(VK_RETURN, 0x1C, 13); }
INPUT_RECORD Back() { return Down(VK_BACK, 0x0E, 8); }
INPUT_RECORD Esc() { return Down(VK_ESCAPE, 0x01, 27); }

class LineInputTest : public KeyboardTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineInputTest, EditsTheLine) {
  const LineCase &c = GetParam();
  ClearScreen();
  Queue(c.keys);
  ConsoleReadLine(stdInput);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(stdInput.buffer), static_cast<size_t>(stdInput.bufEnd)), c.line);
  EXPECT_EQ(stdInput.bufPos, 0);
  EXPECT_EQ(Text(0, ' '), c.screen);
  EXPECT_EQ(Cursor().Y, 1);
  EXPECT_EQ(Cursor().X, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LineInputTest,
    ::testing::Values(
        LineCase{"ReplaceInside",
                 {Letter('a'), Letter('b'), Letter('c'), Left(), Left(), Letter('X'), Enter()},
                 "aXc\r\n",
                 "aXc"},
        LineCase{"BackspaceAfterLeftDoesNothing", {Letter('a'), Letter('b'), Left(), Back(), Enter()}, "ab\r\n", "ab"},
        LineCase{"BackspaceAtTheEnd", {Letter('a'), Letter('b'), Back(), Letter('c'), Enter()}, "ac\r\n", "ac"},
        LineCase{"EscErasesTheLine", {Letter('a'), Letter('b'), Left(), Esc(), Letter('z'), Enter()}, "z\r\n", "z"},
        LineCase{"HomeThenEnd", {Letter('a'), Letter('b'), Home(), End(), Letter('c'), Enter()}, "abc\r\n", "abc"},
        LineCase{"HomeThenType", {Letter('a'), Letter('b'), Home(), Letter('X'), Enter()}, "Xb\r\n", "Xb"},
        LineCase{"RightStopsAtTheEnd", {Letter('a'), Left(), Right(), Right(), Letter('b'), Enter()}, "ab\r\n", "ab"},
        LineCase{"CtrlZIgnored", {Letter('a'), Down('Z', 0x2C, 26, kLCtrl), Enter()}, "a\r\n", "a"},
        LineCase{"OtherExtendedKeysIgnored", {Letter('a'), Down(VK_F1, 0x3B, 0), Enter()}, "a\r\n", "a"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(KeyboardTest, ALineHoldsAtMost254Characters) {
  Start(300, 3);
  ClearScreen();
  for (int i = 0; i < 260; ++i) console_->input.push_back(Letter('a'));
  console_->input.push_back(Enter());
  ConsoleReadLine(stdInput);
  EXPECT_EQ(stdInput.bufEnd, 256);
  EXPECT_EQ(stdInput.buffer[253], 'a');
  EXPECT_EQ(stdInput.buffer[254], 13);
  EXPECT_EQ(stdInput.buffer[255], 10);
  EXPECT_EQ(Row(0).find_last_of('a'), 253u);
}

TEST_F(KeyboardTest, CtrlZEndsTheLineWhenAsked) {
  keyboardState.ctrlZEndsLine = true;
  Queue({Letter('a'), Down('Z', 0x2C, 26, kLCtrl)});
  ConsoleReadLine(stdInput);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(stdInput.buffer), static_cast<size_t>(stdInput.bufEnd)), "a\x1a");
}

}  // namespace
