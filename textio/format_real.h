// Floating values to decimal text: the converter behind WriteReal.
//
// FormatReal computes in the 80-bit extended format, one rounding per
// operation, and builds its digits by scaling with powers of ten, adding a
// rounding term and truncating, so every tie and near-tie goes the way that
// order of operations sends it, on every platform.
#pragma once

#include <cstdint>

#include "extended/extended.h"
#include "textio/short_string.h"

// The caller's layout row. Kind 1 is the row for 64-bit double values and
// the only one the grade program uses. Each row fixes
//   defaultWidth   the field when the caller gives none; the scientific
//                  form shows all digitBudget digits from this width on
//   minimumWidth   the narrowest scientific field
//   exponentWidth  "E", a sign and at least exponentWidth - 2 digits
//   digitBudget    most significant digits produced, and most decimals shown
//   tolerance      widens the comparisons against 1, 0.1 and 5
//
//   code  default  minimum  exponent  budget  tolerance
//    0      16       8        4        10      1.0e-9
//    1      23       9        5        16      1.0e-15
//    2      25      10        6        17      1.0e-16
//    3      23      10        6        15      1.0e-14
//    4      16       8        4        10      1.0e-9
//    5      16       8        4        10      1.0e-9
//
// Any other code is formatted with row 1: every value arrives widened to
// the extended format anyway, and row 1 is the one callers mean.
enum class RealKind : int32_t {
  kKind0 = 0,
  kDouble = 1,
  kKind2 = 2,
  kKind3 = 3,
  kKind4 = 4,
  kKind5 = 5,
};

// A width argument meaning "none given": the row's defaultWidth is used.
constexpr int32_t NoFieldWidth = -32767;

// Formats `value` into `destination` (at most `capacity` characters, itself
// at most 255). `decimals` < 0 asks for scientific notation, 0 for fixed
// notation without a point, n > 0 for n decimals (capped at digitBudget).
// The text is right-justified in `width`; it is never shortened to the
// width. Infinities give "Inf" and "-Inf", NaNs "NaN". Never fails, raises
// no floating exception and touches no heap.
//
// Widths above 255: the text is right-justified in 255 characters and never
// cut, so a caller that pads to its full width afterwards (WriteReal, through
// WriteString) still shows every character of the number.
//
// Encodings the floating unit refuses as operands (a nonzero exponent below
// 0x7FFF with the integer bit clear) are shown as "NaN", which is what the
// unit reads them as; no arithmetic is done on them.
void FormatReal(int32_t width, int32_t decimals, Extended value, RealKind kind, ShortString &destination,
                int32_t capacity);

// The same converter in the given arithmetic; built for SoftExtended and,
// where the x87 is available, HardExtended. Both give the same text.
template <ExtendedValue T>
void FormatRealWith(int32_t width, int32_t decimals, T value, RealKind kind, ShortString &destination,
                    int32_t capacity);

extern template void FormatRealWith<SoftExtended>(int32_t, int32_t, SoftExtended, RealKind, ShortString &, int32_t);
#if GRADES_HAVE_HARD_EXTENDED
extern template void FormatRealWith<HardExtended>(int32_t, int32_t, HardExtended, RealKind, ShortString &, int32_t);
#endif
