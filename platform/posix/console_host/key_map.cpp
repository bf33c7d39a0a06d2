#include "platform/posix/console_host/key_map.h"

#include <array>

namespace platform_posix::console_host {
namespace {

constexpr WORD VK_OEM_1 = 0xBA, VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC, VK_OEM_MINUS = 0xBD, VK_OEM_PERIOD = 0xBE,
               VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0, VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC, VK_OEM_6 = 0xDD, VK_OEM_7 = 0xDE;
constexpr WORD VK_CLEAR = 0x0C, VK_SNAPSHOT = 0x2C, VK_APPS = 0x5D;

struct AsciiRow {
  unsigned char plain, shifted;
  WORD vk, scan;
};

// Every key of the main block that types a printable character.
constexpr AsciiRow kRows[] = {
    {'1', '!', '1', 0x02},           {'2', '@', '2', 0x03},          {'3', '#', '3', 0x04},
    {'4', '$', '4', 0x05},           {'5', '%', '5', 0x06},          {'6', '^', '6', 0x07},
    {'7', '&', '7', 0x08},           {'8', '*', '8', 0x09},          {'9', '(', '9', 0x0A},
    {'0', ')', '0', 0x0B},           {'-', '_', VK_OEM_MINUS, 0x0C}, {'=', '+', VK_OEM_PLUS, 0x0D},
    {'q', 'Q', 'Q', 0x10},           {'w', 'W', 'W', 0x11},          {'e', 'E', 'E', 0x12},
    {'r', 'R', 'R', 0x13},           {'t', 'T', 'T', 0x14},          {'y', 'Y', 'Y', 0x15},
    {'u', 'U', 'U', 0x16},           {'i', 'I', 'I', 0x17},          {'o', 'O', 'O', 0x18},
    {'p', 'P', 'P', 0x19},           {'[', '{', VK_OEM_4, 0x1A},     {']', '}', VK_OEM_6, 0x1B},
    {'a', 'A', 'A', 0x1E},           {'s', 'S', 'S', 0x1F},          {'d', 'D', 'D', 0x20},
    {'f', 'F', 'F', 0x21},           {'g', 'G', 'G', 0x22},          {'h', 'H', 'H', 0x23},
    {'j', 'J', 'J', 0x24},           {'k', 'K', 'K', 0x25},          {'l', 'L', 'L', 0x26},
    {';', ':', VK_OEM_1, 0x27},      {'\'', '"', VK_OEM_7, 0x28},    {'`', '~', VK_OEM_3, 0x29},
    {'\\', '|', VK_OEM_5, 0x2B},     {'z', 'Z', 'Z', 0x2C},          {'x', 'X', 'X', 0x2D},
    {'c', 'C', 'C', 0x2E},           {'v', 'V', 'V', 0x2F},          {'b', 'B', 'B', 0x30},
    {'n', 'N', 'N', 0x31},           {'m', 'M', 'M', 0x32},          {',', '<', VK_OEM_COMMA, 0x33},
    {'.', '>', VK_OEM_PERIOD, 0x34}, {'/', '?', VK_OEM_2, 0x35},     {' ', ' ', VK_SPACE, 0x39},
};

struct AsciiEntry {
  KeyIdentity key;
  unsigned char plain, shifted;
  bool present;
};

constexpr std::array<AsciiEntry, 128> MakeAscii() {
  std::array<AsciiEntry, 128> t{};
  for (const AsciiRow &r : kRows) {
    t[r.plain] = {{r.vk, r.scan, r.plain, 0}, r.plain, r.shifted, true};
    if (r.shifted != r.plain) t[r.shifted] = {{r.vk, r.scan, r.shifted, SHIFT_PRESSED}, r.plain, r.shifted, true};
  }
  return t;
}

constexpr std::array<AsciiEntry, 128> kAscii = MakeAscii();

constexpr KeyIdentity Key(WORD vk, WORD scan, unsigned char ch = 0, DWORD state = 0) { return {vk, scan, ch, state}; }

// In the order of Named, and laid out as it is.
// clang-format off
constexpr KeyIdentity kNamed[] = {
    Key(VK_UP, 0x48, 0, ENHANCED_KEY), Key(VK_DOWN, 0x50, 0, ENHANCED_KEY),
    Key(VK_RIGHT, 0x4D, 0, ENHANCED_KEY), Key(VK_LEFT, 0x4B, 0, ENHANCED_KEY),
    Key(VK_HOME, 0x47, 0, ENHANCED_KEY), Key(VK_END, 0x4F, 0, ENHANCED_KEY),
    Key(VK_PRIOR, 0x49, 0, ENHANCED_KEY), Key(VK_NEXT, 0x51, 0, ENHANCED_KEY),
    Key(VK_INSERT, 0x52, 0, ENHANCED_KEY), Key(VK_DELETE, 0x53, 0, ENHANCED_KEY),
    Key(VK_CLEAR, 0x4C),
    Key(VK_F1, 0x3B), Key(VK_F1 + 1, 0x3C), Key(VK_F1 + 2, 0x3D), Key(VK_F1 + 3, 0x3E),
    Key(VK_F1 + 4, 0x3F), Key(VK_F1 + 5, 0x40), Key(VK_F1 + 6, 0x41), Key(VK_F1 + 7, 0x42),
    Key(VK_F1 + 8, 0x43), Key(VK_F1 + 9, 0x44), Key(VK_F1 + 10, 0x57), Key(VK_F1 + 11, 0x58),
    Key(VK_ESCAPE, 0x01, 27), Key(VK_RETURN, 0x1C, 13), Key(VK_TAB, 0x0F, 9),
    Key(VK_BACK, 0x0E, 8),
    Key(VK_NUMPAD0, 0x52, '0'), Key(VK_NUMPAD0 + 1, 0x4F, '1'), Key(VK_NUMPAD0 + 2, 0x50, '2'),
    Key(VK_NUMPAD0 + 3, 0x51, '3'), Key(VK_NUMPAD0 + 4, 0x4B, '4'), Key(VK_NUMPAD0 + 5, 0x4C, '5'),
    Key(VK_NUMPAD0 + 6, 0x4D, '6'), Key(VK_NUMPAD0 + 7, 0x47, '7'), Key(VK_NUMPAD0 + 8, 0x48, '8'),
    Key(VK_NUMPAD0 + 9, 0x49, '9'),
    Key(VK_DECIMAL, 0x53, '.'), Key(VK_DIVIDE, 0x35, '/', ENHANCED_KEY), Key(VK_MULTIPLY, 0x37, '*'),
    Key(VK_SUBTRACT, 0x4A, '-'), Key(VK_ADD, 0x4E, '+'), Key(VK_RETURN, 0x1C, 13, ENHANCED_KEY),
    Key(VK_UP, 0x48), Key(VK_DOWN, 0x50), Key(VK_RIGHT, 0x4D), Key(VK_LEFT, 0x4B),
    Key(VK_HOME, 0x47), Key(VK_END, 0x4F), Key(VK_PRIOR, 0x49), Key(VK_NEXT, 0x51),
    Key(VK_INSERT, 0x52), Key(VK_DELETE, 0x53), Key(VK_CLEAR, 0x4C),
    Key(VK_SHIFT, 0x2A), Key(VK_SHIFT, 0x36), Key(VK_CONTROL, 0x1D),
    Key(VK_CONTROL, 0x1D, 0, ENHANCED_KEY), Key(VK_MENU, 0x38), Key(VK_MENU, 0x38, 0, ENHANCED_KEY),
    Key(VK_MENU, 0x38, 0, ENHANCED_KEY),
    Key(VK_CAPITAL, 0x3A), Key(VK_NUMLOCK, 0x45, 0, ENHANCED_KEY), Key(VK_SCROLL, 0x46),
    Key(VK_PAUSE, 0x45), Key(VK_SNAPSHOT, 0x37, 0, ENHANCED_KEY), Key(VK_APPS, 0x5D, 0, ENHANCED_KEY),
};
// clang-format on
static_assert(sizeof kNamed / sizeof kNamed[0] == static_cast<int>(Named::kMenu) + 1);

}  // namespace

bool KeyForAscii(unsigned char c, KeyIdentity *out) {
  if (c >= 128 || !kAscii[c].present) return false;
  *out = kAscii[c].key;
  return true;
}

unsigned char ShiftedAscii(unsigned char c) {
  if (c >= 128 || !kAscii[c].present) return c;
  return kAscii[c].shifted;
}

unsigned char UnshiftedAscii(unsigned char c) {
  if (c >= 128 || !kAscii[c].present) return c;
  return kAscii[c].plain;
}

unsigned char ControlCharFor(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 1);
  switch (c) {
    case '2':
    case '@': return 0;
    case '[': return 0x1B;
    case '\\': return 0x1C;
    case ']': return 0x1D;
    case '6': return 0x1E;
    case '-': return 0x1F;
    case ' ': return ' ';
    default: return 0;
  }
}

const KeyIdentity &NamedKey(Named key) { return kNamed[static_cast<int>(key)]; }

}  // namespace platform_posix::console_host
