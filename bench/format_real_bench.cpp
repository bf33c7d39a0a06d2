// FormatReal in the grade program's format (kind 1, width 10, 4 decimals)
// on grade averages, in both extended arithmetics, next to the C library's
// "%10.4f" on the same doubles.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "textio/format_real.h"

namespace {

// The averages s / n of every count n up to 200 and every sum s of n grades,
// computed as the grade program computes them.
const std::vector<double> &Averages() {
  static const std::vector<double> averages = [] {
    std::vector<double> v;
    for (int32_t n = 1; n <= 200; ++n) {
      for (int32_t s = n; s <= 5 * n; ++s) {
        v.push_back(Extended::Div(Extended::FromInt32(s), Extended::FromInt32(n)).ToDouble());
      }
    }
    return v;
  }();
  return averages;
}

template <ExtendedValue T>
void BM_FormatReal(benchmark::State &state) {
  const std::vector<double> &averages = Averages();
  size_t i = 0;
  ShortString text;
  for (auto _ : state) {
    FormatRealWith(10, 4, T::FromDouble(averages[i]), RealKind::kDouble, text, kMaxStringLength);
    benchmark::DoNotOptimize(text);
    if (++i == averages.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Snprintf(benchmark::State &state) {
  const std::vector<double> &averages = Averages();
  size_t i = 0;
  char text[64];
  for (auto _ : state) {
    std::snprintf(text, sizeof text, "%10.4f", averages[i]);
    benchmark::DoNotOptimize(text);
    if (++i == averages.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Snprintf);
#if GRADES_HAVE_HARD_EXTENDED
BENCHMARK_TEMPLATE(BM_FormatReal, HardExtended);
#endif
BENCHMARK_TEMPLATE(BM_FormatReal, SoftExtended);

BENCHMARK_MAIN();
