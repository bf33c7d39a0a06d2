// Binding, opening, closing and the end-of-file test of text streams.
#pragma once

#include "textio/text_stream.h"

// Always performed, whatever ioStatus holds; forgets any previous state.
void BindStream(TextStream &stream, const ShortString &name);
void OpenForReading(TextStream &stream);
void OpenForWriting(TextStream &stream);
void OpenStream(TextStream &stream, uint32_t newMode);
void CloseStream(TextStream &stream);
bool IsEndOfFile(TextStream &stream);
