// What the run-time frame asks of the processor (platform/machine.h), on
// every processor: the floating unit rounds as the control word says, and
// the routine called at the end of the frame chain has 0 as its outer frame.
#include "platform/machine.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "platform/frame_layout.h"

namespace {

// Every exception masked, 64-bit precision: the rows differ in the
// rounding field (bits 10-11) only.
constexpr uint16_t kQuietWord = 0x133F;
// The word a process starts with.
constexpr uint16_t kStartWord = 0x037F;

volatile double one = 1.0, three = 3.0;

struct RoundingCase {
  const char *name;
  uint16_t field;
  uint64_t third, minusThird;  // the bits of 1/3 and -1/3
};

// Each unit numbers the directions in its own order; the results tell them
// apart (1/3 lies between ...5555 and ...5556).
TEST(FloatUnit, RoundsAsTheControlWordSays) {
  const RoundingCase cases[] = {
      {"to nearest", 0x0000, 0x3FD5555555555555, 0xBFD5555555555555},
      {"down", 0x0400, 0x3FD5555555555555, 0xBFD5555555555556},
      {"up", 0x0800, 0x3FD5555555555556, 0xBFD5555555555555},
      {"toward zero", 0x0C00, 0x3FD5555555555555, 0xBFD5555555555555},
  };
  for (const RoundingCase &c : cases) {
    ResetFloatUnit(kQuietWord | c.field);
    // Stored at once, under this rounding, where a unit computes wider.
    volatile double third = one / three;
    volatile double minusThird = -one / three;
    ResetFloatUnit(kStartWord);
    EXPECT_EQ(std::bit_cast<uint64_t>(static_cast<double>(third)), c.third) << c.name;
    EXPECT_EQ(std::bit_cast<uint64_t>(static_cast<double>(minusThird)), c.minusThird) << c.name;
  }
}

uintptr_t outerFrame = 1, returnAddress = 0;

GRADES_OWN_FRAME void ReadLink(uintptr_t frame) {
  outerFrame = FrameOuter(frame);
  returnAddress = FrameReturnAddress(frame);
}

volatile int afterRead = 0;

// Its frame's link, read in a call: a RISC-V routine that calls none keeps
// no return address in its frame.
GRADES_OWN_FRAME void ChainEnd() {
  ReadLink(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  afterRead = afterRead + 1;  // not a tail call
}

TEST(FrameChain, TheRoutineCalledEndsTheChain) {
  CallWithFrameChainEnd(ChainEnd);
  EXPECT_EQ(outerFrame, 0u);
  EXPECT_NE(returnAddress, 0u);
}

}  // namespace
