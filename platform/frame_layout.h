// Where a routine's frame keeps its link outwards: the calling routine's
// frame, and the return point into that routine. A frame is named by its
// address as __builtin_frame_address(0) gives it inside the routine (and as
// the fault layer's CONTEXT holds it in Ebp); the two words lie at fixed
// offsets from it, which differ by processor. The build keeps frame
// pointers, so every routine of the program has them.
#pragma once

#include <cstdint>

#include "platform/machine.h"

struct FrameLayout {
  intptr_t outer;          // the calling routine's frame, in the same terms
  intptr_t returnAddress;  // the return point into the calling routine
};

#if defined(__i386__) || defined(__x86_64__) || defined(__aarch64__)
// The frame pointer points at {saved frame pointer, return address}.
inline constexpr FrameLayout kFrameLayout = {0, sizeof(uintptr_t)};
#elif defined(__arm__)
// ARM code with the procedure call standard's frames: {fp, sp, lr, pc} are
// pushed and the frame pointer points at the last.
inline constexpr FrameLayout kFrameLayout = {-12, -4};
#elif defined(__riscv)
// The frame pointer is the caller's stack pointer: the return address just
// below it, the saved frame pointer below that.
inline constexpr FrameLayout kFrameLayout = {-16, -8};
#elif defined(__s390x__)
// The frame address is the caller's stack pointer. There the caller keeps
// its back chain (its own frame address), and its register save area holds
// the routine's return address, saved with r14 at 112.
inline constexpr FrameLayout kFrameLayout = {0, 112};
#else
#error "no frame layout for this processor"
#endif

inline uintptr_t FrameWord(uintptr_t frame, intptr_t offset) {
  return *reinterpret_cast<const uintptr_t *>(frame + static_cast<uintptr_t>(offset));
}
inline uintptr_t FrameOuter(uintptr_t frame) { return FrameWord(frame, kFrameLayout.outer); }
inline uintptr_t FrameReturnAddress(uintptr_t frame) { return FrameWord(frame, kFrameLayout.returnAddress); }
// Whether both words of a frame's link may lie on the main stack
// (MayHoldFrame), so that reading them cannot fault.
inline bool MayHoldFrameLink(uintptr_t frame) {
  return MayHoldFrame(frame + static_cast<uintptr_t>(kFrameLayout.outer)) &&
         MayHoldFrame(frame + static_cast<uintptr_t>(kFrameLayout.returnAddress));
}
