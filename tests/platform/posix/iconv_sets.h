// Which character sets the C library can convert here. A processor's C
// library may come without its conversion modules (a cross build's root,
// under an emulator): then only ASCII and the Unicode forms are known, and
// the rows of other sets are skipped, loudly.
#pragma once

#include <iconv.h>

#include <set>
#include <string>

inline bool IconvConverts(const std::string &codeset) {
  iconv_t cd = iconv_open("UTF-32LE", codeset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

// "SKIPPED: ..." for the sets in `missing`, empty when none is.
inline std::string SkippedSets(const std::set<std::string> &missing) {
  if (missing.empty()) return "";
  std::string names;
  for (const std::string &name : missing) names += (names.empty() ? "" : ", ") + name;
  return "SKIPPED: the rows of " + names + ": this C library has no conversion for them here";
}
