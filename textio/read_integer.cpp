#include "textio/read_integer.h"

namespace {

constexpr uint8_t kTab = 9, kLf = 10, kCr = 13, kSpace = 32;

bool IsBlank(uint8_t ch) { return ch == kTab || ch == kLf || ch == kCr || ch == kSpace; }

bool HasData(const TextStream &stream) { return stream.bufPos < stream.bufEnd; }

// Mode check shared by both reading operations; true when reading may go on.
bool CheckReadable(const TextStream &stream) {
  if (stream.mode == ModeInput) return true;
  ioStatus = stream.mode == ModeOutput ? kIoNotOpenForInput : kIoFileNotOpen;
  return false;
}

// Refills an exhausted buffer; false when the data has ended.
bool Refill(TextStream &stream) {
  if (HasData(stream)) return true;
  stream.transferProc(stream);
  return HasData(stream);
}

int32_t DigitValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return 16;
}

}  // namespace

bool TakeChar(TextStream &stream, ShortString &text, int32_t maxLength) {
  if (!HasData(stream)) return false;
  if (text.length < maxLength) text.text[text.length++] = static_cast<char>(stream.bufPtr[stream.bufPos]);
  ++stream.bufPos;
  // Refill right after the last byte is taken, before the next is needed.
  if (!HasData(stream)) stream.transferProc(stream);
  return true;
}

bool SkipBlanks(TextStream &stream) {
  ShortString scratch;
  while (HasData(stream) && IsBlank(stream.bufPtr[stream.bufPos])) {
    scratch.length = 0;
    TakeChar(stream, scratch, kMaxStringLength);
  }
  return HasData(stream);
}

void GatherToken(TextStream &stream, ShortString &token, int32_t maxLength) {
  for (;;) {
    if (!TakeChar(stream, token, maxLength)) return;
    if (token.length >= maxLength) return;
    if (HasData(stream) && IsBlank(stream.bufPtr[stream.bufPos])) return;
  }
}

int32_t ReadInteger(TextStream &stream) {
  if (ioStatus != 0) return 0;
  if (!CheckReadable(stream)) return 0;
  if (!HasData(stream)) stream.transferProc(stream);
  ShortString token;
  if (SkipBlanks(stream)) GatherToken(stream, token, kMaxStringLength);
  ParseResult parsed = ParseInteger(token);
  if (parsed.errorPos != 0) {
    ioStatus = kIoInvalidNumber;
    return 0;
  }
  return parsed.value;
}

void ReadLineEnd(TextStream &stream) {
  if (ioStatus != 0) return;
  if (!CheckReadable(stream)) return;
  auto endOfData = [&stream] {
    if (stream.flushProc != nullptr) stream.flushProc(stream);
  };
  if (!Refill(stream)) return endOfData();
  for (;;) {
    uint8_t ch = stream.bufPtr[stream.bufPos++];
    if (ch == kLf) return;
    if (!Refill(stream)) return endOfData();
    if (ch == kCr) {
      if (stream.bufPtr[stream.bufPos] == kLf) ++stream.bufPos;
      return;
    }
  }
}

ParseResult ParseInteger(const ShortString &text) {
  const int32_t length = text.length;
  // Positions are 1-based; at(i) is the character at position i.
  auto at = [&text](int32_t i) { return text.text[i - 1]; };
  int32_t i = 1;
  while (i <= length && (at(i) == '\t' || at(i) == ' ')) ++i;

  bool negative = false;
  if (i <= length) {
    if (at(i) == '+') {
      ++i;
    } else if (at(i) == '-') {
      negative = true;
      ++i;
    }
  }

  uint32_t base = 10;
  if (i <= length) {
    if (at(i) == '$') {
      base = 16;
      ++i;
      // Leading zeros of a hexadecimal number are passed over, never the last character.
      while (i < length && at(i) == '0') ++i;
    } else if (at(i) == '%') {
      base = 2;
      ++i;
    }
  }
  if (i > length) return {0, i};

  const uint64_t limit = base != 10 ? 4294967295u : negative ? 2147483648u : 2147483647u;
  uint64_t acc = 0;
  for (; i <= length; ++i) {
    uint32_t digit = static_cast<uint32_t>(DigitValue(at(i)));
    if (digit >= base) return {0, i};
    uint64_t next = acc * base + digit;  // acc <= 2^32, so this cannot overflow 64 bits
    if (next > limit) return {0, i};
    acc = next;
  }
  uint32_t bits = static_cast<uint32_t>(acc);
  if (negative) bits = 0u - bits;
  return {static_cast<int32_t>(bits), 0};
}
