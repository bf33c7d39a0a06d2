// Terminal bytes to key event records, and the start-up reply scanner.
#include "platform/posix/console_host/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/console_host/charset.h"
#include "platform/posix/console_host/terminal_replies.h"
#include "tests/platform/posix/iconv_sets.h"

namespace {

using platform_posix::console_host::DecodeKey;
using platform_posix::console_host::DecodeResult;
using platform_posix::console_host::InputCharset;
using platform_posix::console_host::KeyDecoderState;

struct Rec {
  bool down;
  WORD vk, scan;
  unsigned char ch;
  DWORD state;
  bool operator==(const Rec &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Rec &r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "{%s vk=%02X sc=%02X ch=%02X st=%04X}", r.down ? "down" : "up", r.vk, r.scan, r.ch,
                static_cast<unsigned>(r.state));
  return os << buf;
}

// Feeds the bytes `chunk` bytes at a time, as they might arrive, decoding
// what is complete after each piece; at the end the escape timeout passes.
std::vector<Rec> Decode(const std::string &bytes, KeyDecoderState &state, std::size_t chunk) {
  std::vector<Rec> out;
  std::string pending;
  auto run = [&](bool final) {
    while (!pending.empty()) {
      DecodeResult r = DecodeKey(reinterpret_cast<const unsigned char *>(pending.data()), pending.size(), final, state);
      if (r.kind == DecodeResult::kNeedMore) return;
      EXPECT_GT(r.consumed, 0u);
      for (int i = 0; i < r.count; ++i) {
        const KEY_EVENT_RECORD &k = r.records[i].Event.KeyEvent;
        EXPECT_EQ(r.records[i].EventType, KEY_EVENT);
        EXPECT_EQ(k.wRepeatCount, 1);
        out.push_back({k.bKeyDown != 0, k.wVirtualKeyCode, k.wVirtualScanCode,
                       static_cast<unsigned char>(k.uChar.AsciiChar), k.dwControlKeyState});
      }
      pending.erase(0, r.consumed);
    }
  };
  for (std::size_t i = 0; i < bytes.size(); i += chunk) {
    pending += bytes.substr(i, chunk);
    run(false);
  }
  run(true);
  return out;
}

std::vector<Rec> Decode(const std::string &bytes, bool kitty, std::size_t chunk) {
  KeyDecoderState state;
  state.reportsReleases = kitty;
  return Decode(bytes, state, chunk);
}

// A typed key without release reports: its key-down and key-up records.
std::vector<Rec> Press(WORD vk, WORD scan, unsigned char ch, DWORD state) {
  return {{true, vk, scan, ch, state}, {false, vk, scan, ch, state}};
}

constexpr DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED, kEnh = ENHANCED_KEY;

struct Case {
  const char *name;
  std::string bytes;
  std::vector<Rec> want;
};

TEST(KeyDecoderTest, LegacyTerminalSequences) {
  const std::vector<Case> cases = {
      {"letter", "a", Press('A', 0x1E, 'a', 0)},
      {"capital", "A", Press('A', 0x1E, 'A', kShift)},
      {"shifted digit", "!", Press('1', 0x02, '!', kShift)},
      {"space", " ", Press(VK_SPACE, 0x39, ' ', 0)},
      {"ctrl+a", "\x01", Press('A', 0x1E, 1, kCtrl)},
      {"ctrl+z", "\x1a", Press('Z', 0x2C, 26, kCtrl)},
      {"ctrl+space", std::string(1, '\0'), Press('2', 0x03, 0, kCtrl)},
      {"enter", "\r", Press(VK_RETURN, 0x1C, 13, 0)},
      {"ctrl+enter", "\n", Press(VK_RETURN, 0x1C, 10, kCtrl)},
      {"backspace", "\x7f", Press(VK_BACK, 0x0E, 8, 0)},
      {"tab", "\t", Press(VK_TAB, 0x0F, 9, 0)},
      {"shift+tab", "\x1b[Z", Press(VK_TAB, 0x0F, 9, kShift)},
      {"alt+x", "\x1bx", Press('X', 0x2D, 'x', kAlt)},
      {"alt+enter", "\x1b\r", Press(VK_RETURN, 0x1C, 13, kAlt)},
      {"up", "\x1b[A", Press(VK_UP, 0x48, 0, kEnh)},
      {"up, application mode", "\x1bOA", Press(VK_UP, 0x48, 0, kEnh)},
      {"ctrl+left", "\x1b[1;5D", Press(VK_LEFT, 0x4B, 0, kEnh | kCtrl)},
      {"alt+home", "\x1b[1;3H", Press(VK_HOME, 0x47, 0, kEnh | kAlt)},
      {"end", "\x1b[F", Press(VK_END, 0x4F, 0, kEnh)},
      {"delete", "\x1b[3~", Press(VK_DELETE, 0x53, 0, kEnh)},
      {"insert", "\x1b[2~", Press(VK_INSERT, 0x52, 0, kEnh)},
      {"shift+pgup", "\x1b[5;2~", Press(VK_PRIOR, 0x49, 0, kEnh | kShift)},
      {"pgdn", "\x1b[6~", Press(VK_NEXT, 0x51, 0, kEnh)},
      {"f1", "\x1bOP", Press(VK_F1, 0x3B, 0, 0)},
      {"shift+f1", "\x1b[1;2P", Press(VK_F1, 0x3B, 0, kShift)},
      {"ctrl+f4", "\x1b[1;5S", Press(VK_F1 + 3, 0x3E, 0, kCtrl)},
      {"shift+f5", "\x1b[15;2~", Press(VK_F1 + 4, 0x3F, 0, kShift)},
      {"f10", "\x1b[21~", Press(VK_F1 + 9, 0x44, 0, 0)},
      {"alt+f12", "\x1b[24;3~", Press(VK_F12, 0x58, 0, kAlt)},
      {"keypad enter", "\x1bOM", Press(VK_RETURN, 0x1C, 13, kEnh)},
      {"keypad slash", "\x1bOo", Press(VK_DIVIDE, 0x35, '/', kEnh)},
      {"keypad 1, application mode", "\x1bOq", Press(VK_NUMPAD0 + 1, 0x4F, '1', 0)},
      {"alt+up", "\x1b\x1b[A", Press(VK_UP, 0x48, 0, kEnh | kAlt)},
      // However many ESCs come in a row, the decoder never nests deeper.
      {"three escapes",
       "\x1b\x1b\x1b",
       {Press(VK_ESCAPE, 0x01, 27, kAlt)[0], Press(VK_ESCAPE, 0x01, 27, kAlt)[1], Press(VK_ESCAPE, 0x01, 27, 0)[0],
        Press(VK_ESCAPE, 0x01, 27, 0)[1]}},
      {"e acute", "\xc3\xa9", Press(0, 0, 0x82, 0)},
      {"no such character", "\xe2\x82\xac", Press(0, 0, '?', 0)},
      {"lone escape", "\x1b", Press(VK_ESCAPE, 0x01, 27, 0)},
      {"escape and bracket, then nothing", "\x1b[", Press(0xDB, 0x1A, '[', kAlt)},
      {"two keys",
       "ab",
       {Press('A', 0x1E, 'a', 0)[0], Press('A', 0x1E, 'a', 0)[1], Press('B', 0x30, 'b', 0)[0],
        Press('B', 0x30, 'b', 0)[1]}},
      // xterm's modifyOtherKeys (CSI 27;m;code ~, and CSI code;m u): the
      // code is the character with Shift applied.
      {"ctrl+tab, other keys", "\x1b[27;5;9~", Press(VK_TAB, 0x0F, 0, kCtrl)},
      {"ctrl+shift+tab, other keys", "\x1b[27;6;9~", Press(VK_TAB, 0x0F, 0, kCtrl | kShift)},
      {"ctrl+enter, other keys", "\x1b[27;5;13~", Press(VK_RETURN, 0x1C, 10, kCtrl)},
      {"shift+enter, other keys", "\x1b[27;2;13~", Press(VK_RETURN, 0x1C, 13, kShift)},
      {"alt+escape, other keys", "\x1b[27;3;27~", Press(VK_ESCAPE, 0x01, 27, kAlt)},
      {"ctrl+backspace, other keys", "\x1b[27;5;8~", Press(VK_BACK, 0x0E, 0x7F, kCtrl)},
      {"ctrl+shift+a, other keys", "\x1b[27;6;65~", Press('A', 0x1E, 1, kCtrl | kShift)},
      {"alt+shift+1, other keys", "\x1b[27;4;33~", Press('1', 0x02, '!', kAlt | kShift)},
      {"ctrl+period, other keys", "\x1b[27;5;46~", Press(0xBE, 0x34, 0, kCtrl)},
      {"alt+e acute, other keys", "\x1b[27;3;233~", Press(0, 0, 0x82, kAlt)},
      {"ctrl+shift+a, the other form", "\x1b[65;6u", Press('A', 0x1E, 1, kCtrl | kShift)},
      {"a control code, other keys", "\x1b[27;5;1~", {}},
      {"device attributes reply", "\x1b[?1;2c", {}},
      {"bracketed paste marker", "\x1b[200~", {}},
      {"stray continuation byte", "\x80", Press(0, 0, 0x80, 0)},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Decode(c.bytes, false, c.bytes.size() + 1), c.want) << c.name;
    EXPECT_EQ(Decode(c.bytes, false, 1), c.want) << c.name << ", a byte at a time";
  }
}

// Typed text in the terminal's character set: a character becomes its code
// page 437 byte ('?' where it has none), and a byte that begins no character
// is a key of that byte, so that every byte typed counts.
TEST(KeyDecoderTest, TypedTextInTheTerminalsCharacterSet) {
  struct SetCase {
    const char *name;
    const char *codeset;  // null: UTF-8, the decoder's own
    std::string bytes;
    std::vector<Rec> want;
  };
  auto keys = [](std::initializer_list<unsigned char> chars) {
    std::vector<Rec> out;
    for (unsigned char c : chars)
      for (const Rec &r : Press(0, 0, c, 0)) out.push_back(r);
    return out;
  };
  const std::vector<SetCase> cases = {
      {"utf-8: lone e9 at the timeout", nullptr, "\xe9", keys({0xE9})},
      {"utf-8: e9 before a letter",
       nullptr,
       "\xe9x",
       {Press(0, 0, 0xE9, 0)[0], Press(0, 0, 0xE9, 0)[1], Press('X', 0x2D, 'x', 0)[0], Press('X', 0x2D, 'x', 0)[1]}},
      {"utf-8: ff", nullptr, "\xff", keys({0xFF})},
      {"utf-8: two of three bytes at the timeout", nullptr, "\xe2\x82", keys({0xE2, 0x82})},
      {"utf-8: overlong slash", nullptr, "\xc0\xaf", keys({0xC0, 0xAF})},
      {"utf-8: overlong three bytes", nullptr, "\xe0\x80\xaf", keys({0xE0, 0x80, 0xAF})},
      {"utf-8: surrogate", nullptr, "\xed\xa0\x80", keys({0xED, 0xA0, 0x80})},
      {"utf-8: alt with a lone byte", nullptr, "\x1b\xe9", {{true, 0, 0, 0xE9, kAlt}, {false, 0, 0, 0xE9, kAlt}}},
      {"latin-1: e acute", "ISO-8859-1", "\xe9", keys({0x82})},
      {"latin-1: u umlaut, no break space", "ISO-8859-1", "\xfc\xa0", keys({0x81, 0xFF})},
      {"latin-1: a character code page 437 lacks", "ISO-8859-1", "\xfe", keys({'?'})},
      {"latin-1: alt with e acute", "ISO-8859-1", "\x1b\xe9", {{true, 0, 0, 0x82, kAlt}, {false, 0, 0, 0x82, kAlt}}},
      {"latin-2: o umlaut", "ISO-8859-2", "\xf6", keys({0x94})},
      {"latin-2: o double acute", "ISO-8859-2", "\xf5", keys({'?'})},
      {"c locale: e9", "ANSI_X3.4-1968", "\xe9", keys({0xE9})},
      {"c locale: 80 and ff", "ANSI_X3.4-1968", "\x80\xff", keys({0x80, 0xFF})},
      {"two bytes a character: alpha", "GB18030", "\xa6\xc1", keys({0xE0})},
      {"two bytes a character: lead byte at the timeout", "GB18030", "\xa6", keys({0xA6})},
      {"two bytes a character: lead byte before a blank",
       "GB18030",
       "\xa6 ",
       {Press(0, 0, 0xA6, 0)[0], Press(0, 0, 0xA6, 0)[1], Press(VK_SPACE, 0x39, ' ', 0)[0],
        Press(VK_SPACE, 0x39, ' ', 0)[1]}},
      {"four bytes a character", "GB18030", "\x81\x30\x81\x30", keys({'?'})},
  };
  std::set<std::string> missing;
  for (const SetCase &c : cases) {
    InputCharset set;
    if (c.codeset != nullptr && !IconvConverts(c.codeset)) {
      missing.insert(c.codeset);
      continue;
    }
    if (c.codeset != nullptr) {
      ASSERT_TRUE(set.Load(c.codeset)) << c.codeset;
    }
    for (std::size_t chunk : {c.bytes.size() + 1, std::size_t{1}}) {
      KeyDecoderState state;
      state.input = c.codeset != nullptr ? &set : nullptr;
      EXPECT_EQ(Decode(c.bytes, state, chunk), c.want) << c.name << " in pieces of " << chunk;
    }
  }
  if (!missing.empty()) GTEST_SKIP() << SkippedSets(missing);
}

// A control sequence too long to be a key is dropped after its first 64
// bytes however it arrives, and nothing behind that limit is lost.
TEST(KeyDecoderTest, AnOverlongSequenceKeepsTheKeysAfterIt) {
  const std::string bytes = "\x1b[" + std::string(70, '1') + "a";
  std::vector<Rec> want;
  for (int i = 0; i < 8; ++i) {
    for (const Rec &r : Press('1', 0x02, '1', 0)) want.push_back(r);
  }
  for (const Rec &r : Press('A', 0x1E, 'a', 0)) want.push_back(r);
  for (std::size_t chunk : {bytes.size(), std::size_t{1}, std::size_t{7}, std::size_t{64}})
    EXPECT_EQ(Decode(bytes, false, chunk), want) << "in pieces of " << chunk;
}

TEST(KeyDecoderTest, KittyKeyboardProtocol) {
  const Rec altDown{true, VK_MENU, 0x38, 0, kAlt};
  const std::vector<Case> cases = {
      {"press", "\x1b[97u", {{true, 'A', 0x1E, 'a', 0}}},
      {"release", "\x1b[97;1:3u", {{false, 'A', 0x1E, 'a', 0}}},
      {"repeat", "\x1b[97;1:2u", {{true, 'A', 0x1E, 'a', 0}}},
      {"shift with text", "\x1b[97;2;65u", {{true, 'A', 0x1E, 'A', kShift}}},
      {"shift with alternate key", "\x1b[97:65;2u", {{true, 'A', 0x1E, 'A', kShift}}},
      {"shift, nothing else", "\x1b[49;2u", {{true, '1', 0x02, '!', kShift}}},
      {"caps lock", "\x1b[97;65u", {{true, 'A', 0x1E, 'A', CAPSLOCK_ON}}},
      {"ctrl+a", "\x1b[97;5u", {{true, 'A', 0x1E, 1, kCtrl}}},
      {"alt+a", "\x1b[97;3u", {{true, 'A', 0x1E, 'a', kAlt}}},
      {"escape", "\x1b[27u", {{true, VK_ESCAPE, 0x01, 27, 0}}},
      {"ctrl+enter", "\x1b[13;5u", {{true, VK_RETURN, 0x1C, 10, kCtrl}}},
      // Keys a console gives no character with Ctrl, so that their
      // extended codes are read.
      {"ctrl+tab", "\x1b[9;5u", {{true, VK_TAB, 0x0F, 0, kCtrl}}},
      {"ctrl+keypad star", "\x1b[57411;5u", {{true, VK_MULTIPLY, 0x37, 0, kCtrl}}},
      {"ctrl+keypad minus", "\x1b[57412;5u", {{true, VK_SUBTRACT, 0x4A, 0, kCtrl}}},
      {"ctrl+keypad plus", "\x1b[57413;5u", {{true, VK_ADD, 0x4E, 0, kCtrl}}},
      {"backspace", "\x1b[127u", {{true, VK_BACK, 0x0E, 8, 0}}},
      {"keypad 0 with num lock", "\x1b[57399;129u", {{true, VK_NUMPAD0, 0x52, '0', NUMLOCK_ON}}},
      {"keypad enter", "\x1b[57414u", {{true, VK_RETURN, 0x1C, 13, kEnh}}},
      {"keypad slash", "\x1b[57410u", {{true, VK_DIVIDE, 0x35, '/', kEnh}}},
      {"keypad home, num lock off", "\x1b[57423u", {{true, VK_HOME, 0x47, 0, 0}}},
      {"up released, legacy form", "\x1b[1;1:3A", {{false, VK_UP, 0x48, 0, kEnh}}},
      {"f3", "\x1b[13~", {{true, VK_F1 + 2, 0x3D, 0, 0}}},
      {"left shift",
       "\x1b[57441;2u\x1b[57441;1:3u",
       {{true, VK_SHIFT, 0x2A, 0, kShift}, {false, VK_SHIFT, 0x2A, 0, 0}}},
      {"alt and keypad digits",
       "\x1b[57443;3u\x1b[57405;3u\x1b[57405;3:3u\x1b[57404;3u\x1b[57404;3:3u\x1b[57443;1:3u",
       {altDown,
        {true, VK_NUMPAD0 + 6, 0x4D, '6', kAlt},
        {false, VK_NUMPAD0 + 6, 0x4D, '6', kAlt},
        {true, VK_NUMPAD0 + 5, 0x4C, '5', kAlt},
        {false, VK_NUMPAD0 + 5, 0x4C, '5', kAlt},
        {false, VK_MENU, 0x38, 0, 0}}},
      {"right alt held",
       "\x1b[57449;3u\x1b[97;3u\x1b[57449;1:3u\x1b[97;3u",
       {{true, VK_MENU, 0x38, 0, kEnh | RIGHT_ALT_PRESSED},
        {true, 'A', 0x1E, 'a', RIGHT_ALT_PRESSED},
        {false, VK_MENU, 0x38, 0, kEnh},
        {true, 'A', 0x1E, 'a', kAlt}}},
      {"right ctrl held",
       "\x1b[57448;5u\x1b[99;5u",
       {{true, VK_CONTROL, 0x1D, 0, kEnh | RIGHT_CTRL_PRESSED}, {true, 'C', 0x2E, 3, RIGHT_CTRL_PRESSED}}},
      {"altgr",
       "\x1b[57453u\x1b[113;1;64u",
       {{true, VK_MENU, 0x38, 0, kEnh | RIGHT_ALT_PRESSED | kCtrl}, {true, 'Q', 0x10, '@', RIGHT_ALT_PRESSED | kCtrl}}},
      {"a key the console does not have", "\x1b[57376u", {}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Decode(c.bytes, true, c.bytes.size() + 1), c.want) << c.name;
    EXPECT_EQ(Decode(c.bytes, true, 3), c.want) << c.name << ", in pieces";
  }
}

// A cursor position report has the form of F3 with modifiers (CSI 1;m R):
// any other row is a report, and a row of 1 is one while a question is open.
TEST(KeyDecoderTest, CursorReportsAreNoKeys) {
  struct ReportCase {
    const char *name;
    int open;  // questions asked and not answered
    std::string bytes;
    std::vector<Rec> want;
    int openAfter;
  };
  const std::vector<ReportCase> cases = {
      {"a report nobody asked for", 0, "\x1b[24;80R", {}, 0},
      {"ctrl+f3, nothing asked", 0, "\x1b[1;5R", Press(VK_F1 + 2, 0x3D, 0, kCtrl), 0},
      {"the answer from the top row", 1, "\x1b[1;5R", {}, 0},
      {"the answer, then ctrl+f3", 1, "\x1b[1;1R\x1b[1;5R", Press(VK_F1 + 2, 0x3D, 0, kCtrl), 0},
      {"f3 in its other form", 1, "\x1bOR", Press(VK_F1 + 2, 0x3D, 0, 0), 1},
  };
  for (const ReportCase &c : cases) {
    for (std::size_t chunk : {c.bytes.size(), std::size_t{1}}) {
      KeyDecoderState state;
      state.positionReplies = c.open;
      EXPECT_EQ(Decode(c.bytes, state, chunk), c.want) << c.name << " in pieces of " << chunk;
      EXPECT_EQ(state.positionReplies, c.openAfter) << c.name;
    }
  }
}

TEST(TerminalRepliesTest, TakesTheRepliesOutAndKeepsTheKeys) {
  struct ReplyCase {
    const char *name;
    std::string bytes;
    std::string left;
    bool position, kitty, attributes;
    int row, column;
  };
  const std::vector<ReplyCase> cases = {
      {"all three", "\x1b[12;7R\x1b[?0u\x1b[?62;22c", "", true, true, true, 12, 7},
      {"no kitty", "\x1b[1;1R\x1b[?1;2c", "", true, false, true, 1, 1},
      {"keys around them", "ab\x1b[3;4Rc\x1b[A\x1b[?6c", "abc\x1b[A", true, false, true, 3, 4},
      {"an incomplete reply stays", "x\x1b[3;", "x\x1b[3;", false, false, false, 0, 0},
      {"a lone escape stays", "\x1b", "\x1b", false, false, false, 0, 0},
      {"ctrl+f3 typed ahead reads as a position", "\x1b[1;5R", "", true, false, false, 1, 5},
  };
  for (const ReplyCase &c : cases) {
    std::string buf = c.bytes;
    platform_posix::console_host::StartupReplies r;
    std::size_t left =
        platform_posix::console_host::ExtractReplies(reinterpret_cast<unsigned char *>(buf.data()), buf.size(), &r);
    EXPECT_EQ(buf.substr(0, left), c.left) << c.name;
    EXPECT_EQ(r.gotPosition, c.position) << c.name;
    EXPECT_EQ(r.kittyKeyboard, c.kitty) << c.name;
    EXPECT_EQ(r.gotAttributes, c.attributes) << c.name;
    if (c.position) {
      EXPECT_EQ(std::make_pair(r.row, r.column), std::make_pair(c.row, c.column)) << c.name;
    }
  }
}

}  // namespace
