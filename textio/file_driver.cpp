#include "textio/file_driver.h"

void FileOpenProc(TextStream &stream) {
  uint32_t request;
  if (stream.mode == ModeInput) {
    request = kOpenRead | kOpenAlreadyClosed;
  } else if (stream.mode == ModeOutput) {
    request = kOpenWrite | kOpenCreate | kOpenAlreadyClosed;
  } else if (stream.mode == ModeAppend) {
    request = kOpenWrite | kOpenAppend | kOpenAlreadyClosed;
  } else {
    ioStatus = kIoFileNotAssigned;
    return;
  }
  OsOpenFile(stream, stream.name, request);
  // The slots are installed even after a failed open; the caller then marks
  // the stream closed.
  stream.closeProc = FileCloseProc;
  stream.flushProc = nullptr;
  if (stream.mode == ModeInput) {
    stream.transferProc = FileFillBuffer;
  } else {
    stream.transferProc = FileEmptyBuffer;
    // Output to a character device is handed over at the end of each statement.
    if (ioStatus == 0 && IsCharDevice(stream.handle)) stream.flushProc = FileEmptyBuffer;
  }
}

void FileFillBuffer(TextStream &stream) {
  stream.bufEnd = OsRead(stream.handle, stream.bufPtr, stream.bufSize);
  stream.bufPos = 0;
}

void FileEmptyBuffer(TextStream &stream) {
  int32_t written = OsWrite(stream.handle, stream.bufPtr, stream.bufPos);
  if (written != stream.bufPos) ioStatus = kIoDiskWriteError;
  // The bytes of a failed write are dropped.
  stream.bufPos = 0;
}

void FileCloseProc(TextStream &stream) {
  OsCloseHandle(stream.handle);
  stream.handle = noHandle;
}
