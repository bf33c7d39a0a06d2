// DOS names on a POSIX file system: "X:\a\b.txt" lives at
// "$GRADES_DRIVE_ROOT/x/a/b.txt" (default root /mnt, where WSL mounts the
// Windows drives); any other name is relative to the working directory.
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_internal.h"

namespace platform_posix {

namespace {

bool IsDriveLetter(char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }

}  // namespace

bool MapDosPath(const char *dosName, char *out, std::size_t outSize) {
  std::size_t n = 0;
  auto put = [&](char ch) {
    if (n + 1 >= outSize) return false;
    out[n++] = ch;
    return true;
  };
  const char *rest = dosName;
  if (IsDriveLetter(dosName[0]) && dosName[1] == ':') {
    const char *root = std::getenv("GRADES_DRIVE_ROOT");
    if (root == nullptr || root[0] == '\0') root = "/mnt";
    for (const char *p = root; *p != '\0'; ++p)
      if (!put(*p)) return false;
    if (n > 0 && out[n - 1] == '/') --n;
    char letter = dosName[0];
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    if (!put('/') || !put(letter)) return false;
    rest = dosName + 2;
    // "X:name" (relative to the drive's current folder) is taken from its root.
    if (*rest != '\\' && *rest != '/' && *rest != '\0' && !put('/')) return false;
  }
  for (const char *p = rest; *p != '\0'; ++p)
    if (!put(*p == '\\' ? '/' : *p)) return false;
  out[n] = '\0';
  return true;
}

}  // namespace platform_posix
