// The fault layer's instruction decoder on instructions written out byte by
// byte, over a thread whose registers and memory are made up here.
#include "platform/x86/fault_decode.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using x86::CodeMode;
constexpr CodeMode k32 = CodeMode::k32, k64 = CodeMode::k64;

// Register n holds R(n): high bits set, so that a truncated address shows.
constexpr uint64_t R(int n) { return 0xABCD'0000'0000'0000u + 0x0101'0000u * (n + 1) + 0x100u * n; }
constexpr uint64_t kIp = 0x7F00'0000'1000u;
constexpr uint64_t kFsBase = 0x7F11'0000'0000u, kGsBase = 0x5500'0000u;

class MadeUpThread final : public x86::InterruptedThread {
 public:
  std::map<uint64_t, uint8_t> memory;
  uint64_t registers[16];

  // `hex`: the instruction at kIp, as "F7 3D 10 00 00 00".
  explicit MadeUpThread(const std::string &hex) {
    for (int n = 0; n < 16; ++n) registers[n] = R(n);
    uint64_t at = kIp;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
      memory[at++] = static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16));
  }
  void Put(uint64_t address, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) memory[address + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  uint64_t Register(int number) const override { return registers[number]; }
  uint64_t SegmentBase(x86::Segment segment) const override {
    EXPECT_TRUE(segment == x86::Segment::kFs || segment == x86::Segment::kGs);
    return segment == x86::Segment::kFs ? kFsBase : kGsBase;
  }
  bool Read(uint64_t address, void *to, std::size_t size) const override {
    for (std::size_t i = 0; i < size; ++i) {
      auto byte = memory.find(address + i);
      if (byte == memory.end()) return false;
      static_cast<uint8_t *>(to)[i] = byte->second;
    }
    return true;
  }
};

constexpr int kMemory = -1, kNotFound = -2;

TEST(DecodeDivide, PrefixesOperandAndAddress) {
  struct Case {
    const char *name;
    CodeMode mode;
    const char *code;
    int reg;  // kMemory, kNotFound, or the divisor's register (+100: its high byte)
    int width, length;
    uint64_t address;
  } cases[] = {
      {"idiv ecx", k64, "F7 F9", 1, 4, 2, 0},
      {"div ah", k64, "F6 F4", 100, 1, 2, 0},
      {"any REX makes 4 spl", k64, "40 F6 F4", 4, 1, 3, 0},
      {"idiv r9b", k64, "41 F6 F9", 9, 1, 3, 0},
      {"idiv rcx", k64, "48 F7 F9", 1, 8, 3, 0},
      {"REX.W wins over 66", k64, "66 48 F7 F9", 1, 8, 4, 0},
      {"a prefix after REX voids it", k64, "48 66 F7 F9", 1, 2, 4, 0},
      {"rep and lock are passed over", k64, "F3 F0 F7 F9", 1, 4, 4, 0},
      {"48 is dec eax in 32-bit code", k32, "48 F7 F9", kNotFound, 0, 0, 0},
      {"[rbx-16]", k64, "F7 7B F0", kMemory, 4, 3, R(3) - 16},
      {"[rsp+disp32]", k64, "48 F7 B4 24 78 56 34 12", kMemory, 8, 8, R(4) + 0x12345678},
      {"[rax+rcx*8+8]", k64, "F7 7C C8 08", kMemory, 4, 4, R(0) + R(1) * 8 + 8},
      {"[r12+r13*2]", k64, "43 F7 3C 6C", kMemory, 4, 4, R(12) + R(13) * 2},
      {"REX.X makes index 4 r12", k64, "42 F7 3C 20", kMemory, 4, 4, R(0) + R(12)},
      {"SIB without base", k64, "F7 3C 25 00 10 00 00", kMemory, 4, 7, 0x1000},
      {"[rbp+disp8] is no RIP-relative", k64, "F7 7D 00", kMemory, 4, 3, R(5)},
      {"RIP-relative", k64, "F7 3D 10 00 00 00", kMemory, 4, 6, kIp + 6 + 0x10},
      {"r13 with mod 0 is RIP-relative", k64, "41 F7 3D 04 00 00 00", kMemory, 4, 7, kIp + 7 + 4},
      {"32-bit address in 64-bit code", k64, "67 F7 3B", kMemory, 4, 3, R(3) & 0xFFFFFFFF},
      {"fs", k64, "64 F7 3B", kMemory, 4, 3, kFsBase + R(3)},
      {"gs, then REX", k64, "65 48 F7 3B", kMemory, 8, 4, kGsBase + R(3)},
      {"ds is flat", k64, "3E F7 3B", kMemory, 4, 3, R(3)},
      {"disp32 alone, 32-bit", k32, "F7 3D 78 56 34 12", kMemory, 4, 6, 0x12345678},
      {"[ebp+esi*4+256]", k32, "F7 BC B5 00 01 00 00", kMemory, 4, 7, (R(5) + R(6) * 4 + 256) & 0xFFFFFFFF},
      {"[bp+di-2]", k32, "67 F7 7B FE", kMemory, 4, 4, (R(5) + R(7) - 2) & 0xFFFF},
      {"disp16 alone", k32, "67 F7 3E 34 12", kMemory, 4, 5, 0x1234},
      {"[si-32768]", k32, "67 66 F7 BC 00 80", kMemory, 2, 6, (R(6) - 0x8000) & 0xFFFF},
      {"mul", k64, "F7 E1", kNotFound, 0, 0, 0},
      {"mov", k64, "8B 03", kNotFound, 0, 0, 0},
      {"cut short", k64, "F7 7B", kNotFound, 0, 0, 0},
      {"longer than 15 bytes", k64, "66 66 66 66 66 66 66 66 66 66 66 66 66 66 F7 F9", kNotFound, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const x86::DivideInstruction divide = x86::DecodeDivide(c.mode, kIp, MadeUpThread(c.code));
    ASSERT_EQ(divide.found, c.reg != kNotFound);
    if (!divide.found) continue;
    EXPECT_EQ(divide.inMemory, c.reg == kMemory);
    EXPECT_EQ(divide.width, c.width);
    EXPECT_EQ(divide.length, c.length);
    if (c.reg == kMemory) {
      EXPECT_EQ(divide.address, c.address);
    } else {
      EXPECT_EQ(divide.reg, c.reg % 100);
      EXPECT_EQ(divide.highByte, c.reg >= 100);
    }
  }
}

TEST(ClassifyDivideError, TheDivisorDecides) {
  using x86::DivideError;
  constexpr uint64_t kData = 0x6000;
  struct Case {
    const char *name, *code;
    uint64_t rcx;     // a divisor in rcx
    int memoryBytes;  // bytes of memory at kData, holding `memory`
    uint64_t memory;
    DivideError error;
  } cases[] = {
      {"ecx 0", "F7 F9", 0, 0, 0, DivideError::kZeroDivisor},
      {"ecx -1", "F7 F9", 0xFFFFFFFF, 0, 0, DivideError::kQuotientOverflow},
      {"ecx 0, rcx not", "F7 F9", uint64_t{1} << 32, 0, 0, DivideError::kZeroDivisor},
      {"ch 0, cl not", "F6 FD", 0x00FF, 0, 0, DivideError::kZeroDivisor},
      {"dword 0 in memory", "F7 3C 25 00 60 00 00", 0, 4, 0, DivideError::kZeroDivisor},
      {"dword -1 in memory", "F7 3C 25 00 60 00 00", 0, 4, 0xFFFFFFFF, DivideError::kQuotientOverflow},
      {"byte 0 before a nonzero one", "F6 3C 25 00 60 00 00", 0, 2, 0xFF00, DivideError::kZeroDivisor},
      {"divisor unreadable", "F7 3C 25 00 60 00 00", 0, 0, 0, DivideError::kUnknown},
      {"no division", "F7 E1", 0, 0, 0, DivideError::kUnknown},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MadeUpThread thread(c.code);
    thread.registers[1] = c.rcx;
    thread.Put(kData, c.memory, c.memoryBytes);
    EXPECT_EQ(x86::ClassifyDivideError(k64, kIp, thread), c.error);
  }
}

TEST(IsPrivilegedInstruction, KernelOnlyInstructionsAndTheirNeighbours) {
  struct Case {
    CodeMode mode;
    const char *code, *what;
    bool privileged;
  } cases[] = {
      {k64, "F4", "hlt", true},           {k64, "FA", "cli", true},           {k64, "FB", "sti", true},
      {k64, "E4 60", "in", true},         {k64, "EE", "out", true},           {k64, "F3 6E", "rep outsb", true},
      {k64, "66 ED", "in ax, dx", true},  {k64, "48 F4", "REX hlt", true},    {k32, "48 F4", "dec eax", false},
      {k64, "0F 20 C0", "mov cr0", true}, {k64, "0F 23 C0", "mov dr0", true}, {k64, "0F 30", "wrmsr", true},
      {k64, "0F 32", "rdmsr", true},      {k64, "0F 06", "clts", true},       {k64, "0F 09", "wbinvd", true},
      {k64, "0F 31", "rdtsc", true},      {k64, "0F 01 F8", "swapgs", true},  {k64, "0F 01 10", "lgdt", true},
      {k64, "0F 01 F0", "lmsw", true},    {k64, "0F 01 38", "invlpg", true},  {k64, "0F 00 D8", "ltr", true},
      {k32, "0F 35", "sysexit", true},    {k64, "0F 01 00", "sgdt", false},   {k64, "0F 00 C0", "sldt", false},
      {k64, "0F 01 D0", "xgetbv", false}, {k64, "0F 01 D1", "xsetbv", true},  {k64, "0F 05", "syscall", false},
      {k64, "0F 0B", "ud2", false},       {k64, "CD 21", "int", false},       {k64, "89 00", "mov", false},
      {k64, "0F", "cut short", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(x86::IsPrivilegedInstruction(c.mode, kIp, MadeUpThread(c.code)), c.privileged);
  }
}

}  // namespace
