// The file driver (disk files and standard handles through the OS) and the
// thin OS layer beneath it.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

void FileOpenProc(TextStream &stream);
void FileFillBuffer(TextStream &stream);
void FileEmptyBuffer(TextStream &stream);
void FileCloseProc(TextStream &stream);

// Open request bits.
constexpr uint32_t kOpenRead = 0x0;
constexpr uint32_t kOpenWrite = 0x1;
constexpr uint32_t kOpenReadWrite = 0x2;
constexpr uint32_t kOpenAccessMask = 0x3;
constexpr uint32_t kOpenAppend = 0x100;
constexpr uint32_t kOpenCreate = 0x1000;
constexpr uint32_t kOpenAlreadyClosed = 0x10000;

void OsOpenFile(TextStream &stream, char *fileName, uint32_t openRequest);
int32_t OsRead(OsHandle handle, void *destination, int32_t count);
int32_t OsWrite(OsHandle handle, const void *source, int32_t count);
void OsCloseHandle(OsHandle handle);
void OsSeekEnd(OsHandle handle);
bool IsCharDevice(OsHandle handle);
void MapOsError();
void FixSlashes(char *fileName);
