// RaiseException as each processor's part of the fault layer captures its
// caller: the filter sees the caller's registers at the return point; a
// return point the filter moves is entered as if called from the old one;
// and the software arithmetic raises its traps from the routine that
// computes, as the x87 raises them in the routine holding the instruction.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdint>

#include "extended/soft_extended.h"
#include "platform/frame_layout.h"
#include "platform/machine.h"
#include "platform/platform.h"

namespace {

constexpr DWORD kCode = 0xE0000001;

struct Seen {
  DWORD code = 0;
  DWORD count = 0;
  ULONG_PTR argument = 0;
  ULONG_PTR eip = 0, ebp = 0;
} seen;
ULONG_PTR moveTo = 0;

LONG WINAPI Record(EXCEPTION_POINTERS *pointers) {
  const EXCEPTION_RECORD &record = *pointers->ExceptionRecord;
  seen = {record.ExceptionCode, record.NumberParameters, record.ExceptionInformation[0], pointers->ContextRecord->Eip,
          pointers->ContextRecord->Ebp};
  if (moveTo != 0) pointers->ContextRecord->Eip = moveTo;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// The filter is in place for the life of the object.
class FilterScope {
 public:
  explicit FilterScope(ULONG_PTR target) {
    seen = {};
    moveTo = target;
    SetUnhandledExceptionFilter(Record);
  }
  ~FilterScope() {
    SetUnhandledExceptionFilter(nullptr);
    softFloatTrap = nullptr;
  }
};

uintptr_t Address(void (*routine)()) { return reinterpret_cast<uintptr_t>(routine); }
uintptr_t FrameOf(const void *frame) { return reinterpret_cast<uintptr_t>(frame); }

// A call's return point lies within its routine, whose code, instrumented
// by a sanitizer or not, is shorter than this.
constexpr uintptr_t kRoutineSpan = 4096;

uintptr_t raiserFrame = 0;
volatile int afterRaise = 0;

GRADES_OWN_FRAME void Raiser() {
  raiserFrame = FrameOf(__builtin_frame_address(0));
  const ULONG_PTR argument = 42;
  RaiseException(kCode, 0, 1, &argument);
  afterRaise = afterRaise + 1;  // not a tail call
}

TEST(RaiseException, TheFilterSeesTheCallerAtTheReturnPoint) {
  FilterScope filter(0);
  afterRaise = 0;
  Raiser();
  EXPECT_EQ(seen.code, kCode);
  EXPECT_EQ(seen.count, 1u);
  EXPECT_EQ(seen.argument, 42u);
  EXPECT_EQ(seen.ebp, raiserFrame);
  EXPECT_GT(seen.eip, Address(Raiser));
  EXPECT_LT(seen.eip, Address(Raiser) + kRoutineSpan);
  // Continued where it was: the rest of the caller ran.
  EXPECT_EQ(afterRaise, 1);
}

std::jmp_buf back;
uintptr_t landedReturn = 0, landedOuter = 0;

// Its frame's link holds what it was entered with.
GRADES_OWN_FRAME void Landing() {
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  landedOuter = FrameOuter(frame);
  landedReturn = FrameReturnAddress(frame);
  std::longjmp(back, 1);
}

TEST(RaiseException, AMovedReturnPointIsEnteredAsIfCalledFromTheOldOne) {
  FilterScope filter(Address(Landing));
  landedReturn = landedOuter = 0;
  if (setjmp(back) == 0) {
    Raiser();
    FAIL() << "the raise returned to its caller";
  }
  EXPECT_EQ(landedReturn, seen.eip);
  EXPECT_EQ(landedOuter, raiserFrame);
}

uintptr_t computingFrame = 0;

GRADES_OWN_FRAME void Compute() {
  computingFrame = FrameOf(__builtin_frame_address(0));
  const SoftExtended zero;
  const SoftExtended quotient = SoftExtended::Div(zero, zero);
  afterRaise = quotient.IsNaN() ? 1 : 2;
}

TEST(RaiseException, TheSoftwareArithmeticRaisesInTheRoutineThatComputes) {
  FilterScope filter(0);
  softFloatTrap = RaiseException;
  afterRaise = 0;
  Compute();
  EXPECT_EQ(seen.code, static_cast<DWORD>(EXCEPTION_FLT_INVALID_OPERATION));
  EXPECT_EQ(seen.ebp, computingFrame);
  EXPECT_GT(seen.eip, Address(Compute));
  EXPECT_LT(seen.eip, Address(Compute) + kRoutineSpan);
  // Continued, the operation gives the masked result.
  EXPECT_EQ(afterRaise, 1);
}

}  // namespace
