#include "textio/streams.h"

#include "textio/file_driver.h"

namespace {

bool IsOpenMode(uint32_t mode) { return mode == ModeInput || mode == ModeOutput || mode == ModeInOut; }

bool IsStandardHandle(OsHandle handle) {
  return handle == stdInputHandle || handle == stdOutputHandle || handle == stdErrorHandle;
}

}  // namespace

void BindStream(TextStream &stream, const ShortString &name) {
  FillBytes(&stream, sizeof stream, 0);
  stream.handle = noHandle;
  stream.mode = ModeClosed;
  stream.bufSize = kStreamBufferSize;
  stream.bufPtr = stream.buffer;
  stream.openProc = FileOpenProc;
  MoveBytes(name.text, stream.name, name.length);
}

void OpenForReading(TextStream &stream) {
  if (ioStatus != 0) return;
  OpenStream(stream, ModeInput);
}

void OpenForWriting(TextStream &stream) {
  if (ioStatus != 0) return;
  OpenStream(stream, ModeOutput);
}

void OpenStream(TextStream &stream, uint32_t newMode) {
  if (IsOpenMode(stream.mode)) {
    CloseStream(stream);
  } else if (stream.mode != ModeClosed) {
    ioStatus = kIoFileNotAssigned;
    return;
  }
  stream.mode = newMode;
  stream.bufPos = 0;
  stream.bufEnd = 0;
  stream.openProc(stream);
  if (ioStatus != 0) stream.mode = ModeClosed;
}

void CloseStream(TextStream &stream) {
  if (ioStatus != 0) return;
  if (stream.mode != ModeInput && stream.mode != ModeOutput && stream.mode != ModeAppend) {
    ioStatus = kIoFileNotOpen;
    return;
  }
  if (stream.mode == ModeOutput) stream.transferProc(stream);
  if (!IsStandardHandle(stream.handle)) stream.closeProc(stream);
  stream.mode = ModeClosed;
  stream.bufPos = 0;
  stream.bufEnd = 0;
}

bool IsEndOfFile(TextStream &stream) {
  if (ioStatus != 0) return true;
  if (stream.mode != ModeInput) {
    ioStatus = stream.mode == ModeOutput ? kIoNotOpenForInput : kIoFileNotOpen;
    return true;
  }
  if (stream.bufPos >= stream.bufEnd) {
    stream.transferProc(stream);
    if (stream.bufPos >= stream.bufEnd) return true;
  }
  return stream.bufPtr[stream.bufPos] == 0x1A;
}
