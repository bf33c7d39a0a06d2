// Turns the bytes a terminal sends for key presses into the console's key
// event records. Understands plain and control characters (UTF-8), Alt as an
// ESC prefix, xterm's cursor, editing, keypad and function key sequences with
// modifiers (CSI 1;m X, CSI n;m ~, SS3 X) and for other keys with modifiers
// (CSI 27;m;code ~, xterm's modifyOtherKeys), and the kitty keyboard protocol's
// CSI code;mods:event u with key releases and modifier keys. Every byte
// typed is a key: one that begins no character is a key of that byte.
#pragma once

#include <cstddef>

#include "platform/posix/kernel32.h"

namespace platform_posix::console_host {

class InputCharset;

struct KeyDecoderState {
  // The terminal's character set for typed text; null for UTF-8.
  const InputCharset *input = nullptr;
  // The terminal reports releases (kitty protocol): a press is then a key-down
  // record alone, and its release arrives later as the key-up record.
  bool reportsReleases = false;
  // Which modifier keys the kitty protocol has reported held, to tell the
  // right Alt and Ctrl from the left ones.
  bool leftAlt = false, rightAlt = false, leftCtrl = false, rightCtrl = false, altGr = false;
  // Cursor position questions the terminal has not answered yet: their
  // answers are replies whenever they come, never keys.
  int positionReplies = 0;
  // Device-attributes questions the terminal has not answered yet (every
  // answer is a reply, never a key; this counts them).
  int attributeReplies = 0;
};

struct DecodeResult {
  enum Kind {
    kNeedMore,  // the bytes begin a sequence that is not complete yet
    kSkip,      // the first `consumed` bytes mean no key; drop them
    kKeys,      // the first `consumed` bytes are one key: `count` records
  };
  Kind kind = kNeedMore;
  std::size_t consumed = 0;
  int count = 0;
  INPUT_RECORD records[2];
};

// Decodes the key at the start of bytes[0..n), n > 0. With `final` no more
// bytes will follow soon (the escape timeout has passed), so an incomplete
// sequence counts for what it is: a lone ESC is the Esc key, ESC [ is Alt+[.
DecodeResult DecodeKey(const unsigned char *bytes, std::size_t n, bool final, KeyDecoderState &state);

}  // namespace platform_posix::console_host
