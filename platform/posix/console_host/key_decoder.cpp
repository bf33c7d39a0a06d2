#include "platform/posix/console_host/key_decoder.h"

#include "platform/posix/console_host/charset.h"
#include "platform/posix/console_host/cp437.h"
#include "platform/posix/console_host/key_map.h"

namespace platform_posix::console_host {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr std::size_t kMaxSequence = 64;

// Modifier bits of xterm's and the kitty protocol's modifier parameter (value − 1).
constexpr int kModShift = 1, kModAlt = 2, kModCtrl = 4, kModCaps = 64, kModNum = 128;

enum class Event { kPress, kRepeat, kRelease };

INPUT_RECORD Record(bool down, const KeyIdentity &key, unsigned char ch, DWORD state) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  KEY_EVENT_RECORD &k = r.Event.KeyEvent;
  k.bKeyDown = down ? TRUE : FALSE;
  k.wRepeatCount = 1;
  k.wVirtualKeyCode = key.vk;
  k.wVirtualScanCode = key.scan;
  k.uChar.UnicodeChar = 0;
  k.uChar.AsciiChar = static_cast<CHAR>(ch);
  k.dwControlKeyState = state;
  return r;
}

DecodeResult Skip(std::size_t n) {
  DecodeResult r;
  r.kind = DecodeResult::kSkip;
  r.consumed = n;
  return r;
}

DecodeResult NeedMore() { return DecodeResult{}; }

// One key event. Without release reports a press is a key-down record and a
// key-up record at once, as the console delivers a key that was typed.
DecodeResult KeyEvent(const KeyIdentity &key, unsigned char ch, DWORD state, Event event, std::size_t consumed,
                      const KeyDecoderState &st) {
  DecodeResult r;
  r.kind = DecodeResult::kKeys;
  r.consumed = consumed;
  if (event == Event::kRelease) {
    r.records[r.count++] = Record(false, key, ch, state);
  } else {
    r.records[r.count++] = Record(true, key, ch, state);
    if (!st.reportsReleases) r.records[r.count++] = Record(false, key, ch, state);
  }
  return r;
}

DecodeResult Typed(const KeyIdentity &key, unsigned char ch, DWORD state, std::size_t consumed,
                   const KeyDecoderState &st) {
  return KeyEvent(key, ch, state | key.state, Event::kPress, consumed, st);
}

DWORD StateFromMods(int mods, const KeyDecoderState &st) {
  DWORD state = 0;
  if (mods & kModShift) state |= SHIFT_PRESSED;
  if (mods & kModAlt) state |= (st.rightAlt || st.altGr) && !st.leftAlt ? RIGHT_ALT_PRESSED : LEFT_ALT_PRESSED;
  if (mods & kModCtrl) state |= st.rightCtrl && !st.leftCtrl ? RIGHT_CTRL_PRESSED : LEFT_CTRL_PRESSED;
  if (mods & kModCaps) state |= CAPSLOCK_ON;
  if (mods & kModNum) state |= NUMLOCK_ON;
  if (st.altGr) state |= RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;
  return state;
}

// A single byte below 128, other than ESC.
DecodeResult DecodeAscii(unsigned char c, const KeyDecoderState &st) {
  KeyIdentity key{};
  switch (c) {
    case 0x08:
    case 0x7F: return Typed(NamedKey(Named::kBackspace), 8, 0, 1, st);
    case 0x09: return Typed(NamedKey(Named::kTab), 9, 0, 1, st);
    case 0x0D: return Typed(NamedKey(Named::kEnter), 13, 0, 1, st);
    case 0x0A: return Typed(NamedKey(Named::kEnter), 10, LEFT_CTRL_PRESSED, 1, st);
    default: break;
  }
  if (c >= 0x20) {
    KeyForAscii(c, &key);
    return Typed(key, c, 0, 1, st);
  }
  // Ctrl with a letter or one of the keys that have a control character.
  static constexpr unsigned char kCtrlKey[32] = {'2', 'a', 'b', 'c', 'd', 'e', 'f',  'g', 'h', 'i', 'j',
                                                 'k', 'l', 'm', 'n', 'o', 'p', 'q',  'r', 's', 't', 'u',
                                                 'v', 'w', 'x', 'y', 'z', '[', '\\', ']', '6', '-'};
  KeyForAscii(kCtrlKey[c], &key);
  DWORD state = LEFT_CTRL_PRESSED | (c >= 0x1E ? SHIFT_PRESSED : 0);
  return Typed(key, c, state, 1, st);
}

// A byte that begins no character still counts as a key: that byte.
DecodeResult LoneByte(unsigned char c, const KeyDecoderState &st) { return Typed(KeyIdentity{}, c, 0, 1, st); }

DecodeResult DecodeUtf8(const unsigned char *p, std::size_t n, bool final, const KeyDecoderState &st) {
  unsigned char lead = p[0];
  std::size_t len;
  std::uint32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) len = 2, cp = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) len = 3, cp = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) len = 4, cp = lead & 0x07;
  else return LoneByte(lead, st);
  for (std::size_t i = 1; i < len; ++i) {
    if (i >= n) return final ? LoneByte(lead, st) : NeedMore();
    if ((p[i] & 0xC0) != 0x80) return LoneByte(lead, st);
    // Overlong forms, surrogates and code points past U+10FFFF.
    if (i == 1 && ((lead == 0xE0 && p[1] < 0xA0) || (lead == 0xED && p[1] > 0x9F) || (lead == 0xF0 && p[1] < 0x90) ||
                   (lead == 0xF4 && p[1] > 0x8F)))
      return LoneByte(lead, st);
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  int b = Cp437FromCodePoint(cp);
  KeyIdentity key{};
  return Typed(key, static_cast<unsigned char>(b < 0 ? '?' : b), 0, len, st);
}

DecodeResult DecodeInSet(const InputCharset &set, const unsigned char *p, std::size_t n, bool final,
                         const KeyDecoderState &st) {
  InputCharset::Char c = set.Decode(p, n);
  if (c.kind == InputCharset::Char::kChar) return Typed(KeyIdentity{}, c.cp437, 0, c.length, st);
  if (c.kind == InputCharset::Char::kIncomplete && !final) return NeedMore();
  return LoneByte(p[0], st);
}

// A parsed control sequence: ESC [ marker params intermediate final.
struct Csi {
  static constexpr int kMaxParams = 4, kMaxSub = 3;
  unsigned char marker = 0;
  int params[kMaxParams][kMaxSub];
  int paramCount = 0;
  bool hasIntermediate = false;
  unsigned char final = 0;
  std::size_t length = 0;

  int Get(int i, int sub, int fallback) const {
    if (i >= paramCount || params[i][sub] < 0) return fallback;
    return params[i][sub];
  }
};

enum class Parse { kComplete, kIncomplete, kBroken };

Parse ParseCsi(const unsigned char *p, std::size_t n, Csi *csi) {
  for (auto &row : csi->params)
    for (int &v : row) v = -1;
  std::size_t i = 2;
  if (i < n && p[i] >= 0x3C && p[i] <= 0x3F) csi->marker = p[i++];
  int param = 0, sub = 0;
  bool any = false;
  for (; i < n; ++i) {
    unsigned char c = p[i];
    if (i >= kMaxSequence) break;
    if (c >= '0' && c <= '9') {
      any = true;
      if (param < Csi::kMaxParams && sub < Csi::kMaxSub) {
        int &v = csi->params[param][sub];
        int soFar = v < 0 ? 0 : v;
        v = soFar > 9999999 ? soFar : soFar * 10 + (c - '0');
      }
    } else if (c == ';') {
      any = true;
      ++param;
      sub = 0;
    } else if (c == ':') {
      any = true;
      ++sub;
    } else if (c >= 0x20 && c <= 0x2F) {
      csi->hasIntermediate = true;
    } else if (c >= 0x40 && c <= 0x7E) {
      csi->final = c;
      csi->length = i + 1;
      csi->paramCount = any ? (param + 1 < Csi::kMaxParams ? param + 1 : Csi::kMaxParams) : 0;
      return Parse::kComplete;
    } else {
      csi->length = i;
      return Parse::kBroken;
    }
  }
  if (i < kMaxSequence) return Parse::kIncomplete;
  // Too long for a key: its first kMaxSequence bytes are dropped, whatever
  // follows them, so that what comes after does not depend on how much of
  // it has arrived yet.
  csi->length = kMaxSequence;
  return Parse::kBroken;
}

Event EventOf(int code) {
  if (code == 2) return Event::kRepeat;
  if (code == 3) return Event::kRelease;
  return Event::kPress;
}

// The character a key without text of its own types with these modifiers.
unsigned char NamedChar(Named name, int mods) {
  const KeyIdentity &key = NamedKey(name);
  if (mods & kModCtrl) {
    switch (name) {
      case Named::kEnter:
      case Named::kKpEnter: return 10;
      case Named::kBackspace: return 0x7F;
      // A console gives these no character with Ctrl: a program reads
      // their extended codes instead.
      case Named::kTab:
      case Named::kKpMultiply:
      case Named::kKpSubtract:
      case Named::kKpAdd: return 0;
      default: break;
    }
  }
  return key.ch;
}

// A named key with xterm or kitty modifiers and event type.
DecodeResult NamedEvent(Named name, int mods, Event event, std::size_t consumed, KeyDecoderState &st) {
  const KeyIdentity &key = NamedKey(name);
  DWORD own = 0;
  bool *held = nullptr;
  switch (name) {
    case Named::kLeftShift:
    case Named::kRightShift: own = SHIFT_PRESSED; break;
    case Named::kLeftCtrl:
      own = LEFT_CTRL_PRESSED;
      held = &st.leftCtrl;
      break;
    case Named::kRightCtrl:
      own = RIGHT_CTRL_PRESSED;
      held = &st.rightCtrl;
      break;
    case Named::kLeftAlt:
      own = LEFT_ALT_PRESSED;
      held = &st.leftAlt;
      break;
    case Named::kRightAlt:
      own = RIGHT_ALT_PRESSED;
      held = &st.rightAlt;
      break;
    case Named::kAltGr:
      own = RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;
      held = &st.altGr;
      break;
    default: break;
  }
  // A modifier key's own press counts it as held; its release no longer.
  if (held != nullptr) *held = event != Event::kRelease;
  DWORD state = StateFromMods(mods, st) | key.state;
  if (own != 0) {
    state = event == Event::kRelease ? (state & ~own) : (state | own);
  }
  return KeyEvent(key, NamedChar(name, mods), state, event, consumed, st);
}

DecodeResult LegacyFinal(unsigned char final, int mods, Event event, std::size_t len, KeyDecoderState &st) {
  switch (final) {
    case 'A': return NamedEvent(Named::kUp, mods, event, len, st);
    case 'B': return NamedEvent(Named::kDown, mods, event, len, st);
    case 'C': return NamedEvent(Named::kRight, mods, event, len, st);
    case 'D': return NamedEvent(Named::kLeft, mods, event, len, st);
    case 'H': return NamedEvent(Named::kHome, mods, event, len, st);
    case 'F': return NamedEvent(Named::kEnd, mods, event, len, st);
    case 'E': return NamedEvent(Named::kKpBegin, mods, event, len, st);
    case 'P': return NamedEvent(Named::kF1, mods, event, len, st);
    case 'Q': return NamedEvent(Named::kF2, mods, event, len, st);
    case 'R': return NamedEvent(Named::kF3, mods, event, len, st);
    case 'S': return NamedEvent(Named::kF4, mods, event, len, st);
    case 'Z': return NamedEvent(Named::kTab, mods | kModShift, event, len, st);
    default: return Skip(len);
  }
}

DecodeResult Tilde(int number, int mods, Event event, std::size_t len, KeyDecoderState &st) {
  Named name;
  switch (number) {
    case 1:
    case 7: name = Named::kHome; break;
    case 2: name = Named::kInsert; break;
    case 3: name = Named::kDelete; break;
    case 4:
    case 8: name = Named::kEnd; break;
    case 5: name = Named::kPageUp; break;
    case 6: name = Named::kPageDown; break;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15: name = static_cast<Named>(static_cast<int>(Named::kF1) + number - 11); break;
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: name = static_cast<Named>(static_cast<int>(Named::kF6) + number - 17); break;
    case 23: name = Named::kF11; break;
    case 24: name = Named::kF12; break;
    default: return Skip(len);
  }
  return NamedEvent(name, mods, event, len, st);
}

// Private-use key codes of the kitty protocol for keys without a character.
bool KittyNamed(int code, Named *out) {
  if (code >= 57399 && code <= 57408) {
    *out = static_cast<Named>(static_cast<int>(Named::kKp0) + code - 57399);
    return true;
  }
  switch (code) {
    case 27: *out = Named::kEscape; return true;
    case 13: *out = Named::kEnter; return true;
    case 9: *out = Named::kTab; return true;
    case 127: *out = Named::kBackspace; return true;
    case 57358: *out = Named::kCapsLock; return true;
    case 57359: *out = Named::kScrollLock; return true;
    case 57360: *out = Named::kNumLock; return true;
    case 57361: *out = Named::kPrintScreen; return true;
    case 57362: *out = Named::kPause; return true;
    case 57363: *out = Named::kMenu; return true;
    case 57409: *out = Named::kKpDecimal; return true;
    case 57410: *out = Named::kKpDivide; return true;
    case 57411: *out = Named::kKpMultiply; return true;
    case 57412: *out = Named::kKpSubtract; return true;
    case 57413: *out = Named::kKpAdd; return true;
    case 57414: *out = Named::kKpEnter; return true;
    case 57417: *out = Named::kKpLeft; return true;
    case 57418: *out = Named::kKpRight; return true;
    case 57419: *out = Named::kKpUp; return true;
    case 57420: *out = Named::kKpDown; return true;
    case 57421: *out = Named::kKpPageUp; return true;
    case 57422: *out = Named::kKpPageDown; return true;
    case 57423: *out = Named::kKpHome; return true;
    case 57424: *out = Named::kKpEnd; return true;
    case 57425: *out = Named::kKpInsert; return true;
    case 57426: *out = Named::kKpDelete; return true;
    case 57427: *out = Named::kKpBegin; return true;
    case 57441: *out = Named::kLeftShift; return true;
    case 57442: *out = Named::kLeftCtrl; return true;
    case 57443: *out = Named::kLeftAlt; return true;
    case 57447: *out = Named::kRightShift; return true;
    case 57448: *out = Named::kRightCtrl; return true;
    case 57449: *out = Named::kRightAlt; return true;
    case 57453: *out = Named::kAltGr; return true;
    default: return false;
  }
}

unsigned char CharOf(std::uint32_t cp) {
  int b = Cp437FromCodePoint(cp);
  return static_cast<unsigned char>(b < 0 ? '?' : b);
}

// A key that types a character, by its code: `code` the character without
// Shift, `shifted` what Shift makes of it and `text` what it typed (-1
// where the terminal did not say), `base` the character of the key in the
// US layout.
DecodeResult CharacterKey(int code, int shifted, int base, int text, int mods, Event event, std::size_t len,
                          KeyDecoderState &st) {
  KeyIdentity key{};
  if (base < 128) KeyForAscii(static_cast<unsigned char>(base), &key);
  key.state = 0;
  unsigned char ch;
  if (text > 0) {
    ch = CharOf(static_cast<std::uint32_t>(text));
  } else if ((mods & kModCtrl) && !st.altGr) {
    ch = code < 128 ? ControlCharFor(static_cast<unsigned char>(code)) : 0;
  } else if (mods & kModShift) {
    ch = shifted > 0  ? CharOf(static_cast<std::uint32_t>(shifted))
         : code < 128 ? ShiftedAscii(static_cast<unsigned char>(code))
                      : CharOf(static_cast<std::uint32_t>(code));
  } else {
    ch = CharOf(static_cast<std::uint32_t>(code));
  }
  if (text <= 0 && (mods & kModCaps) && !(mods & kModCtrl)) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<unsigned char>(ch - 32);
    else if (ch >= 'A' && ch <= 'Z') ch = static_cast<unsigned char>(ch + 32);
  }
  return KeyEvent(key, ch, StateFromMods(mods, st), event, len, st);
}

// xterm's form for keys with modifiers that have no sequence of their own
// (modifyOtherKeys): CSI 27 ; mods ; code ~, where `code` is the character
// the key types with Shift applied (Ctrl+Shift+A: 65).
DecodeResult OtherKey(int code, int mods, std::size_t len, KeyDecoderState &st) {
  Named name;
  if (code == 8) return NamedEvent(Named::kBackspace, mods, Event::kPress, len, st);
  if (KittyNamed(code, &name) && code < 128) return NamedEvent(name, mods, Event::kPress, len, st);
  if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0)) return Skip(len);
  const int plain = code < 128 ? UnshiftedAscii(static_cast<unsigned char>(code)) : code;
  return CharacterKey(plain, plain != code ? code : -1, plain, -1, mods, Event::kPress, len, st);
}

// CSI code[:shifted[:base]] ; mods[:event] ; text u
DecodeResult Kitty(const Csi &csi, KeyDecoderState &st) {
  int code = csi.Get(0, 0, -1);
  int mods = csi.Get(1, 0, 1) - 1;
  if (mods < 0) mods = 0;
  Event event = EventOf(csi.Get(1, 1, 1));
  if (code < 0) return Skip(csi.length);
  Named name;
  if (KittyNamed(code, &name)) return NamedEvent(name, mods, event, csi.length, st);
  if (code >= 57344 && code <= 63743) return Skip(csi.length);  // other private keys
  // xterm's other form of its modifyOtherKeys (formatOtherKeys): the code
  // with Shift applied, which this protocol never sends.
  const bool plainCode = csi.Get(0, 1, -1) < 0 && csi.Get(2, 0, -1) < 0 && event == Event::kPress;
  if (plainCode && code < 128 && UnshiftedAscii(static_cast<unsigned char>(code)) != code)
    return OtherKey(code, mods, csi.length, st);
  return CharacterKey(code, csi.Get(0, 1, -1), csi.Get(0, 2, code), csi.Get(2, 0, -1), mods, event, csi.length, st);
}

DecodeResult DispatchCsi(const Csi &csi, KeyDecoderState &st) {
  // A cursor position report (CSI row;col R) looks like F3 with modifiers,
  // whose first parameter is always 1: any other row is a report, and while
  // a question is open a row of 1 is its answer.
  if (csi.final == 'R' && csi.marker == 0 && !csi.hasIntermediate &&
      (csi.Get(0, 0, 1) != 1 || st.positionReplies > 0)) {
    if (st.positionReplies > 0) --st.positionReplies;
    return Skip(csi.length);
  }
  // Replies to queries (cursor position with '?', protocol flags, device
  // attributes) and anything with an intermediate byte are no keys.
  if (csi.marker != 0 || csi.hasIntermediate) {
    if (csi.marker == '?' && csi.final == 'c' && st.attributeReplies > 0) --st.attributeReplies;
    return Skip(csi.length);
  }
  int mods = csi.Get(1, 0, 1) - 1;
  if (mods < 0) mods = 0;
  Event event = EventOf(csi.Get(1, 1, 1));
  if (csi.final == 'u') return Kitty(csi, st);
  if (csi.final == '~' && csi.Get(0, 0, -1) == 27 && csi.paramCount >= 3)
    return OtherKey(csi.Get(2, 0, -1), mods, csi.length, st);
  if (csi.final == '~') return Tilde(csi.Get(0, 0, -1), mods, event, csi.length, st);
  return LegacyFinal(csi.final, mods, event, csi.length, st);
}

// ESC O [mods] X: application-mode cursor keys, F1 to F4 and the keypad.
DecodeResult DecodeSs3(const unsigned char *p, std::size_t n, KeyDecoderState &st) {
  std::size_t i = 2;
  int mods = 0;
  while (i < n && p[i] >= '0' && p[i] <= '9' && i < 8) mods = mods * 10 + (p[i++] - '0');
  if (i >= n) return NeedMore();
  unsigned char c = p[i];
  std::size_t len = i + 1;
  mods = mods > 0 ? mods - 1 : 0;
  if (c >= 'p' && c <= 'y')
    return NamedEvent(static_cast<Named>(static_cast<int>(Named::kKp0) + (c - 'p')), mods, Event::kPress, len, st);
  switch (c) {
    case 'M': return NamedEvent(Named::kKpEnter, mods, Event::kPress, len, st);
    case 'j': return NamedEvent(Named::kKpMultiply, mods, Event::kPress, len, st);
    case 'k': return NamedEvent(Named::kKpAdd, mods, Event::kPress, len, st);
    case 'm': return NamedEvent(Named::kKpSubtract, mods, Event::kPress, len, st);
    case 'n': return NamedEvent(Named::kKpDecimal, mods, Event::kPress, len, st);
    case 'o': return NamedEvent(Named::kKpDivide, mods, Event::kPress, len, st);
    default: break;
  }
  if (c >= 0x40 && c <= 0x7E) return LegacyFinal(c, mods, Event::kPress, len, st);
  return Skip(i);
}

DecodeResult AddAlt(DecodeResult r, std::size_t extra) {
  for (int i = 0; i < r.count; ++i) r.records[i].Event.KeyEvent.dwControlKeyState |= LEFT_ALT_PRESSED;
  r.consumed += extra;
  return r;
}

DecodeResult AltWith(unsigned char c, std::size_t consumed, KeyDecoderState &st) {
  DecodeResult r = DecodeAscii(c, st);
  r.consumed = 0;
  return AddAlt(r, consumed);
}

// ESC [ and ESC O: a sequence of the terminal's. False when `p` starts none.
bool DecodeIntroduced(const unsigned char *p, std::size_t n, bool final, KeyDecoderState &st, DecodeResult *r) {
  if (p[1] == '[') {
    Csi csi;
    switch (ParseCsi(p, n, &csi)) {
      case Parse::kComplete: *r = DispatchCsi(csi, st); return true;
      case Parse::kBroken: *r = Skip(csi.length > 0 ? csi.length : n); return true;
      case Parse::kIncomplete: *r = final ? AltWith('[', 2, st) : NeedMore(); return true;
    }
  }
  if (p[1] == 'O') {
    if (n == 2) {
      *r = final ? AltWith('O', 2, st) : NeedMore();
      return true;
    }
    *r = DecodeSs3(p, n, st);
    // ESC O and digits that never got their final byte: Alt+O.
    if (r->kind == DecodeResult::kNeedMore && final) *r = AltWith('O', 2, st);
    return true;
  }
  return false;
}

// A key that starts with a byte other than ESC.
DecodeResult DecodePlain(const unsigned char *bytes, std::size_t n, bool final, KeyDecoderState &state) {
  const unsigned char c = bytes[0];
  if (c < 0x80) return DecodeAscii(c, state);
  if (state.input != nullptr) return DecodeInSet(*state.input, bytes, n, final, state);
  return DecodeUtf8(bytes, n, final, state);
}

// ESC and what follows it: a sequence, or Alt with the next key. A second
// ESC is Alt+Escape unless a sequence follows it; a third starts a key of
// its own, so a run of ESCs never nests deeper than this.
DecodeResult DecodeEscape(const unsigned char *p, std::size_t n, bool final, KeyDecoderState &st) {
  if (n == 1) return final ? Typed(NamedKey(Named::kEscape), 27, 0, 1, st) : NeedMore();
  DecodeResult inner;
  if (DecodeIntroduced(p, n, final, st, &inner)) return inner;
  if (p[1] != kEsc) {
    inner = DecodePlain(p + 1, n - 1, final, st);
  } else if (n == 2) {
    inner = final ? Typed(NamedKey(Named::kEscape), 27, 0, 1, st) : NeedMore();
  } else if (!DecodeIntroduced(p + 1, n - 1, final, st, &inner)) {
    inner = Typed(NamedKey(Named::kEscape), 27, 0, 1, st);
  }
  if (inner.kind == DecodeResult::kNeedMore) return inner;
  if (inner.kind == DecodeResult::kSkip) return Typed(NamedKey(Named::kEscape), 27, 0, 1, st);
  return AddAlt(inner, 1);
}

}  // namespace

DecodeResult DecodeKey(const unsigned char *bytes, std::size_t n, bool final, KeyDecoderState &state) {
  if (n == 0) return NeedMore();
  if (bytes[0] == kEsc) return DecodeEscape(bytes, n, final, state);
  return DecodePlain(bytes, n, final, state);
}

}  // namespace platform_posix::console_host
