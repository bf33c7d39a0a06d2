// The x87 unit, on every x86 processor: reachable through inline assembly.
#pragma once

#include <cstdint>

#define GRADES_HAVE_X87 1

inline uint16_t X87ControlWord() {
  uint16_t word;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

inline void SetX87ControlWord(uint16_t word) { asm volatile("fldcw %0" : : "m"(word) : "memory"); }

inline uint16_t X87StatusWord() {
  uint16_t word;
  asm volatile("fnstsw %0" : "=m"(word) : : "memory");
  return word;
}

inline void ClearX87Exceptions() { asm volatile("fnclex" : : : "memory"); }
