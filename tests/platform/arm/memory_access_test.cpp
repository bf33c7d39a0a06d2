// The A32 reader of the fault layer tells a faulting store from a load
// where qemu-user does not say. Every row was assembled by the 32-bit ARM
// assembler from the text beside it.
#include "platform/arm/memory_access.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct AccessCase {
  uint32_t instruction;
  const char *text;
  bool writes;
};

TEST(A32MemoryAccess, StoresAndSwapsWriteEverythingElseDoesNot) {
  const AccessCase cases[] = {
      {0xe5821000, "str r1, [r2]", true},
      {0xe5c21003, "strb r1, [r2, #3]", true},
      {0xe0c210b2, "strh r1, [r2], #2", true},
      {0xe1c420f0, "strd r2, r3, [r4]", true},
      {0xe7821103, "str r1, [r2, r3, lsl #2]", true},
      {0xe92d4810, "push {r4, fp, lr}", true},
      {0xe8800006, "stmia r0, {r1, r2}", true},
      {0xe1823f91, "strex r3, r1, [r2]", true},
      {0xe1a23f94, "strexd r3, r4, r5, [r2]", true},
      {0xe1031092, "swp r1, r2, [r3]", true},
      {0xed810b02, "vstr d0, [r1, #8]", true},
      {0xed2d8b02, "vpush {d8}", true},
      {0xec800a04, "vstmia r0, {s0-s3}", true},
      {0xe5921000, "ldr r1, [r2]", false},
      {0xe5d21003, "ldrb r1, [r2, #3]", false},
      {0xe1d210b0, "ldrh r1, [r2]", false},
      {0xe1d210d0, "ldrsb r1, [r2]", false},
      {0xe1d210f0, "ldrsh r1, [r2]", false},
      {0xe1c420d0, "ldrd r2, r3, [r4]", false},
      {0xe8bd8810, "pop {r4, fp, pc}", false},
      {0xe8900006, "ldmia r0, {r1, r2}", false},
      {0xe1921f9f, "ldrex r1, [r2]", false},
      {0xed910b02, "vldr d0, [r1, #8]", false},
      {0xecbd8b02, "vpop {d8}", false},
      {0xec410b10, "vmov d0, r0, r1", false},
      {0xec510b10, "vmov r0, r1, d0", false},
      {0xf5d1f000, "pld [r1]", false},
      {0xe0821003, "add r1, r2, r3", false},
      {0xe0010392, "mul r1, r2, r3", false},
      {0xe12fff1e, "bx lr", false},
      {0xe7f000f0, "udf #0", false},
  };
  for (const AccessCase &c : cases) EXPECT_EQ(A32WritesMemory(c.instruction), c.writes) << c.text;
}

}  // namespace
