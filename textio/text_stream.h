// The text stream record, its modes, and the process-wide I/O state shared by
// every stream operation and driver.
#pragma once

#include <cstdint>

#include "textio/short_string.h"

using OsHandle = void *;
// All bits set: the stream holds no handle.
inline const OsHandle noHandle = reinterpret_cast<OsHandle>(static_cast<intptr_t>(-1));

enum StreamMode : uint32_t {
  ModeClosed = 0xD7B0,
  ModeInput = 0xD7B1,
  ModeOutput = 0xD7B2,
  ModeInOut = 0xD7B3,
  ModeAppend = 0xD7B4,  // an open request only; the open stream then holds ModeOutput
};

constexpr int32_t kStreamBufferSize = 256;

struct TextStream;
// A driver procedure reports failure only through ioStatus.
using DriverProc = void (*)(TextStream &stream);

struct TextStream {
  OsHandle handle;
  uint32_t mode;  // a StreamMode, or anything else for "not bound"
  int32_t bufSize;
  int32_t bufPos;  // input: next byte to hand out; output: bytes waiting
  int32_t bufEnd;  // input: valid bytes in the buffer
  uint8_t *bufPtr;
  DriverProc openProc;
  DriverProc transferProc;
  DriverProc flushProc;  // may be empty
  DriverProc closeProc;
  char name[256];  // zero-terminated
  uint8_t buffer[kStreamBufferSize];
};

// Result of the last failed I/O operation; sticky until the I/O check clears it.
extern uint16_t ioStatus;
// An OS error code between a failed system call and MapOsError.
extern uint32_t lastOsError;

// The process's standard handles, fetched at start-up. An empty stream name
// opens onto them, and closing such a stream never closes the handle.
extern OsHandle stdInputHandle;
extern OsHandle stdOutputHandle;
extern OsHandle stdErrorHandle;

// I/O status codes set by the text layer itself.
enum IoStatusCode : uint16_t {
  kIoDiskWriteError = 101,
  kIoFileNotAssigned = 102,
  kIoFileNotOpen = 103,
  kIoNotOpenForInput = 104,
  kIoNotOpenForOutput = 105,
  kIoInvalidNumber = 106,
};
