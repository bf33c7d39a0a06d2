// The faulting instruction, read where the operating system's report of an
// x86 fault says less than the processor knows: whether a divide error had
// a zero divisor or a quotient too large for its register, and whether a
// general-protection fault came from a privileged instruction. The same
// decoder serves 32-bit and 64-bit code; it sees the interrupted thread only
// through an InterruptedThread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace x86 {

enum class CodeMode : uint8_t { k32, k64 };

enum class Segment : uint8_t { kEs, kCs, kSs, kDs, kFs, kGs };

// The registers and memory of the thread at its fault.
class InterruptedThread {
 public:
  // General register `number` in encoding order (0 ax, 1 cx, 2 dx, 3 bx,
  // 4 sp, 5 bp, 6 si, 7 di, 8-15 r8-r15), at its full width.
  virtual uint64_t Register(int number) const = 0;
  // Asked for kFs and kGs only: the other segments are flat, based at 0.
  virtual uint64_t SegmentBase(Segment segment) const = 0;
  // Copies `size` bytes from `address`; false where they cannot be read.
  virtual bool Read(uint64_t address, void *to, std::size_t size) const = 0;

 protected:
  ~InterruptedThread() = default;
};

// A div or idiv (F6 or F7 with /6 or /7) and where its divisor is.
struct DivideInstruction {
  bool found = false;
  uint8_t length = 0;  // bytes of the instruction
  uint8_t width = 0;   // bytes of the divisor: 1, 2, 4 or 8
  bool inMemory = false;
  uint8_t reg = 0;        // the divisor's register, when not in memory
  bool highByte = false;  // ah, ch, dh or bh: bits 8-15 of `reg`
  uint64_t address = 0;   // the divisor's linear address, when in memory
};

DivideInstruction DecodeDivide(CodeMode mode, uint64_t ip, const InterruptedThread &thread);

// What a divide error at `ip` was; kUnknown when the instruction there is no
// division or its divisor cannot be read.
enum class DivideError : uint8_t { kUnknown, kZeroDivisor, kQuotientOverflow };
DivideError ClassifyDivideError(CodeMode mode, uint64_t ip, const InterruptedThread &thread);

// Whether the instruction at `ip` is one that only the kernel may run (or,
// like in and out, only with its leave): hlt, cli, sti, port I/O, and the
// system instructions of the 0F group.
bool IsPrivilegedInstruction(CodeMode mode, uint64_t ip, const InterruptedThread &thread);

}  // namespace x86
