// The write-statement item for a floating value.
#pragma once

#include <cstdint>

#include "textio/format_real.h"
#include "textio/text_stream.h"

// Converts `value` with FormatReal and writes the text into `stream` in a
// field of `width` (NoFieldWidth: the kind's default width). Does nothing
// while ioStatus is set; a stream not open for output sets 105 or 103.
void WriteReal(RealKind kind, int32_t decimals, int32_t width, TextStream &stream, Extended value);
