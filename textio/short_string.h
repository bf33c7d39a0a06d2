// Length-prefixed strings of at most 255 characters, and the byte steps the
// text layer is built from. Every message, file name, token and formatted
// number in the run-time layer is one of these; none touches the heap.
#pragma once

#include <cstdint>
#include <string_view>

constexpr int32_t kMaxStringLength = 255;

struct ShortString {
  uint8_t length = 0;
  char text[kMaxStringLength] = {};
};

// Literal text (cut to 255 characters) as a ShortString.
ShortString StringFrom(std::string_view text);
inline std::string_view StringView(const ShortString &s) { return {s.text, s.length}; }

// A string of `count` blanks; the count is taken as a byte (count mod 256).
ShortString SpaceString(int32_t count);
// A copy of `source` cut to at most `maxLength` characters (0 or less: empty).
ShortString CopyString(const ShortString &source, int32_t maxLength);
// Appends `tail`, cutting so that the result stays at most 255 characters.
void AppendString(ShortString &target, const ShortString &tail);

// Copies `count` bytes; overlapping ranges are copied in the safe direction.
void MoveBytes(const void *source, void *target, int32_t count);
void FillBytes(void *target, int32_t count, uint8_t value);
