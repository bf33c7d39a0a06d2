// The RISC-V reader of the fault layer tells a faulting store from a load,
// which the kernel does not say. Every row was assembled by the RISC-V
// assembler (RV64GC) from the text beside it; a compressed instruction is
// its 16 bits.
#include "platform/riscv64/memory_access.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct AccessCase {
  uint32_t instruction;
  const char *text;
  bool writes;
};

TEST(RvMemoryAccess, StoresAndAtomicsWriteEverythingElseDoesNot) {
  const AccessCase cases[] = {
      {0x00b63423, "sd a1, 8(a2)", true},
      {0x00b62023, "sw a1, 0(a2)", true},
      {0x00b61123, "sh a1, 2(a2)", true},
      {0x00b601a3, "sb a1, 3(a2)", true},
      {0x00a63427, "fsd fa0, 8(a2)", true},
      {0x00a62227, "fsw fa0, 4(a2)", true},
      {0x18b6352f, "sc.d a0, a1, (a2)", true},
      {0x00b6252f, "amoadd.w a0, a1, (a2)", true},
      {0x08b6352f, "amoswap.d a0, a1, (a2)", true},
      {0xe60c, "c.sd a1, 8(a2)", true},
      {0xc24c, "c.sw a1, 4(a2)", true},
      {0xa60c, "c.fsd fa1, 8(a2)", true},
      {0xe406, "c.sdsp ra, 8(sp)", true},
      {0xc22a, "c.swsp a0, 4(sp)", true},
      {0xa42a, "c.fsdsp fa0, 8(sp)", true},
      {0x00863583, "ld a1, 8(a2)", false},
      {0x00062583, "lw a1, 0(a2)", false},
      {0x00364583, "lbu a1, 3(a2)", false},
      {0x00863507, "fld fa0, 8(a2)", false},
      {0x1006352f, "lr.d a0, (a2)", false},
      {0x660c, "c.ld a1, 8(a2)", false},
      {0x60a2, "c.ldsp ra, 8(sp)", false},
      {0x424c, "c.lw a1, 4(a2)", false},
      {0x2608, "c.fld fa0, 8(a2)", false},
      {0x00c58533, "add a0, a1, a2", false},
      {0x952e, "c.add a0, a1", false},
      {0x713d, "c.addi16sp sp, -32", false},
      {0x00100073, "ebreak", false},
      {0x9082, "c.jalr ra", false},
  };
  for (const AccessCase &c : cases) EXPECT_EQ(RvWritesMemory(c.instruction), c.writes) << c.text;
}

}  // namespace
