// The core module: process information and the standard streams; and the
// two other standard modules every program's table starts with.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "runtime/startup.h"
#include "textio/text_stream.h"

// Recorded by CoreInit for the program's use.
extern STARTUPINFOA startupInfo;
extern HMODULE moduleInstance;
extern uint16_t showWindow;
extern const char *commandLine;

void CoreInit();
// How a windowed program's error streams are bound (BindMessageStream): set
// by WindowedEntry, so that only a windowed program links the message box.
extern void (*bindMessageStream)(TextStream &stream);
// Binds `stream` to `handle` on the file driver, open in `mode` (ModeInput or
// ModeOutput; any other is run-time error 102). Output streams are written
// out at the end of every write statement.
void BindStdStream(TextStream &stream, uint32_t mode, OsHandle handle);

// The resource-string module: the program has no such strings.
void InitResourceStrings();
void FinalResourceStrings();

// The disk-space function loader: looks up GetDiskFreeSpaceExA where the
// system has it; the finalisation releases the library.
extern HMODULE diskSpaceLibrary;
extern FARPROC diskFreeSpaceFunction;
void InitDiskSpaceLoader();
void FinalDiskSpaceLoader();

inline constexpr ModuleEntry kCoreModule = {CoreInit, nullptr};
inline constexpr ModuleEntry kResourceStringModule = {InitResourceStrings, FinalResourceStrings};
inline constexpr ModuleEntry kDiskSpaceModule = {InitDiskSpaceLoader, FinalDiskSpaceLoader};
