#include "textio/format_real.h"

#include <bit>
#include <memory>
#include <string_view>
#include <type_traits>

#include "textio/write_text.h"

namespace {

struct KindRow {
  int32_t defaultWidth;
  int32_t minimumWidth;
  int32_t exponentWidth;
  int32_t digitBudget;  // defaultWidth - exponentWidth - 2
  ExtendedBits tolerance;
};

// The tolerances are bit patterns, not decimals: each is the extended value
// nearest to its power of ten, lowered by a few units in the last place, so
// that a value a hair below 1, 0.1 or 5 still counts as reaching it.
//   1e-9   nearest 0x3FE1:89705F4136B4A597, 11 units lower: ...A58C
//   1e-15  nearest 0x3FCD:901D7CF73AB0ACD9, 15 units lower: ...ACCA
//          (9.99999999999999998549679e-16)
//   1e-16  nearest 0x3FC9:E69594BEC44DE15B, 29 units lower: ...E13E
//   1e-14  nearest 0x3FD0:B424DC35095CD80F, 16 units lower: ...D7FF
constexpr ExtendedBits kTolerance9{0x3FE1, 0x89705F4136B4A58Cull};
constexpr ExtendedBits kTolerance15{0x3FCD, 0x901D7CF73AB0ACCAull};
constexpr ExtendedBits kTolerance16{0x3FC9, 0xE69594BEC44DE13Eull};
constexpr ExtendedBits kTolerance14{0x3FD0, 0xB424DC35095CD7FFull};

constexpr KindRow kKindRows[6] = {
    {16, 8, 4, 10, kTolerance9},   {23, 9, 5, 16, kTolerance15}, {25, 10, 6, 17, kTolerance16},
    {23, 10, 6, 15, kTolerance14}, {16, 8, 4, 10, kTolerance9},  {16, 8, 4, 10, kTolerance9},
};

static_assert([] {
  for (const KindRow &row : kKindRows) {
    if (row.digitBudget != row.defaultWidth - row.exponentWidth - 2) return false;
  }
  return true;
}());

constexpr int32_t kKindCount = 6;

// Codes without a row of their own use the double row.
int32_t RowIndexOf(RealKind kind) {
  const int32_t code = static_cast<int32_t>(kind);
  return (code >= 0 && code < kKindCount) ? code : 1;
}

constexpr uint16_t kSpecialExponent = 0x7FFF;
// One tenth, rounded to nearest.
constexpr ExtendedBits kOneTenth{0x3FFB, 0xCCCCCCCCCCCCCCCDull};

// Runs of zeros are cut from this, so one insertion adds at most 40 of them.
constexpr std::string_view kZeros = "0000000000000000000000000000000000000000";
constexpr int32_t kMaxZeroRun = static_cast<int32_t>(kZeros.size());

constexpr int32_t kRingSlots = 18;

// The text under construction, with 1-based positions as the steps below
// count them. Every change is cut at 255 characters. The text sits in the
// middle of a wider buffer, so that characters put in front of it or taken
// from its front move only the few characters before the place of change.
class WorkText {
 public:
  int32_t Length() const { return length_; }
  char &At(int32_t position) { return buffer_[start_ + position - 1]; }
  // Stores the text cut at `capacity`, as CopyString does.
  void CopyTo(ShortString &destination, int32_t capacity) const {
    int32_t n = length_;
    if (n > capacity) n = capacity < 0 ? 0 : capacity;
    MoveBytes(buffer_ + start_, destination.text, n);
    destination.length = static_cast<uint8_t>(n);
  }

  void Assign(std::string_view chars) {
    start_ = kFront;
    length_ = 0;
    Append(chars);
  }
  void Append(char c) {
    if (length_ < kMaxStringLength) buffer_[start_ + length_++] = c;
  }
  void Append(std::string_view chars) { Insert(length_ + 1, chars); }

  // Puts `chars` in front of `position` (Length() + 1: at the end).
  void Insert(int32_t position, std::string_view chars) {
    const int32_t before = position - 1;
    const int32_t count = static_cast<int32_t>(chars.size());
    const int32_t inserted = count < kMaxStringLength - before ? count : kMaxStringLength - before;
    int32_t tail = length_ - before;
    if (tail > kMaxStringLength - before - inserted) tail = kMaxStringLength - before - inserted;
    if (before < tail && start_ >= inserted) {
      start_ -= inserted;
      Move(start_ + inserted, start_, before);
    } else {
      Move(start_ + before, start_ + before + inserted, tail);
    }
    for (int32_t i = 0; i < inserted; ++i) buffer_[start_ + before + i] = chars[static_cast<size_t>(i)];
    length_ = before + inserted + tail;
  }
  // Blanks in front; the caller keeps the length within 255.
  void InsertSpaces(int32_t count) {
    start_ -= count;
    for (int32_t i = 0; i < count; ++i) buffer_[start_ + i] = ' ';
    length_ += count;
  }
  void Delete(int32_t position, int32_t count) {
    const int32_t before = position - 1;
    const int32_t after = length_ - before - count;
    if (before < after) {
      Move(start_, start_ + count, before);
      start_ += count;
    } else {
      Move(start_ + before + count, start_ + before, after);
    }
    length_ -= count;
  }
  void Cut(int32_t length) {
    if (length < length_) length_ = length;
  }
  int32_t Find(char c) const {
    for (int32_t i = 0; i < length_; ++i) {
      if (buffer_[start_ + i] == c) return i + 1;
    }
    return 0;
  }

  // Adds 1 to the character at `position`, passing a carry to the left; the
  // carry slot (position 2) takes the last one.
  void CarryInto(int32_t position) {
    ++At(position);
    while (position > 2 && At(position) > '9') {
      At(position) = '0';
      --position;
      ++At(position);
    }
  }
  void AppendDigit(int64_t digit) {
    char c = static_cast<char>('0' + digit);
    if (c > '9') {
      c = static_cast<char>(c - 10);
      CarryInto(Length());
    }
    Append(c);
  }

 private:
  // Room for 255 characters in front of the start and behind its end.
  static constexpr int32_t kFront = kMaxStringLength + 1;

  // Moves `count` characters from buffer offset `from` to `to`.
  void Move(int32_t from, int32_t to, int32_t count) {
    if (to < from) {
      for (int32_t i = 0; i < count; ++i) buffer_[to + i] = buffer_[from + i];
    } else {
      // A false finding: the analyzer's path cuts Insert's `tail` for an
      // empty text, which takes more than 255 characters inserted at once.
      // NOLINTNEXTLINE(clang-analyzer-core.uninitialized.Assign)
      for (int32_t i = count - 1; i >= 0; --i) buffer_[to + i] = buffer_[from + i];
    }
  }

  int32_t start_ = kFront;
  int32_t length_ = 0;
  // Left uninitialised: only the characters of the text are ever read.
  char buffer_[kFront + 2 * kMaxStringLength];
};

// trunc, frac and the truncation of a digit to an integer, all exact and
// free of floating exceptions. The unit's own truncation needs its control
// word switched and restored around every one, which costs more than the
// rest of the conversion, so neither form below touches the control word.
// Where the bit pattern is at hand (the software format) they cut bits. On
// the unit, reading the pattern of a register back from memory stalls, so
// there they round at 2^63 instead: with 64-bit significands rounded to
// nearest, a + 2^63 - 2^63 is a rounded to an integer, and one less when
// that came out above a.
template <class T>
constexpr bool kBitsAtHand = std::is_same_v<T, SoftExtended>;

template <ExtendedValue T>
int32_t UnbiasedExponent(T x) {
  return (x.SignExponent() & kExtendedExponentMask) - kExtendedBias;
}

template <ExtendedValue T>
[[gnu::always_inline]] inline T Trunc(T x) {
  if constexpr (kBitsAtHand<T>) {
    const int32_t e = UnbiasedExponent(x);
    if (e < 0) return T::FromBits(x.SignExponent() & kExtendedSignBit, 0);
    if (e >= 63) return x;
    return T::FromBits(x.SignExponent(), x.Significand() & (~uint64_t{0} << (63 - e)));
  } else {
    const T zero = T::FromInt32(0);
    const T twoTo63 = T::FromDouble(9223372036854775808.0);
    const bool negative = T::Less(x, zero);
    const T magnitude = negative ? T::Sub(zero, x) : x;
    if (!T::Less(magnitude, twoTo63)) return x;  // integral already
    T t = T::Sub(T::Add(magnitude, twoTo63), twoTo63);
    if (T::Less(magnitude, t)) t = T::Sub(t, T::FromInt32(1));
    return negative ? T::Sub(zero, t) : t;
  }
}

// For non-negative values, which is where it is used.
template <ExtendedValue T>
[[gnu::always_inline]] inline T Frac(T x) {
  if constexpr (kBitsAtHand<T>) {
    const int32_t e = UnbiasedExponent(x);
    if (e < 0) return x;
    if (e >= 63) return T::FromBits(0, 0);
    const uint64_t rest = x.Significand() & ~(~uint64_t{0} << (63 - e));
    if (rest == 0) return T::FromBits(0, 0);
    const int shift = std::countl_zero(rest);
    return T::FromBits(static_cast<uint16_t>((x.SignExponent() & kExtendedExponentMask) - shift), rest << shift);
  } else {
    return T::Sub(x, Trunc(x));  // exact: the bits below the point
  }
}

// The integer part of a digit, or of any value of magnitude below 2^53.
template <ExtendedValue T>
[[gnu::always_inline]] inline int64_t TruncToInt64(T x) {
  if constexpr (kBitsAtHand<T>) {
    const int32_t e = UnbiasedExponent(x);
    if (e < 0) return 0;
    if (e >= 63) return INT64_MIN;  // the unit's integer indefinite
    const auto magnitude = static_cast<int64_t>(x.Significand() >> (63 - e));
    return x.IsNegative() ? -magnitude : magnitude;
  } else {
    return static_cast<int64_t>(Trunc(x).ToDouble());  // an integer below 2^53: exact
  }
}

// The limits 1 - tolerance, 0.1 - tolerance and 5 - tolerance of each row,
// each one rounded subtraction. They are constants, made once: loading a
// value from its bit pattern is slow on the unit.
template <ExtendedValue T>
struct RowLimits {
  T one, tenth, five;
};

// The largest budget of any row; the budget only ever falls from the row's.
constexpr int32_t kMaxBudget = 17;
static_assert([] {
  for (const KindRow &row : kKindRows) {
    if (row.digitBudget > kMaxBudget) return false;
  }
  return true;
}());

// The rounding term for each budget b: one half divided by ten b times,
// one rounded division at a time. Made once, like the limits: a chain of
// divisions costs more than the rest of a short conversion.
template <ExtendedValue T>
T RoundingTerm(int32_t budget) {
  static const auto terms = [] {
    struct {
      T term[kMaxBudget + 1];
    } all;
    all.term[0] = T::FromDouble(0.5);
    for (int32_t b = 1; b <= kMaxBudget; ++b) all.term[b] = T::Div(all.term[b - 1], T::FromInt32(10));
    return all;
  }();
  return terms.term[budget];
}

template <ExtendedValue T>
const RowLimits<T> &LimitsOf(int32_t rowIndex) {
  static const auto limits = [] {
    struct {
      RowLimits<T> rows[kKindCount];
    } all;
    const T tenth = T::FromBits(kOneTenth.signExponent, kOneTenth.significand);
    for (int32_t i = 0; i < kKindCount; ++i) {
      const ExtendedBits t = kKindRows[i].tolerance;
      const T tolerance = T::FromBits(t.signExponent, t.significand);
      all.rows[i] = {T::Sub(T::FromInt32(1), tolerance), T::Sub(tenth, tolerance), T::Sub(T::FromInt32(5), tolerance)};
    }
    return all;
  }();
  return limits.rows[rowIndex];
}

// Steps 4 to 12 of the conversion for a finite value: sign slot, carry
// slot and digits, then the notation.
template <ExtendedValue T>
void FormatFinite(T value, bool negative, int32_t width, int32_t decimals, int32_t rowIndex, WorkText &text) {
  const KindRow &row = kKindRows[rowIndex];
  const T zero = T::FromInt32(0);
  const T one = T::FromInt32(1);
  const T ten = T::FromInt32(10);
  const RowLimits<T> &limits = LimitsOf<T>(rowIndex);
  const T limitOne = limits.one;
  const T limitTenth = limits.tenth;
  const T limitFive = limits.five;

  if (negative) value = T::Sub(zero, value);
  int32_t budget = row.digitBudget;
  if (decimals > row.digitBudget) decimals = row.digitBudget;
  if (decimals < 0) {
    if (width >= 0 && width < row.minimumWidth) width = row.minimumWidth;
    if (width > 0 && width < row.defaultWidth) budget = width - row.exponentWidth - 2;
  }

  // Sign slot, carry slot.
  text.Assign(" 0");
  int32_t exponent = 0;

  // Integer digits, each from its own saved quotient.
  union Slot {
    Slot() {}  // a slot is read only after it was written
    T value;
  } ring[kRingSlots];
  int32_t last = -1;  // the slot written last
  bool wrapped = false;
  int32_t count = 0;
  for (T v = value; T::Less(limitOne, v); v = T::Div(v, ten)) {
    ++count;
    if (last == kRingSlots - 1) {
      last = 0;
      wrapped = true;
    } else {
      ++last;
    }
    std::construct_at(&ring[last].value, v);
  }
  bool haveIntegerDigits = false;
  if (count > 0) {
    exponent = count - 1;
    const int32_t held = wrapped ? kRingSlots - 1 : count;
    T prev = zero;
    int32_t slot = last;
    for (int32_t visited = 1;; ++visited) {
      const T s = ring[slot].value;
      if (budget > 0) {
        text.AppendDigit(TruncToInt64(T::Sub(s, prev)));
        --budget;
        haveIntegerDigits = true;
      }
      prev = T::Mul(Trunc(s), ten);
      slot = slot == 0 ? kRingSlots - 1 : slot - 1;
      if (budget <= 0 || visited == held) break;
    }
    // Of more than 18 positions only the 18 leading ones are held: the first
    // one not shown decides the last digit.
    if (wrapped && T::Less(limitFive, Trunc(T::Sub(ring[slot].value, prev)))) text.CarryInto(text.Length());
  }

  // Fraction.
  if (T::Less(limitOne, value)) value = Frac(value);
  if (decimals >= 0 && budget > decimals) budget = decimals;

  // Below one: scale into [0.1, 1) a decade at a time.
  if (!haveIntegerDigits && !T::Equal(value, zero)) {
    while (T::Less(value, limitTenth)) {
      value = T::Mul(value, ten);
      --exponent;
      if (decimals >= 0) --budget;
    }
    --exponent;
  }

  // Rounding term, then the fraction digits.
  if (budget >= 0) {
    const T term = RoundingTerm<T>(budget);
    if (T::LessEqual(term, value)) value = T::Add(value, term);
    if (T::Equal(Trunc(value), one)) {
      text.CarryInto(text.Length());
      value = Frac(value);
    }
    // Each digit's integer part also gives the next step's fraction.
    T whole = zero;
    for (int32_t i = 0; i < budget; ++i) {
      value = T::Less(limitOne, value) ? T::Mul(T::Sub(value, whole), ten) : T::Mul(value, ten);
      whole = Trunc(value);
      text.AppendDigit(TruncToInt64(whole));
    }
  }

  // Tidy: a carry slot still "0" goes; one that took a carry is a new digit.
  if (text.At(2) == '0') {
    text.Delete(2, 1);
  } else {
    ++exponent;
  }
  if (negative) text.At(1) = '-';

  if (decimals < 0 || exponent > 35) {
    text.Insert(3, ".");
    // |exponent| stays below 5000: the format's range is about 10^-4951 to 10^4932.
    const ShortString digits = FormatInteger(exponent < 0 ? -exponent : exponent, -1, 10);
    char exponentText[16];
    int32_t length = 0;
    exponentText[length++] = exponent < 0 ? '-' : '+';
    for (int32_t i = digits.length; i < row.exponentWidth - 2; ++i) exponentText[length++] = '0';
    MoveBytes(digits.text, exponentText + length, digits.length);
    length += digits.length;
    text.Append('E');
    text.Append(std::string_view(exponentText, static_cast<size_t>(length)));
    return;
  }

  // Fixed notation.
  int32_t first = 2;  // position of the first digit
  if (!negative) {
    text.Delete(1, 1);
    first = 1;
  }
  if (exponent >= 0) {
    const int32_t wanted = exponent + 1 + decimals;
    int32_t present = text.Length() - (first - 1);
    while (present < wanted) {
      const int32_t run = wanted - present < kMaxZeroRun ? wanted - present : kMaxZeroRun;
      text.Append(kZeros.substr(0, static_cast<size_t>(run)));
      if (text.Length() - (first - 1) == present) break;  // no room left
      present = text.Length() - (first - 1);
    }
    text.Insert(first + exponent + 1, ".");
  } else {
    const int32_t run = -exponent < kMaxZeroRun ? -exponent : kMaxZeroRun;
    text.Insert(first, kZeros.substr(0, static_cast<size_t>(run)));
    text.Insert(first + 1, ".");
  }
  const int32_t point = text.Find('.');
  text.Cut(decimals > 0 ? point + decimals : point - 1);
}

}  // namespace

template <ExtendedValue T>
void FormatRealWith(int32_t width, int32_t decimals, T value, RealKind kind, ShortString &destination,
                    int32_t capacity) {
  const int32_t rowIndex = RowIndexOf(kind);
  if (width == NoFieldWidth) width = kKindRows[rowIndex].defaultWidth;

  WorkText text;
  const uint16_t exponentBits = value.SignExponent() & kExtendedExponentMask;
  const uint64_t significand = value.Significand();
  if (exponentBits == kSpecialExponent) {
    // Infinity: the 63 bits below the integer bit are clear.
    if ((significand << 1) == 0) {
      text.Assign(value.IsNegative() ? "-Inf" : "Inf");
    } else {
      text.Assign("NaN");
    }
  } else if (exponentBits != 0 && (significand & kExtendedIntegerBit) == 0) {
    text.Assign("NaN");  // an unnormal: no operand for the floating unit
  } else {
    const bool negative = (value.SignExponent() & kExtendedSignBit) != 0;
    FormatFinite(value, negative, width, decimals, rowIndex, text);
  }

  // Field: blanks in front up to the width, which is at most 255.
  const int32_t field = width < kMaxStringLength ? width : kMaxStringLength;
  if (text.Length() < field) text.InsertSpaces(field - text.Length());
  text.CopyTo(destination, capacity);
}

template void FormatRealWith<SoftExtended>(int32_t, int32_t, SoftExtended, RealKind, ShortString &, int32_t);
#if GRADES_HAVE_HARD_EXTENDED
template void FormatRealWith<HardExtended>(int32_t, int32_t, HardExtended, RealKind, ShortString &, int32_t);
#endif

void FormatReal(int32_t width, int32_t decimals, Extended value, RealKind kind, ShortString &destination,
                int32_t capacity) {
  FormatRealWith(width, decimals, value, kind, destination, capacity);
}
