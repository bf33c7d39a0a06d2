#include "textio/write_real.h"

#include "textio/write_text.h"

void WriteReal(RealKind kind, int32_t decimals, int32_t width, TextStream &stream, Extended value) {
  if (ioStatus != 0) return;
  ShortString text;
  FormatReal(width, decimals, value, kind, text, kMaxStringLength);
  // The text already fills widths up to 255; WriteString pads wider fields.
  WriteString(width, stream, text);
}
