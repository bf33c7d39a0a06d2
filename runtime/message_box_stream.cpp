#include "runtime/message_box_stream.h"

#include "textio/streams.h"

MessageBoxText messageBoxText = {};

namespace {

constexpr char kCaption[] = "Error";

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Shows the text held, if any, and empties it.
void Show() {
  MessageBoxText &m = messageBoxText;
  if (m.length == 0) return;
  char text[kMessageBoxTextSize + 1];
  MoveBytes(m.text, text, m.length);
  text[m.length] = '\0';
  m.length = 0;
  messageBoxProc(nullptr, text, kCaption, MB_OK);
}

}  // namespace

void BindMessageStream(TextStream &stream) {
  BindStream(stream, ShortString{});
  stream.openProc = MessageBoxOpen;
  OpenForWriting(stream);
}

void MessageBoxOpen(TextStream &stream) {
  stream.transferProc = MessageBoxFlush;
  stream.flushProc = MessageBoxFlush;
  stream.closeProc = MessageBoxClose;
}

// What does not fit any more is dropped; a paragraph's end or a full text
// is shown at once.
void MessageBoxFlush(TextStream &stream) {
  MessageBoxText &m = messageBoxText;
  int32_t count = stream.bufPos;
  if (count > kMessageBoxTextSize - m.length) count = kMessageBoxTextSize - m.length;
  MoveBytes(stream.buffer, m.text + m.length, count);
  m.length += count;
  stream.bufPos = 0;
  const bool paragraph = m.length > 3 && IsLineEnd(m.text[m.length - 1]) && IsLineEnd(m.text[m.length - 2]) &&
                         IsLineEnd(m.text[m.length - 3]);
  if (paragraph || m.length == kMessageBoxTextSize) Show();
}

void MessageBoxClose(TextStream &) { Show(); }
