// Instruction decoding for the fault layer: legacy prefixes, REX, ModRM, SIB
// and displacement, as far as divisions and privileged instructions need
// them.
#include "platform/x86/fault_decode.h"

namespace x86 {

namespace {

constexpr unsigned kMaxLength = 15;  // the processor's own limit
constexpr int kNone = -1;
constexpr int kSp = 4;

constexpr uint8_t kRexW = 8, kRexX = 2, kRexB = 1;

// The instruction's bytes, read one at a time and never further than the
// decoding needs: only those are sure to be mapped.
class Cursor {
 public:
  Cursor(const InterruptedThread &thread, uint64_t ip) : thread_(thread), ip_(ip) {}

  uint8_t Byte() {
    uint8_t byte = 0;
    if (length_ >= kMaxLength || !thread_.Read(ip_ + length_, &byte, 1)) ok_ = false;
    ++length_;
    return byte;
  }

  // A little-endian displacement, sign-extended.
  int64_t Displacement(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint64_t{Byte()} << (8 * i);
    const int shift = 64 - 8 * bytes;
    return static_cast<int64_t>(value << shift) >> shift;
  }

  bool ok() const { return ok_; }
  unsigned length() const { return length_; }
  uint64_t end() const { return ip_ + length_; }

 private:
  const InterruptedThread &thread_;
  uint64_t ip_;
  unsigned length_ = 0;
  bool ok_ = true;
};

struct Prefixes {
  bool operandSize = false;  // 66
  bool addressSize = false;  // 67
  int segment = kNone;       // an override
  uint8_t rex = 0;           // 0 without one
};

// Reads the prefixes and returns the opcode byte.
uint8_t ReadOpcode(Cursor &code, CodeMode mode, Prefixes &prefixes) {
  for (;;) {
    const uint8_t byte = code.Byte();
    if (!code.ok()) return 0;
    switch (byte) {
      case 0x26: prefixes.segment = static_cast<int>(Segment::kEs); break;
      case 0x2E: prefixes.segment = static_cast<int>(Segment::kCs); break;
      case 0x36: prefixes.segment = static_cast<int>(Segment::kSs); break;
      case 0x3E: prefixes.segment = static_cast<int>(Segment::kDs); break;
      case 0x64: prefixes.segment = static_cast<int>(Segment::kFs); break;
      case 0x65: prefixes.segment = static_cast<int>(Segment::kGs); break;
      case 0x66: prefixes.operandSize = true; break;
      case 0x67: prefixes.addressSize = true; break;
      case 0xF0:
      case 0xF2:
      case 0xF3: break;
      default:
        // In 32-bit code 40-4F are inc and dec, opcodes of their own.
        if (mode == CodeMode::k64 && (byte & 0xF0) == 0x40) {
          prefixes.rex = byte;
          continue;
        }
        return byte;
    }
    // A REX prefix counts only right before the opcode.
    prefixes.rex = 0;
  }
}

// The linear address of the memory operand of `modrm`, reading its SIB
// byte and displacement. The instruction must end with them: a
// RIP-relative address counts from there.
uint64_t MemoryAddress(Cursor &code, CodeMode mode, const Prefixes &prefixes, uint8_t modrm,
                       const InterruptedThread &thread) {
  const int mod = modrm >> 6, rm = modrm & 7;
  const unsigned addressBits =
      mode == CodeMode::k64 ? (prefixes.addressSize ? 32 : 64) : (prefixes.addressSize ? 16 : 32);
  int base = kNone, index = kNone, scale = 0;
  int64_t displacement = 0;
  bool ripRelative = false;
  if (addressBits == 16) {
    // bx+si, bx+di, bp+si, bp+di, si, di, bp, bx
    static constexpr int kBase16[8] = {3, 3, 5, 5, 6, 7, 5, 3};
    static constexpr int kIndex16[8] = {6, 7, 6, 7, kNone, kNone, kNone, kNone};
    if (mod == 0 && rm == 6) {
      displacement = code.Displacement(2);
    } else {
      base = kBase16[rm];
      index = kIndex16[rm];
      displacement = mod == 1 ? code.Displacement(1) : mod == 2 ? code.Displacement(2) : 0;
    }
  } else {
    const int extendBase = (prefixes.rex & kRexB) != 0 ? 8 : 0;
    if (rm == 4) {
      const uint8_t sib = code.Byte();
      scale = sib >> 6;
      index = (sib >> 3 & 7) | ((prefixes.rex & kRexX) != 0 ? 8 : 0);
      if (index == kSp) index = kNone;
      base = (sib & 7) == 5 && mod == 0 ? kNone : (sib & 7) | extendBase;
      if (base == kNone) displacement = code.Displacement(4);
    } else if (rm == 5 && mod == 0) {
      displacement = code.Displacement(4);
      ripRelative = mode == CodeMode::k64;
    } else {
      base = rm | extendBase;
    }
    if (mod == 1) displacement = code.Displacement(1);
    if (mod == 2) displacement = code.Displacement(4);
  }
  uint64_t address = static_cast<uint64_t>(displacement);
  if (ripRelative) address += code.end();
  if (base != kNone) address += thread.Register(base);
  if (index != kNone) address += thread.Register(index) << scale;
  if (addressBits < 64) address &= (uint64_t{1} << addressBits) - 1;
  if (prefixes.segment == static_cast<int>(Segment::kFs) || prefixes.segment == static_cast<int>(Segment::kGs))
    address += thread.SegmentBase(static_cast<Segment>(prefixes.segment));
  return mode == CodeMode::k32 ? address & 0xFFFFFFFFu : address;
}

}  // namespace

DivideInstruction DecodeDivide(CodeMode mode, uint64_t ip, const InterruptedThread &thread) {
  Cursor code(thread, ip);
  Prefixes prefixes;
  const uint8_t opcode = ReadOpcode(code, mode, prefixes);
  if (opcode != 0xF6 && opcode != 0xF7) return {};
  const uint8_t modrm = code.Byte();
  const int operation = modrm >> 3 & 7;
  if (!code.ok() || (operation != 6 && operation != 7)) return {};

  DivideInstruction divide;
  divide.width = opcode == 0xF6 ? 1 : (prefixes.rex & kRexW) != 0 ? 8 : prefixes.operandSize ? 2 : 4;
  if (modrm >> 6 == 3) {
    divide.reg = static_cast<uint8_t>((modrm & 7) | ((prefixes.rex & kRexB) != 0 ? 8 : 0));
    // Without a REX prefix the byte registers 4-7 are ah, ch, dh and bh.
    if (divide.width == 1 && prefixes.rex == 0 && divide.reg >= 4) {
      divide.reg -= 4;
      divide.highByte = true;
    }
  } else {
    divide.inMemory = true;
    divide.address = MemoryAddress(code, mode, prefixes, modrm, thread);
  }
  if (!code.ok()) return {};
  divide.found = true;
  divide.length = static_cast<uint8_t>(code.length());
  return divide;
}

// The processor raises the same divide error for a zero divisor and for a
// quotient its register cannot hold; only the divisor tells them apart.
DivideError ClassifyDivideError(CodeMode mode, uint64_t ip, const InterruptedThread &thread) {
  const DivideInstruction divide = DecodeDivide(mode, ip, thread);
  if (!divide.found) return DivideError::kUnknown;
  uint64_t divisor = 0;
  if (divide.inMemory) {
    uint8_t bytes[8];
    if (!thread.Read(divide.address, bytes, divide.width)) return DivideError::kUnknown;
    for (int i = 0; i < divide.width; ++i) divisor |= uint64_t{bytes[i]} << (8 * i);
  } else {
    divisor = thread.Register(divide.reg) >> (divide.highByte ? 8 : 0);
    if (divide.width < 8) divisor &= (uint64_t{1} << (8 * divide.width)) - 1;
  }
  return divisor == 0 ? DivideError::kZeroDivisor : DivideError::kQuotientOverflow;
}

bool IsPrivilegedInstruction(CodeMode mode, uint64_t ip, const InterruptedThread &thread) {
  Cursor code(thread, ip);
  Prefixes prefixes;
  // One group of opcodes to a row, with their names.
  // clang-format off
  switch (ReadOpcode(code, mode, prefixes)) {
    case 0xF4:                                       // hlt
    case 0xFA: case 0xFB:                            // cli, sti
    case 0x6C: case 0x6D: case 0x6E: case 0x6F:      // ins, outs
    case 0xE4: case 0xE5: case 0xE6: case 0xE7:      // in, out to a port number
    case 0xEC: case 0xED: case 0xEE: case 0xEF:      // in, out to the port in dx
      return true;
    case 0x0F: break;
    default: return false;
  }
  const uint8_t second = code.Byte();
  if (!code.ok()) return false;
  switch (second) {
    case 0x06:                                       // clts
    case 0x07:                                       // sysret
    case 0x08: case 0x09:                            // invd, wbinvd
    case 0x20: case 0x21: case 0x22: case 0x23:      // mov to and from control and debug registers
    case 0x30: case 0x32:                            // wrmsr, rdmsr
    case 0x31: case 0x33:                            // rdtsc, rdpmc, where the kernel keeps them
    case 0x35:                                       // sysexit
      return true;
    case 0x00: case 0x01: break;
    default: return false;
  }
  // clang-format on
  const uint8_t modrm = code.Byte();
  if (!code.ok()) return false;
  const int operation = modrm >> 3 & 7;
  if (second == 0x00) return operation == 2 || operation == 3;  // lldt, ltr
  // lgdt, lidt, lmsw, invlpg; sgdt, sidt and smsw are the user's.
  if (modrm >> 6 != 3) return operation == 2 || operation == 3 || operation == 6 || operation == 7;
  // lmsw, xsetbv, swapgs, rdtscp (xgetbv, D0, is the user's).
  return operation == 6 || modrm == 0xD1 || modrm == 0xF8 || modrm == 0xF9;
}

}  // namespace x86
