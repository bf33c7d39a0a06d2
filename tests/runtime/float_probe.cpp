// Calls C and C++ library routines that compute with floating values, under
// the run's floating set-up (the x87 word, and the SSE unit with the same
// traps). "float_probe N" runs probe N and prints its name first, so a probe
// that traps ends with its name and the run-time error; "float_probe list"
// prints the names. Ordinary probes give ordinary results: none of them may
// trap. Edge probes produce overflow, invalid or zero-divide results by
// definition and show which library routines then trap.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/core_init.h"
#include "runtime/run_error.h"
#include "runtime/startup.h"
#include "runtime/std_streams.h"
#include "textio/write_text.h"

namespace {

volatile double sink;
volatile long double longSink;
char text[512];

template <class T>
void Keep(T value) {
  sink = static_cast<double>(value);
}

struct Probe {
  const char *name;
  bool edge;
  void (*run)();
};

const Probe kProbes[] = {
    {"printf doubles", false,
     [] {
       for (double v : {0.1, 1.0 / 3, 1e300, 5e-324, 2.2250738585072014e-308, -0.0, 123456789.125})
         std::snprintf(text, sizeof text, "%f %g %e %a %.17g", v, v, v, v, v);
     }},
    {"printf long double", false,
     [] {
       // The ends of the format's range, whatever format long double is.
       for (long double v :
            {0.1L, 1.0L / 3, std::numeric_limits<long double>::max(), std::numeric_limits<long double>::denorm_min()})
         std::snprintf(text, sizeof text, "%Lf %Lg %Le %La", v, v, v, v);
     }},
    {"printf nan and infinity", false,
     [] { std::snprintf(text, sizeof text, "%f %g %Lf", NAN, INFINITY, static_cast<long double>(NAN)); }},
    {"strtod", false,
     [] {
       for (const char *s : {"0.1", "1e308", "2.5e-310", "123456789012345678901234567890", "0x1p-1074", "nan", "inf"})
         Keep(std::strtod(s, nullptr));
       // Kept as it is: narrowed to a double it would overflow.
       longSink = std::strtold("1.1e4000", nullptr);
       Keep(std::strtof("3.4e38", nullptr));
     }},
    {"iostreams", false,
     [] {
       std::ostringstream out;
       out << 3.14 << ' ' << 1e300 << ' ' << 1e-320 << ' ' << 2.5L;
       std::istringstream in(out.str());
       double a, b, c;
       in >> a >> b >> c;
       Keep(a + b + c);
     }},
    {"to_string stod to_chars from_chars", false,
     [] {
       std::string s = std::to_string(2.75) + std::to_string(1e300);
       Keep(std::stod("6.02e23"));
       char buffer[64];
       std::to_chars(buffer, buffer + sizeof buffer, 0.1);
       double v;
       std::from_chars(buffer, buffer + std::strlen(buffer), v);
       Keep(v + static_cast<double>(s.size()));
     }},
    {"math library", false,
     [] {
       volatile double x = 0.7, y = 3.5;
       Keep(std::sqrt(x) + std::exp(x) + std::log(y) + std::pow(y, x) + std::sin(1e22) + std::cos(y) + std::tan(x) +
            std::atan2(x, y) + std::fmod(y, x) + std::hypot(x, y) + std::cbrt(y) + std::expm1(x) + std::log1p(x) +
            std::exp(-800.0) + std::ldexp(x, -1070) + std::nextafter(x, y) + std::fma(x, y, x) + std::erf(x) +
            std::tgamma(y) + std::lgamma(y) + std::asin(x) + std::acos(x) + std::sinh(x) + std::log10(y) +
            std::log2(y) + std::exp2(y));
       Keep(std::floor(y) + std::ceil(y) + std::round(y) + std::trunc(y) + std::nearbyint(y) +
            static_cast<double>(std::lrint(y) + std::llround(y)));
       int e;
       double whole;
       Keep(std::frexp(y, &e) + std::modf(y, &whole) + std::remainder(y, x) + std::copysign(x, -y));
     }},
    {"long double math", false,
     [] {
       volatile long double x = 0.7L;
       longSink = std::sqrt(x) + std::exp(x) + std::log(x) + std::pow(x, x) + std::sin(x) + std::atan2(x, x);
     }},
    {"classification and quiet comparisons", false,
     [] {
       volatile double n = NAN, one = 1.0;
       Keep(std::isnan(n) + std::isinf(n) + std::isfinite(n) + std::fpclassify(n) + std::signbit(n) + (n == one) +
            (n != one) + std::isless(n, one) + std::isunordered(n, one));
     }},
    {"random, chrono and sorting", false,
     [] {
       std::mt19937 generator(42);
       std::uniform_real_distribution<double> uniform(0.0, 1.0);
       std::normal_distribution<double> normal(0.0, 1.0);
       std::vector<double> values;
       for (int i = 0; i < 1000; ++i) values.push_back(uniform(generator) + normal(generator));
       std::sort(values.begin(), values.end());
       auto start = std::chrono::steady_clock::now();
       std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
       Keep(values[500] + elapsed.count());
     }},
    {"edge: strtod overflow", true, [] { Keep(std::strtod("1e400", nullptr)); }},
    {"edge: strtod underflow to zero", true, [] { Keep(std::strtod("1e-400", nullptr)); }},
    {"edge: exp overflow", true, [] { Keep(std::exp(1000.0)); }},
    {"edge: log of zero", true, [] { Keep(std::log(0.0)); }},
    {"edge: sqrt of -1", true, [] { Keep(std::sqrt(-1.0)); }},
    {"edge: pow overflow", true, [] { Keep(std::pow(10.0, 400.0)); }},
    {"edge: ordered comparison with nan", true,
     [] {
       volatile double n = NAN, one = 1.0;
       Keep(n < one);
     }},
    {"edge: double to int of nan", true,
     [] {
       volatile double n = NAN;
       Keep(static_cast<long>(n));
     }},
};
constexpr int kProbeCount = sizeof kProbes / sizeof kProbes[0];

void Say(const char *line) {
  WriteString(0, stdOutput, StringFrom(line));
  WriteLineEnd(stdOutput);
  CheckIo();
}

[[noreturn]] void ProbeMain() {
  isConsoleApp = true;
  InitModules();
  const char *line = GetCommandLineA();
  const char *last = std::strrchr(line, ' ');
  const char *arg = last != nullptr ? last + 1 : "";
  if (std::strcmp(arg, "list") == 0) {
    for (const Probe &probe : kProbes) Say(probe.name);
  } else {
    int index = std::atoi(arg);
    if (index < 0 || index >= kProbeCount) StopProgram(99);
    Say(kProbes[index].name);
    kProbes[index].run();
    Say("no trap");
  }
  NormalEnd();
}

const ModuleEntry probeModules[] = {kCoreModule, kResourceStringModule, kDiskSpaceModule};

}  // namespace

ModuleTable moduleTable = {3, 0, probeModules};
const MainRoutine mainRoutine = ProbeMain;
