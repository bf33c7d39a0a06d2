#include "textio/write_text.h"

ShortString FormatInteger(int32_t value, int32_t width, int32_t maxLength) {
  ShortString text;
  if (value == INT32_MIN) {
    // Its magnitude has no 32-bit positive counterpart.
    text = StringFrom("-2147483648");
  } else {
    char digits[10];
    int32_t count = 0;
    uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -value : value);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) text.text[text.length++] = '-';
    while (count > 0) text.text[text.length++] = digits[--count];
  }
  // A field wider than a string can hold is taken as the widest one.
  if (width > kMaxStringLength) width = kMaxStringLength;
  if (width > text.length) {
    ShortString padded = SpaceString(width - text.length);
    AppendString(padded, text);
    text = padded;
  }
  return CopyString(text, maxLength);
}
