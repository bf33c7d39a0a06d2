// The terminal's character set: what draws each cell, and which set the
// environment's locale names.
#include "platform/posix/console_host/charset.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/platform/posix/iconv_sets.h"

namespace {

using platform_posix::console_host::Cp437Glyphs;
using platform_posix::console_host::Glyph;
using platform_posix::console_host::TerminalCharset;

std::string Hex(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02X", v);
  return b;
}

// On an 8-bit terminal C0 and C1 codes are controls, and a single byte is
// the only sure way to fill one column.
TEST(CharsetTest, EveryCellDrawsAsOneByteThatIsNoControlCode) {
  for (const char *codeset : {"ISO-8859-1", "ANSI_X3.4-1968", "ISO-8859-2", "KOI8-R", "GB18030", "NO-SUCH-SET"}) {
    TerminalCharset set;
    set.Load(codeset);
    ASSERT_FALSE(set.IsUtf8()) << codeset;
    for (unsigned b = 0; b < 256; ++b) {
      const Glyph &g = set.Glyphs()[b];
      ASSERT_EQ(g.length, 1) << codeset << " cell " << Hex(b);
      const unsigned char c = static_cast<unsigned char>(g.bytes[0]);
      EXPECT_FALSE(c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F))
          << codeset << " cell " << Hex(b) << " draws control byte " << Hex(c);
    }
  }
}

TEST(CharsetTest, CellsDrawAsTheSetsOwnCharacterOrAStandIn) {
  struct Case {
    const char *codeset;
    unsigned char cell;
    unsigned char want;
    const char *what;
  };
  const std::vector<Case> cases = {
      {"ISO-8859-1", 0x41, 'A', "letter"},
      {"ISO-8859-1", 0x82, 0xE9, "e acute"},
      {"ISO-8859-1", 0xE1, 0xDF, "sharp s"},
      {"ISO-8859-1", 0xFF, 0xA0, "no-break space"},
      {"ISO-8859-1", 0x00, ' ', "nul shows blank"},
      {"ISO-8859-1", 0xC4, '-', "light horizontal"},
      {"ISO-8859-1", 0xCD, '=', "double horizontal"},
      {"ISO-8859-1", 0xB1, '#', "shade"},
      {"ISO-8859-1", 0x1A, '>', "arrow, where translation gives two characters"},
      {"ISO-8859-1", 0xF2, '>', "greater or equal"},
      {"ISO-8859-1", 0x03, '?', "heart: nothing close"},
      {"ISO-8859-1", 0x3F, '?', "question mark itself"},
      {"ANSI_X3.4-1968", 0x82, 'e', "e acute"},
      {"ANSI_X3.4-1968", 0xE1, 's', "sharp s, where translation gives two characters"},
      {"ANSI_X3.4-1968", 0xC5, '+', "light cross"},
      {"ANSI_X3.4-1968", 0xDB, '#', "full block"},
      {"ISO-8859-2", 0x94, 0xF6, "o umlaut"},
      {"ISO-8859-2", 0x85, 'a', "a grave, which the set lacks"},
      {"KOI8-R", 0xC4, '-', "light horizontal, which the set has at 0x80"},
      {"KOI8-R", 0xDB, '#', "full block, which the set has at 0x8D"},
      {"KOI8-R", 0xE3, 'p', "pi"},
      {"GB18030", 0x82, 'e', "e acute, two bytes and two columns there"},
      {"NO-SUCH-SET", 0x82, 'e', "an unknown set draws ASCII"},
  };
  std::set<std::string> missing;
  for (const Case &c : cases) {
    if (std::string(c.codeset) != "NO-SUCH-SET" && !IconvConverts(c.codeset)) {
      missing.insert(c.codeset);
      continue;
    }
    TerminalCharset set;
    set.Load(c.codeset);
    const Glyph &g = set.Glyphs()[c.cell];
    EXPECT_EQ(std::string(g.bytes, g.length), std::string(1, static_cast<char>(c.want)))
        << c.codeset << " cell " << Hex(c.cell) << " (" << c.what << ")";
  }
  if (!missing.empty()) GTEST_SKIP() << SkippedSets(missing);
}

TEST(CharsetTest, Utf8KeepsTheDecoderAndTheGlyphsAsTheyAre) {
  for (const char *codeset : {"UTF-8", "utf8", "Utf_8"}) {
    TerminalCharset set;
    set.Load(codeset);
    EXPECT_TRUE(set.IsUtf8()) << codeset;
    EXPECT_EQ(set.Input(), nullptr) << codeset;
    EXPECT_EQ(set.Glyphs(), Cp437Glyphs()) << codeset;
  }
  TerminalCharset latin1;
  latin1.Load("ISO-8859-1");
  EXPECT_NE(latin1.Input(), nullptr);
}

// What stands in for iconv's ASCII where iconv knows no set decodes alike.
TEST(CharsetTest, AsciiWithoutIconvDecodesAsIconvsAscii) {
  platform_posix::console_host::InputCharset viaIconv, own;
  if (!viaIconv.Load("ANSI_X3.4-1968")) GTEST_SKIP() << SkippedSets({"ANSI_X3.4-1968"});
  own.LoadAscii();
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    const auto want = viaIconv.Decode(&byte, 1), got = own.Decode(&byte, 1);
    EXPECT_EQ(got.kind, want.kind) << b;
    if (want.kind == want.kChar) {
      EXPECT_EQ(std::make_pair(got.length, got.cp437), std::make_pair(want.length, want.cp437)) << b;
    }
  }
}

// Sets the locale variables for the life of the object, and puts them back.
class LocaleVariables {
 public:
  LocaleVariables(const char *all, const char *ctype, const char *lang) {
    const char *values[] = {all, ctype, lang};
    for (int i = 0; i < 3; ++i) {
      const char *old = std::getenv(kNames[i]);
      if (old != nullptr) saved_[i] = old;
      if (values[i] != nullptr) setenv(kNames[i], values[i], 1);
      else unsetenv(kNames[i]);
    }
  }
  ~LocaleVariables() {
    for (int i = 0; i < 3; ++i) {
      if (saved_[i]) setenv(kNames[i], saved_[i]->c_str(), 1);
      else unsetenv(kNames[i]);
    }
  }

 private:
  static constexpr const char *kNames[3] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::optional<std::string> saved_[3];
};

TEST(CharsetTest, TheSetIsTheOneTheEnvironmentsLocaleNames) {
  struct Case {
    const char *name;
    const char *all, *ctype, *lang;
    const char *want;
  };
  const std::vector<Case> cases = {
      {"c locale", "C", nullptr, nullptr, "ANSI_X3.4-1968"},
      {"nothing set", nullptr, nullptr, nullptr, "ANSI_X3.4-1968"},
      {"installed utf-8 locale", "C.UTF-8", nullptr, nullptr, "UTF-8"},
      {"lc_all before lang", "C", nullptr, "C.UTF-8", "ANSI_X3.4-1968"},
      {"lc_ctype before lang", nullptr, "C.UTF-8", "C", "UTF-8"},
      {"not installed: the set in its name", "xx_XX.ISO-8859-2", nullptr, nullptr, "ISO-8859-2"},
      {"not installed, with a modifier", nullptr, nullptr, "xx_XX.iso885915@euro", "iso885915"},
      {"not installed, no set in its name", "xx_XX", nullptr, nullptr, "ANSI_X3.4-1968"},
  };
  for (const Case &c : cases) {
    LocaleVariables variables(c.all, c.ctype, c.lang);
    char codeset[64];
    platform_posix::console_host::EnvironmentCodeset(codeset, sizeof codeset);
    EXPECT_STREQ(codeset, c.want) << c.name;
  }
}

}  // namespace
