// The terminal's character set, as the locale names it: which code page 437
// character the bytes of a typed character stand for, and which bytes draw
// each cell. The tables are built once, when the set is loaded; only a set
// with characters of several bytes still asks iconv while keys are decoded.
// UTF-8 keeps the key decoder's own decoding and the UTF-8 glyphs.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>

#include "platform/posix/console_host/cp437.h"

namespace platform_posix::console_host {

// Typed text in a set other than UTF-8.
class InputCharset {
 public:
  struct Char {
    enum Kind {
      kChar,        // a character of `length` bytes
      kIncomplete,  // the bytes begin a character that has not all arrived
      kInvalid,     // the first byte begins no character of the set
    };
    Kind kind;
    std::size_t length;
    unsigned char cp437;  // the character's byte, '?' where code page 437 lacks it
  };

  InputCharset() = default;
  ~InputCharset();
  InputCharset(const InputCharset &) = delete;
  InputCharset &operator=(const InputCharset &) = delete;

  // False when iconv does not know `codeset`.
  bool Load(const char *codeset);
  // ASCII without iconv, for when iconv knows no set at all.
  void LoadAscii();
  // The character at the start of bytes[0..n), n > 0.
  Char Decode(const unsigned char *bytes, std::size_t n) const;

 private:
  static constexpr std::int16_t kInvalid = -1, kLead = -2;
  void Close();

  // Per first byte: its character's code page 437 byte when the byte is a
  // character by itself, else kInvalid or kLead.
  std::int16_t single_[256] = {};
  // Kept open only for a set with characters of several bytes.
  iconv_t multi_ = reinterpret_cast<iconv_t>(-1);
};

class TerminalCharset {
 public:
  TerminalCharset() = default;  // UTF-8
  TerminalCharset(const TerminalCharset &) = delete;
  TerminalCharset &operator=(const TerminalCharset &) = delete;

  // The set of the locale that the environment names.
  void LoadFromEnvironment();
  // A set that iconv does not know is taken for ASCII, which every terminal
  // shows alike.
  void Load(const char *codeset);

  bool IsUtf8() const { return utf8_; }
  const char *Codeset() const { return codeset_; }
  // For the key decoder: null for UTF-8.
  const InputCharset *Input() const { return utf8_ ? nullptr : &input_; }
  // For the renderer, indexed by cell byte: each glyph is one character
  // that takes one column, and never a control byte.
  const Glyph *Glyphs() const { return utf8_ ? Cp437Glyphs() : glyphs_; }

 private:
  bool utf8_ = true;
  char codeset_[64] = "UTF-8";
  InputCharset input_;
  Glyph glyphs_[256] = {};
};

// The codeset of the locale that LC_ALL, LC_CTYPE or LANG names (as
// nl_langinfo gives it), found without touching the process's own locale.
void EnvironmentCodeset(char *out, std::size_t size);

}  // namespace platform_posix::console_host
