#include "textio/short_string.h"

#include <cstring>

ShortString StringFrom(std::string_view text) {
  ShortString s;
  s.length = static_cast<uint8_t>(text.size() > kMaxStringLength ? kMaxStringLength : text.size());
  MoveBytes(text.data(), s.text, s.length);
  return s;
}

ShortString SpaceString(int32_t count) {
  ShortString s;
  s.length = static_cast<uint8_t>(count);
  FillBytes(s.text, s.length, ' ');
  return s;
}

ShortString CopyString(const ShortString &source, int32_t maxLength) {
  ShortString s;
  int32_t n = source.length;
  if (n > maxLength) n = maxLength < 0 ? 0 : maxLength;
  s.length = static_cast<uint8_t>(n);
  MoveBytes(source.text, s.text, n);
  return s;
}

void AppendString(ShortString &target, const ShortString &tail) {
  int32_t n = tail.length;
  if (n > kMaxStringLength - target.length) n = kMaxStringLength - target.length;
  MoveBytes(tail.text, target.text + target.length, n);
  target.length = static_cast<uint8_t>(target.length + n);
}

void MoveBytes(const void *source, void *target, int32_t count) {
  if (count > 0) std::memmove(target, source, static_cast<size_t>(count));
}

void FillBytes(void *target, int32_t count, uint8_t value) {
  if (count > 0) std::memset(target, value, static_cast<size_t>(count));
}
