// The message-box streams of a windowed program: stdError and errorOutput
// write into one shared text of 1024 characters, which is shown in a message
// box once it ends a paragraph (three line-end characters) or is full, and
// when a stream is closed.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "textio/text_stream.h"

constexpr int kMessageBoxTextSize = 1024;

// The text both streams fill, not yet shown.
struct MessageBoxText {
  char text[kMessageBoxTextSize];
  int32_t length;
};
extern MessageBoxText messageBoxText;

// How the text is shown: MessageBoxA, unless a test build links a double.
using MessageBoxProc = int(WINAPI *)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
extern MessageBoxProc messageBoxProc;

// Binds `stream` to the message box and opens it for writing.
void BindMessageStream(TextStream &stream);

// The driver: openProc, transferProc and flushProc, closeProc.
void MessageBoxOpen(TextStream &stream);
void MessageBoxFlush(TextStream &stream);
void MessageBoxClose(TextStream &stream);
