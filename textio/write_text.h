// Writing strings, integers and line ends into a text stream's buffer.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

void WriteString(int32_t width, TextStream &stream, const ShortString &text);
void WriteInteger(int32_t width, TextStream &stream, int32_t value);
void WriteLineEnd(TextStream &stream);
// Ends a write statement that does not end the line.
void EndWrite(TextStream &stream);

void WriteSpaces(TextStream &stream, int32_t count);
void WriteBytes(TextStream &stream, const void *source, int32_t count);

// Decimal text of `value`, padded with leading blanks to `width` (none for
// width <= length) and cut to `maxLength` characters.
ShortString FormatInteger(int32_t value, int32_t width, int32_t maxLength);
