// How each fault scenario of the run-time driver ends, on every build: the
// run-time error, whose number is also the exit code, and the back-trace of
// its message; a run without one and its output; a fault the filter leaves
// to the platform. A row names the builds that cannot produce it, and why.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "driver_launch.h"
#include "run_error_message.h"

namespace {

// The "  0x" lines of the message, the location first: `lines` of them (0:
// any count from 2), of which the `repeated` before the main routine's two,
// or before the walk's cut, return to one place, as a recursion's do.
struct Trace {
  std::size_t lines, repeated;
};
constexpr Trace kAny = {0, 0};
constexpr Trace kInMain = {2, 0};       // the location, the main routine's return point
constexpr Trace kOneCall = {3, 0};      // ... and the return into the main routine between
constexpr Trace kCut = {1 + 257, 256};  // the walk's bound on a pipe or a file

constexpr int kDeclined = -1;  // no message, no run-time error's exit

struct Cannot {
  unsigned machines;
  const char *why;
};

struct FaultCase {
  const char *name;
  std::vector<std::string> args;
  int number;  // the run-time error; 0 for a run without one
  Trace trace;
  const char *output;  // what the output holds (before the message: all of it, unless the run traces)
  std::vector<Cannot> cannot;
  OutputKind kind = OutputKind::kPipe;
};

void PrintTo(const FaultCase &c, std::ostream *out) { *out << c.name; }

const Cannot kArmNoTraps = {kAarch64 | kArm, "ARM's floating unit does not trap: it gives NaN and infinity"};
const Cannot kRiscvNoTraps = {kRiscv64, "RISC-V's floating unit has no traps: it gives NaN and infinity"};
const Cannot kArmDivides = {kAarch64, "ARM's integer division does not fault: x / 0 is 0, INT_MIN / -1 is INT_MIN"};
const Cannot kRiscvDivides = {kRiscv64,
                              "RISC-V's integer division does not fault: x / 0 is -1, INT_MIN / -1 is INT_MIN"};
const Cannot kNoX87 = {kAarch64 | kArm | kRiscv64 | kS390x, "no x87 unit"};
const Cannot kX86Code = {kAarch64 | kArm | kRiscv64 | kS390x,
                         "the scenario is x86 code; this processor has none of its own"};
const Cannot kWineDivides = {kWindows, "Wine reports every divide error as a division by zero"};
const Cannot kArmRecordLast = {kAarch64,
                               "ARM stores the frame record after it makes room for the frame: the probe that meets "
                               "the guard still runs in the caller's frame, the call's return point in a register"};
const Cannot kS390xChainLast = {kS390x,
                                "s390x stores the back chain after it makes room for the frame: the probe that meets "
                                "the guard still runs in the caller's frame"};
const Cannot kRiscvRecordFirst = {kRiscv64,
                                  "RISC-V stores this routine's frame record before it makes room for the frame: "
                                  "the stack protector's check makes it call out, so it keeps its return address"};

const FaultCase kCases[] = {
    // The floating units under the run's control word.
    {"X87ZeroByZero", {"quotient", "0", "0"}, 207, kInMain, "", {kArmNoTraps, kRiscvNoTraps}},
    {"X87ByZero", {"quotient", "5", "0"}, 200, kInMain, "", {kArmNoTraps, kRiscvNoTraps}},
    {"X87Quotient", {"quotient", "7", "2"}, 0, kAny, "1\r\n", {}},
    {"X87Overflow", {"overflow"}, 205, kInMain, "", {kArmNoTraps, kRiscvNoTraps}},
    {"DoubleZeroByZero", {"double-quotient", "0", "0"}, 207, kInMain, "", {kArmNoTraps, kRiscvNoTraps}},
    {"DoubleByZero", {"double-quotient", "5", "0"}, 200, kInMain, "", {kArmNoTraps, kRiscvNoTraps}},
    {"DoubleProductBeyondRange",
     {"double-range"},
     205,
     kInMain,
     "",
     {kArmNoTraps, kRiscvNoTraps, {kI686 | kWindows, "the x87 holds 1e600 in its 80-bit registers"}}},
    {"X87HoldsDoubleProductBeyondRange",
     {"double-range"},
     0,
     kAny,
     "1\r\n",
     {{kX86_64 | kAarch64 | kArm | kRiscv64 | kS390x, "double arithmetic in double: 1e600 overflows"}}},
    {"UnderflowDenormalInexactGoOn", {"quiet-float"}, 0, kAny, "1\r\n1\r\n1\r\n", {}},
    {"X87AtStart", {"float-state"}, 0, kAny, "main cw 1332 flags 00", {kNoX87}},
    {"SseAtStart",
     {"float-state"},
     0,
     kAny,
     "mxcsr 1900",
     {{kI686 | kAarch64 | kWindows | kArm | kRiscv64 | kS390x, "no SSE in the build"}}},
    {"CleanUnitAfterFloatFault", {"float-after-fault", "--trace"}, 207, kAny, "final 4 cw 1332 flags 00", {kNoX87}},
    {"PendingFlagsOutliveOtherFault",
     {"pending-float-fault", "--trace"},
     216,
     kInMain,
     "final 4 cw 1332 flags 01",
     {kNoX87, {kWindows, "Wine clears the x87 flags on resuming, though the filter's context holds them"}}},
    // The 80-bit type, on the hardware or in software: the same filter.
    {"ExtendedZeroByZero", {"extended-quotient", "0", "0"}, 207, kAny, "", {}},
    {"ExtendedByZero", {"extended-quotient", "1", "0"}, 200, kAny, "", {}},
    {"ExtendedQuotient", {"extended-quotient", "9", "3"}, 0, kAny, "3\r\n", {}},
    {"SoftZeroByZero", {"soft-quotient", "0", "0"}, 207, kAny, "", {}},
    {"SoftByZero", {"soft-quotient", "1", "0"}, 200, kAny, "", {}},
    {"SoftQuotient", {"soft-quotient", "9", "3"}, 0, kAny, "3\r\n", {}},
    // The processor.
    {"IntegerByZero", {"int-quotient", "5", "0"}, 200, kInMain, "", {kArmDivides, kRiscvDivides}},
    {"IntegerQuotientOverflow",
     {"int-quotient", "-2147483648", "-1"},
     215,
     kInMain,
     "",
     {kArmDivides,
      kRiscvDivides,
      kWineDivides,
      {kArm, "32-bit ARM's division routine gives INT_MIN for INT_MIN / -1"},
      {kS390x, "s390x divides 32-bit integers in 64 bits: INT_MIN / -1 does not overflow"}}},
    {"MemoryDivisorZero", {"memory-quotient", "5", "0"}, 200, kInMain, "", {kX86Code}},
    {"MemoryDivisorOverflow", {"memory-quotient", "-2147483648", "-1"}, 215, kInMain, "", {kX86Code, kWineDivides}},
    {"NullWrite", {"null-write"}, 216, kInMain, "", {}},
    {"TopHalfWrite", {"top-half-write"}, 216, kInMain, "", {}},
    {"IllegalInstruction", {"illegal"}, 217, kInMain, "", {}},
    {"PrivilegedInstruction", {"privileged"}, 217, kInMain, "", {kX86Code}},
    {"SingleStep",
     {"single-step"},
     217,
     kInMain,
     "",
     {{kAarch64 | kArm | kRiscv64 | kS390x, "single-stepping on this processor is the debugger's"}}},
    {"PastTheEndOfAMappedFile",
     {"mapped-file-end"},
     217,
     kInMain,
     "",
     {{kWindows, "a Windows file mapping never reaches past its file"}}},
    {"FrameZeroIsDeclined", {"frame-zero"}, kDeclined, kAny, "", {kX86Code}},
    // Raised by the run-time layer itself.
    {"RaisedError", {"raise", "201"}, 201, kInMain, "", {}},
    // The stack.
    {"UsesMostOf32Megabytes", {"use-stack", "28"}, 0, kAny, "28\r\n", {}},
    {"StackOverflow", {"recurse"}, 202, kCut, "", {}},
    {"FrameLargerThanTheGuard", {"big-frame"}, 202, kOneCall, "", {kArmRecordLast, kS390xChainLast}},
    {"FrameLargerThanTheGuardBeforeItsRecord",
     {"big-frame"},
     202,
     kInMain,
     "",
     {{kX86_64 | kI686 | kWindows, "x86 saves the frame pointer before it makes room for the frame"},
      {kArm, "32-bit ARM's frames of the procedure call standard are stored before the room for the frame"},
      kRiscvRecordFirst}},
    {"ShallowBackTrace", {"deep", "3"}, 216, {6, 3}, "", {}},
    {"DeepBackTraceIsCut", {"deep", "300"}, 216, kCut, "", {}},
    {"ShallowBackTraceToAFile", {"deep", "3"}, 216, {6, 3}, "", {}, OutputKind::kFile},
    {"DeepBackTraceToAFileIsCut", {"deep", "300"}, 216, kCut, "", {}, OutputKind::kFile},
};

class DriverRun : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DriverRun, EndsAsTheTableSays) {
  const FaultCase &c = GetParam();
  ASSERT_NE(DriverMachine(), 0u) << "unknown machine " << RUNTIME_DRIVER_MACHINE;
  for (const Cannot &cannot : c.cannot)
    if ((cannot.machines & DriverMachine()) != 0)
      GTEST_SKIP() << "SKIPPED on " RUNTIME_DRIVER_MACHINE ": " << cannot.why;
  const ChildResult result = Drive(c.args, c.kind);
  const Message message = ParseMessage(result.output);
  if (c.number == kDeclined) {
    EXPECT_FALSE(message.found) << Describe(result);
    EXPECT_FALSE(result.exited && (result.exitCode == 0 || result.exitCode >= 200)) << Describe(result);
    return;
  }
  ASSERT_TRUE(result.exited) << Describe(result);
  EXPECT_EQ(result.exitCode, c.number) << Describe(result);
  if (c.number == 0) {
    EXPECT_FALSE(message.found) << Describe(result);
    EXPECT_NE(result.output.find(c.output), std::string::npos) << Describe(result);
    return;
  }
  ASSERT_TRUE(message.wellFormed) << Describe(result);
  EXPECT_EQ(message.number, c.number);
  EXPECT_TRUE(*c.output == '\0' ? message.before.empty() : message.before.find(c.output) != std::string::npos)
      << message.before;
  const std::vector<std::string> &lines = message.frames;
  ASSERT_GE(lines.size(), 2u) << Describe(result);
  EXPECT_EQ(lines[0], message.location);
  if (c.trace.lines != 0) {
    EXPECT_EQ(lines.size(), c.trace.lines) << Describe(result);
  }
  // A walk that the bound did not cut ends at the main routine.
  const bool cut = lines.size() == kCut.lines;
  if (!cut) {
    EXPECT_EQ(lines.back(), MainReturnPoint());
  }
  const std::size_t end = cut ? lines.size() : lines.size() - 2;
  if (c.trace.repeated != 0 && end >= c.trace.repeated) {
    EXPECT_EQ(std::set<std::string>(lines.begin() + (end - c.trace.repeated), lines.begin() + end).size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, DriverRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

}  // namespace
