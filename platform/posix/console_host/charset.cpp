#include "platform/posix/console_host/charset.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace platform_posix::console_host {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kLongestChar = 8;  // bytes; legacy sets need at most 4

// "utf8" and "UTF-8" are the same set to iconv.
bool IsUtf8Name(const char *name) {
  const char *want = "utf8";
  for (; *name != 0; ++name) {
    if (*name == '-' || *name == '_') continue;
    if (*want == 0 || std::tolower(static_cast<unsigned char>(*name)) != *want) return false;
    ++want;
  }
  return *want == 0;
}

void CopyName(char *out, std::size_t size, const char *name, std::size_t length) {
  if (length >= size) length = size - 1;
  std::memcpy(out, name, length);
  out[length] = 0;
}

unsigned char Cp437Byte(std::uint32_t codePoint) {
  int b = Cp437FromCodePoint(codePoint);
  return static_cast<unsigned char>(b < 0 ? '?' : b);
}

struct Converted {
  InputCharset::Char::Kind kind;
  std::size_t length;
  std::uint32_t codePoint;
};

// The first character of bytes[0..n) as a code point.
Converted Convert(iconv_t cd, const unsigned char *bytes, std::size_t n) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char *in = const_cast<char *>(reinterpret_cast<const char *>(bytes));
  const std::size_t given = n < kLongestChar ? n : kLongestChar;
  std::size_t inLeft = given;
  unsigned char out[4];
  char *o = reinterpret_cast<char *>(out);
  std::size_t outLeft = sizeof out;  // room for one character, so iconv stops after it
  errno = 0;
  const int error = iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1) ? errno : 0;
  const std::size_t taken = given - inLeft;
  // Some sets hold a character back to see whether the next one combines with it.
  if (taken > 0 && outLeft == sizeof out) iconv(cd, nullptr, nullptr, &o, &outLeft);
  if (taken > 0 && outLeft == 0) {
    std::uint32_t cp = out[0] | out[1] << 8 | out[2] << 16 | static_cast<std::uint32_t>(out[3]) << 24;
    return {InputCharset::Char::kChar, taken, cp};
  }
  if (taken == 0 && error == EINVAL) return {InputCharset::Char::kIncomplete, 0, 0};
  return {InputCharset::Char::kInvalid, 0, 0};
}

// Close ASCII forms of the glyphs that a set may lack, where iconv's own
// stand-ins are longer than one character or none at all.
struct StandInEntry {
  std::uint16_t codePoint;
  char ascii;
};
// clang-format off
constexpr StandInEntry kStandIns[] = {
    // Bullets, shapes and arrows of the control codes' glyphs, and the house.
    {0x2022, 'o'}, {0x25D8, '#'}, {0x25CB, 'o'}, {0x25D9, '#'}, {0x25BA, '>'}, {0x25C4, '<'},
    {0x2195, '|'}, {0x203C, '!'}, {0x00B6, 'P'}, {0x00A7, 'S'}, {0x25AC, '-'}, {0x21A8, '|'},
    {0x2191, '^'}, {0x2193, 'v'}, {0x2192, '>'}, {0x2190, '<'}, {0x221F, 'L'}, {0x2194, '-'},
    {0x25B2, '^'}, {0x25BC, 'v'}, {0x2302, '^'},
    // Letters without their accents.
    {0x00C7, 'C'}, {0x00FC, 'u'}, {0x00E9, 'e'}, {0x00E2, 'a'}, {0x00E4, 'a'}, {0x00E0, 'a'},
    {0x00E5, 'a'}, {0x00E7, 'c'}, {0x00EA, 'e'}, {0x00EB, 'e'}, {0x00E8, 'e'}, {0x00EF, 'i'},
    {0x00EE, 'i'}, {0x00EC, 'i'}, {0x00C4, 'A'}, {0x00C5, 'A'}, {0x00C9, 'E'}, {0x00E6, 'a'},
    {0x00C6, 'A'}, {0x00F4, 'o'}, {0x00F6, 'o'}, {0x00F2, 'o'}, {0x00FB, 'u'}, {0x00F9, 'u'},
    {0x00FF, 'y'}, {0x00D6, 'O'}, {0x00DC, 'U'}, {0x00E1, 'a'}, {0x00ED, 'i'}, {0x00F3, 'o'},
    {0x00FA, 'u'}, {0x00F1, 'n'}, {0x00D1, 'N'}, {0x00DF, 's'}, {0x0192, 'f'},
    // Currency, punctuation and signs.
    {0x00A2, 'c'}, {0x00A3, 'L'}, {0x00A5, 'Y'}, {0x20A7, 'P'}, {0x00AA, 'a'}, {0x00BA, 'o'},
    {0x00BF, '?'}, {0x2310, '-'}, {0x00AC, '-'}, {0x00A1, '!'}, {0x00AB, '<'}, {0x00BB, '>'},
    {0x00A0, ' '},
    // Greek letters and mathematics.
    {0x03B1, 'a'}, {0x0393, 'G'}, {0x03C0, 'p'}, {0x03A3, 'S'}, {0x03C3, 's'}, {0x00B5, 'u'},
    {0x03C4, 't'}, {0x03A6, 'F'}, {0x0398, 'O'}, {0x03A9, 'O'}, {0x03B4, 'd'}, {0x221E, '8'},
    {0x03C6, 'f'}, {0x03B5, 'e'}, {0x2229, 'n'}, {0x2261, '='}, {0x00B1, '+'}, {0x2265, '>'},
    {0x2264, '<'}, {0x2320, '|'}, {0x2321, '|'}, {0x00F7, '/'}, {0x2248, '~'}, {0x00B0, 'o'},
    {0x2219, '.'}, {0x00B7, '.'}, {0x221A, 'v'}, {0x207F, 'n'}, {0x00B2, '2'}, {0x25A0, '#'},
};
// clang-format on

// 0 where no ASCII character comes close.
char StandIn(std::uint32_t cp) {
  if (cp >= 0x20 && cp < 0x7F) return static_cast<char>(cp);
  if (cp == 0x2500) return '-';
  if (cp == 0x2550) return '=';
  if (cp == 0x2502 || cp == 0x2551) return '|';
  if (cp > 0x2500 && cp <= 0x257F) return '+';   // corners, tees and crosses
  if (cp >= 0x2580 && cp <= 0x259F) return '#';  // blocks and shades
  for (const StandInEntry &e : kStandIns)
    if (e.codePoint == cp) return e.ascii;
  return 0;
}

// C0 and C1 control codes, which an 8-bit terminal acts on.
bool Drawable(unsigned char c) { return c >= 0x20 && c != 0x7F && (c < 0x80 || c > 0x9F); }

// Only a single byte is sure to take one column: legacy sets of several
// bytes a character draw theirs two columns wide.
Glyph DrawnAs(iconv_t cd, unsigned char b) {
  const std::uint32_t cp = Cp437CodePoint(b);
  if (cd != kNoConverter) {
    const Glyph &utf8 = Cp437Glyph(b);
    char in[sizeof utf8.bytes];
    std::memcpy(in, utf8.bytes, utf8.length);
    char out[16];
    char *i = in, *o = out;
    std::size_t inLeft = utf8.length, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    bool one = iconv(cd, &i, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0 && o - out == 1;
    const unsigned char got = one ? static_cast<unsigned char>(out[0]) : 0;
    // Translation puts '?' for what it cannot render: that is no stand-in.
    if (one && Drawable(got) && (got != '?' || cp == '?')) return {{out[0]}, 1};
  }
  const char ascii = StandIn(cp);
  return {{ascii != 0 ? ascii : '?'}, 1};
}

}  // namespace

InputCharset::~InputCharset() { Close(); }

void InputCharset::Close() {
  if (multi_ != kNoConverter) iconv_close(multi_);
  multi_ = kNoConverter;
}

bool InputCharset::Load(const char *codeset) {
  Close();
  iconv_t cd = iconv_open("UTF-32LE", codeset);
  if (cd == kNoConverter) return false;
  bool anyLead = false;
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    Converted c = Convert(cd, &byte, 1);
    if (c.kind == Char::kChar) single_[b] = Cp437Byte(c.codePoint);
    else single_[b] = c.kind == Char::kIncomplete ? kLead : kInvalid;
    anyLead = anyLead || single_[b] == kLead;
  }
  if (anyLead) multi_ = cd;
  else iconv_close(cd);
  return true;
}

void InputCharset::LoadAscii() {
  Close();
  for (unsigned b = 0; b < 256; ++b) single_[b] = b < 0x80 ? static_cast<std::int16_t>(Cp437Byte(b)) : kInvalid;
}

InputCharset::Char InputCharset::Decode(const unsigned char *bytes, std::size_t n) const {
  const std::int16_t single = single_[bytes[0]];
  if (single >= 0) return {Char::kChar, 1, static_cast<unsigned char>(single)};
  if (single == kInvalid || multi_ == kNoConverter) return {Char::kInvalid, 0, 0};
  Converted c = Convert(multi_, bytes, n);
  return {c.kind, c.length, c.kind == Char::kChar ? Cp437Byte(c.codePoint) : static_cast<unsigned char>(0)};
}

void TerminalCharset::Load(const char *codeset) {
  CopyName(codeset_, sizeof codeset_, codeset, std::strlen(codeset));
  utf8_ = IsUtf8Name(codeset);
  if (utf8_) return;
  char target[sizeof codeset_ + 16];
  std::snprintf(target, sizeof target, "%s//TRANSLIT", codeset_);
  iconv_t out = iconv_open(target, "UTF-8");
  if (out == kNoConverter || !input_.Load(codeset_)) {
    if (out != kNoConverter) iconv_close(out);
    out = iconv_open("ANSI_X3.4-1968//TRANSLIT", "UTF-8");
    // Without it every typed byte would decode as NUL.
    if (!input_.Load("ANSI_X3.4-1968")) input_.LoadAscii();
  }
  // Translation follows the thread's locale; the C locale's keeps the
  // table the same whatever locale the program runs in.
  locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
  locale_t previous = c != locale_t{} ? uselocale(c) : locale_t{};
  for (unsigned b = 0; b < 256; ++b) glyphs_[b] = DrawnAs(out, static_cast<unsigned char>(b));
  if (c != locale_t{}) {
    uselocale(previous);
    freelocale(c);
  }
  if (out != kNoConverter) iconv_close(out);
}

void TerminalCharset::LoadFromEnvironment() {
  char codeset[sizeof codeset_];
  EnvironmentCodeset(codeset, sizeof codeset);
  Load(codeset);
}

void EnvironmentCodeset(char *out, std::size_t size) {
  // The locale's name may say the set, as in "de_DE.ISO-8859-1@euro".
  const char *name = "";
  for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char *value = std::getenv(variable);
    if (value != nullptr && *value != 0) {
      name = value;
      break;
    }
  }
  const char *dot = std::strchr(name, '.');
  const bool named = dot != nullptr && dot[1] != 0 && dot[1] != '@';
  char fromName[64] = "ANSI_X3.4-1968";
  if (named) CopyName(fromName, sizeof fromName, dot + 1, std::strcspn(dot + 1, "@"));
  // A UTF-8 locale is UTF-8 whatever else it defines: no need to load it,
  // which costs a start a few dozen system calls.
  if (named && IsUtf8Name(fromName)) {
    CopyName(out, size, fromName, std::strlen(fromName));
    return;
  }
  locale_t loc = newlocale(LC_CTYPE_MASK, "", locale_t{});
  if (loc != locale_t{}) {
    const char *codeset = nl_langinfo_l(CODESET, loc);
    CopyName(out, size, codeset, std::strlen(codeset));
    freelocale(loc);
    return;
  }
  // A locale that is not installed still names the terminal's set; a name
  // without one stands for ASCII.
  CopyName(out, size, fromName, std::strlen(fromName));
}

}  // namespace platform_posix::console_host
