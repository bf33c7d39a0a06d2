// Reading whole numbers and line ends from a text stream.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

struct ParseResult {
  int32_t value;
  int32_t errorPos;  // 0 on success, else 1-based index of the offending character
};

int32_t ReadInteger(TextStream &stream);
void ReadLineEnd(TextStream &stream);
ParseResult ParseInteger(const ShortString &text);

bool SkipBlanks(TextStream &stream);
void GatherToken(TextStream &stream, ShortString &token, int32_t maxLength);
bool TakeChar(TextStream &stream, ShortString &text, int32_t maxLength);
