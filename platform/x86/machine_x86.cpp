// The x86 side of platform/machine.h: the same on every operating system.
#include "platform/machine.h"

#if !defined(__GNUC__) || !(defined(__x86_64__) || defined(__i386__))
#error "machine_x86.cpp is for x86 targets built with GCC-compatible compilers"
#endif

namespace {

// MXCSR with the x87 word's exception masks (bits 0-5 there, 7-12 here) and
// its rounding control (bits 10-11 there, 13-14 here); flags clear.
[[maybe_unused]] uint32_t MxcsrFor(uint16_t controlWord) {
  return static_cast<uint32_t>(controlWord & 0x3F) << 7 | static_cast<uint32_t>(controlWord >> 10 & 3) << 13;
}

}  // namespace

void ResetFloatUnit(uint16_t controlWord) {
  asm volatile("fninit\n\tfldcw %0" : : "m"(controlWord) : "memory");
#if defined(__SSE__)
  uint32_t mxcsr = MxcsrFor(controlWord);
  asm volatile("ldmxcsr %0" : : "m"(mxcsr) : "memory");
#endif
}

uint16_t StackSegmentSelector() {
  uint16_t selector;
  asm volatile("mov %%ss, %0" : "=r"(selector));
  return selector;
}

// The frame pointer of the caller is kept on the stack (which also keeps the
// stack aligned for the call) and restored afterwards.
#if defined(__x86_64__)
__attribute__((naked)) void CallWithFrameChainEnd(void (*)()) {
  asm("push %rbp\n\t"
      "xor %ebp, %ebp\n\t"
      "call *%rdi\n\t"
      "pop %rbp\n\t"
      "ret");
}
#else
__attribute__((naked)) void CallWithFrameChainEnd(void (*)()) {
  asm("push %ebp\n\t"
      "mov 8(%esp), %eax\n\t"
      "sub $8, %esp\n\t"
      "xor %ebp, %ebp\n\t"
      "call *%eax\n\t"
      "add $8, %esp\n\t"
      "pop %ebp\n\t"
      "ret");
}
#endif
