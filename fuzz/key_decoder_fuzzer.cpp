// The terminal key decoder on arbitrary byte streams. Each call keeps its
// contract (it waits for more only while more may come, consumes at least
// one byte and never more than it was given, gives one or two key records
// or none); the stream decodes to the same keys however it is cut into
// reads, every byte is consumed exactly once, and once the stream ends
// nothing is left pending and a plain key decodes as itself.
//
// Input: byte 0 bit 0 says whether the terminal reports key releases, bits
// 1-2 pick its character set (UTF-8, Latin-2, GB18030 or ASCII), bytes 1-2
// seed the read sizes; the rest is what the terminal sent.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/console_host/charset.h"
#include "platform/posix/console_host/key_decoder.h"

namespace {

using platform_posix::console_host::DecodeKey;
using platform_posix::console_host::DecodeResult;
using platform_posix::console_host::InputCharset;
using platform_posix::console_host::KeyDecoderState;

struct Step {
  std::size_t consumed;
  int count;
  INPUT_RECORD records[2];
  bool operator==(const Step &o) const {
    if (consumed != o.consumed || count != o.count) return false;
    for (int i = 0; i < count; ++i) {
      const KEY_EVENT_RECORD &a = records[i].Event.KeyEvent, &b = o.records[i].Event.KeyEvent;
      if (a.bKeyDown != b.bKeyDown || a.wVirtualKeyCode != b.wVirtualKeyCode ||
          a.wVirtualScanCode != b.wVirtualScanCode || a.uChar.AsciiChar != b.uChar.AsciiChar ||
          a.dwControlKeyState != b.dwControlKeyState)
        return false;
    }
    return true;
  }
};

[[noreturn]] void Fail(const char *rule, std::size_t at) {
  fprintf(stderr, "%s (at byte %zu)\n", rule, at);
  abort();
}

DecodeResult Checked(const unsigned char *p, std::size_t n, bool final, KeyDecoderState &state, std::size_t at) {
  DecodeResult r = DecodeKey(p, n, final, state);
  switch (r.kind) {
    case DecodeResult::kNeedMore:
      if (final) Fail("waits for more after the end", at);
      break;
    case DecodeResult::kSkip:
      if (r.count != 0) Fail("skipped bytes gave records", at);
      [[fallthrough]];
    case DecodeResult::kKeys:
      if (r.consumed == 0 || r.consumed > n) Fail("consumed count out of range", at);
      if (r.kind == DecodeResult::kKeys && (r.count < 1 || r.count > 2)) Fail("record count", at);
      for (int i = 0; i < r.count; ++i)
        if (r.records[i].EventType != KEY_EVENT || r.records[i].Event.KeyEvent.wRepeatCount != 1)
          Fail("not a key record", at);
      break;
    default: Fail("unknown result", at);
  }
  return r;
}

// Null for UTF-8, which the decoder handles itself.
const InputCharset *CharsetFor(uint8_t selector) {
  static InputCharset latin2, gb18030, ascii;
  static const bool loaded = latin2.Load("ISO-8859-2") && gb18030.Load("GB18030") && ascii.Load("ANSI_X3.4-1968");
  if (!loaded) Fail("a character set iconv does not know", 0);
  switch ((selector >> 1) & 3) {
    case 1: return &latin2;
    case 2: return &gb18030;
    case 3: return &ascii;
    default: return nullptr;
  }
}

void Record(std::vector<Step> &steps, const DecodeResult &r) {
  Step s{r.consumed, r.count, {}};
  for (int i = 0; i < r.count; ++i) s.records[i] = r.records[i];
  steps.push_back(s);
}

// Decodes what is complete in `pending`, then drops it; with `final` the
// stream has ended and everything must go.
void DecodePending(std::vector<unsigned char> &pending, std::size_t &offset, bool final, KeyDecoderState &state,
                   std::vector<Step> &steps) {
  std::size_t at = 0;
  while (at < pending.size()) {
    DecodeResult r = Checked(pending.data() + at, pending.size() - at, final, state, offset + at);
    if (r.kind == DecodeResult::kNeedMore) break;
    Record(steps, r);
    at += r.consumed;
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<long>(at));
  offset += at;
  if (final && !pending.empty()) Fail("bytes left after the end", offset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  const bool releases = (data[0] & 1) != 0;
  const InputCharset *charset = CharsetFor(data[0]);
  uint32_t random = 1u + (static_cast<uint32_t>(data[1]) << 8 | data[2]);
  const unsigned char *bytes = data + 3;
  const std::size_t n = size - 3;

  // All at once.
  KeyDecoderState whole;
  whole.reportsReleases = releases;
  whole.input = charset;
  std::vector<Step> once;
  std::vector<unsigned char> pending(bytes, bytes + n);
  std::size_t offset = 0;
  DecodePending(pending, offset, false, whole, once);
  DecodePending(pending, offset, true, whole, once);
  std::size_t total = 0;
  for (const Step &s : once) total += s.consumed;
  if (total != n) Fail("bytes not accounted for", total);

  // In reads of random sizes.
  KeyDecoderState cut;
  cut.reportsReleases = releases;
  cut.input = charset;
  std::vector<Step> pieces;
  pending.clear();
  offset = 0;
  for (std::size_t i = 0; i < n;) {
    random ^= random << 13;
    random ^= random >> 17;
    random ^= random << 5;
    std::size_t piece = 1 + random % 16;
    if (piece > n - i) piece = n - i;
    pending.insert(pending.end(), bytes + i, bytes + i + piece);
    i += piece;
    DecodePending(pending, offset, false, cut, pieces);
  }
  DecodePending(pending, offset, true, cut, pieces);
  if (!(pieces == once)) Fail("the keys depend on how the bytes were read", 0);

  // Nothing stuck: a plain letter is that letter, pressed and released.
  const unsigned char letter = 'q';
  DecodeResult r = Checked(&letter, 1, false, whole, n);
  const int wantRecords = releases ? 1 : 2;
  if (r.kind != DecodeResult::kKeys || r.consumed != 1 || r.count != wantRecords ||
      r.records[0].Event.KeyEvent.uChar.AsciiChar != 'q' || r.records[0].Event.KeyEvent.bKeyDown == 0)
    Fail("a plain key after the stream", n);
  return 0;
}
