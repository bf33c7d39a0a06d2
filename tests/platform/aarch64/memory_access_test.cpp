// The A64 reader of the fault layer tells a faulting store from a load
// where the system does not say. Every row was assembled by the 64-bit ARM
// assembler from the text beside it.
#include "platform/aarch64/memory_access.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct AccessCase {
  uint32_t instruction;
  const char *text;
  bool writes;
};

TEST(A64MemoryAccess, StoresAndAtomicsWriteEverythingElseDoesNot) {
  const AccessCase cases[] = {
      {0xf9000041, "str x1, [x2]", true},
      {0x39000c41, "strb w1, [x2, #3]", true},
      {0x78002441, "strh w1, [x2], #2", true},
      {0xb8237841, "str w1, [x2, x3, lsl #2]", true},
      {0xf81f8041, "stur x1, [x2, #-8]", true},
      {0xb8000841, "sttr w1, [x2]", true},
      {0xa9bf0be1, "stp x1, x2, [sp, #-16]!", true},
      {0xac000861, "stnp q1, q2, [x3]", true},
      {0x3d800020, "str q0, [x1]", true},
      {0xfd000420, "str d0, [x1, #8]", true},
      {0x3d000020, "str b0, [x1]", true},
      {0x4c007020, "st1 {v0.16b}, [x1]", true},
      {0x0d009020, "st1 {v0.s}[1], [x1]", true},
      {0xc8037c41, "stxr w3, x1, [x2]", true},
      {0xc8238881, "stlxp w3, x1, x2, [x4]", true},
      {0xc89ffc41, "stlr x1, [x2]", true},
      {0x99000041, "stlur w1, [x2]", true},
      {0xc8a17c62, "cas x1, x2, [x3]", true},
      {0x88e1fc62, "casal w1, w2, [x3]", true},
      {0x48207c82, "casp x0, x1, x2, x3, [x4]", true},
      {0xf8210062, "ldadd x1, x2, [x3]", true},
      {0xb821007f, "stadd w1, [x3]", true},
      {0xf8218062, "swp x1, x2, [x3]", true},
      {0xf9400041, "ldr x1, [x2]", false},
      {0x39400c41, "ldrb w1, [x2, #3]", false},
      {0x79800041, "ldrsh x1, [x2]", false},
      {0xb8a36841, "ldrsw x1, [x2, x3]", false},
      {0xf85f8041, "ldur x1, [x2, #-8]", false},
      {0xa8c10be1, "ldp x1, x2, [sp], #16", false},
      {0xac400861, "ldnp q1, q2, [x3]", false},
      {0x3dc00020, "ldr q0, [x1]", false},
      {0xfd400420, "ldr d0, [x1, #8]", false},
      {0x4c407020, "ld1 {v0.16b}, [x1]", false},
      {0x0d409020, "ld1 {v0.s}[1], [x1]", false},
      {0xc85f7c41, "ldxr x1, [x2]", false},
      {0xc87f8881, "ldaxp x1, x2, [x4]", false},
      {0xc8dffc41, "ldar x1, [x2]", false},
      {0x99400041, "ldapur w1, [x2]", false},
      {0x58000001, "ldr x1, <literal>", false},
      {0xf9800020, "prfm pldl1keep, [x1]", false},
      {0xf8200441, "ldraa x1, [x2]", false},
      {0x8b030041, "add x1, x2, x3", false},
      {0x14000000, "b .", false},
      {0xd503201f, "nop", false},
  };
  for (const AccessCase &c : cases) EXPECT_EQ(A64WritesMemory(c.instruction), c.writes) << c.text;
}

}  // namespace
