#include "textio/write_text.h"

namespace {

// Mode check shared by the writing operations; true when writing may go on.
bool CheckWritable(const TextStream &stream) {
  if (stream.mode == ModeOutput) return true;
  ioStatus = stream.mode == ModeInput ? kIoNotOpenForOutput : kIoFileNotOpen;
  return false;
}

// Puts `count` bytes into the buffer in pieces, emptying it whenever a piece
// needs more room than is left. A buffer filled exactly stays full.
template <typename PutFn>
void FillBuffer(TextStream &stream, int32_t count, PutFn put) {
  int32_t room = stream.bufSize - stream.bufPos;
  while (count > room) {
    put(stream.bufPtr + stream.bufPos, room);
    count -= room;
    stream.bufPos += room;
    stream.transferProc(stream);
    room = stream.bufSize - stream.bufPos;
  }
  if (count > 0) {
    put(stream.bufPtr + stream.bufPos, count);
    stream.bufPos += count;
  }
}

}  // namespace

void WriteSpaces(TextStream &stream, int32_t count) {
  FillBuffer(stream, count, [](uint8_t *at, int32_t n) { FillBytes(at, n, ' '); });
}

void WriteBytes(TextStream &stream, const void *source, int32_t count) {
  const uint8_t *from = static_cast<const uint8_t *>(source);
  FillBuffer(stream, count, [&from](uint8_t *at, int32_t n) {
    MoveBytes(from, at, n);
    from += n;
  });
}

void WriteString(int32_t width, TextStream &stream, const ShortString &text) {
  if (ioStatus != 0) return;
  if (!CheckWritable(stream)) return;
  if (text.length < width) WriteSpaces(stream, width - text.length);
  WriteBytes(stream, text.text, text.length);
}

void WriteInteger(int32_t width, TextStream &stream, int32_t value) {
  if (ioStatus != 0) return;
  WriteString(width, stream, FormatInteger(value, -1, kMaxStringLength));
}

void WriteLineEnd(TextStream &stream) {
  if (ioStatus != 0) return;
  if (!CheckWritable(stream)) return;
  static constexpr uint8_t kCrLf[2] = {13, 10};
  WriteBytes(stream, kCrLf, 2);
  if (stream.flushProc != nullptr) stream.flushProc(stream);
}

void EndWrite(TextStream &stream) {
  if (stream.flushProc != nullptr) stream.flushProc(stream);
}
