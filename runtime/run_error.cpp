#include "runtime/run_error.h"

#include "platform/frame_layout.h"
#include "platform/machine.h"
#include "runtime/startup.h"
#include "runtime/std_streams.h"
#include "textio/file_driver.h"
#include "textio/write_text.h"

// Inside a routine built with a frame pointer: where it returns to in its
// caller, and its caller's frame.
#define RETURN_POINT() reinterpret_cast<CodeAddress>(__builtin_return_address(0))
#define CALLER_FRAME() FrameOuter(reinterpret_cast<FrameRef>(__builtin_frame_address(0)))

uint16_t exitStatus = 0;
uint16_t errorNumber = 0;
CodeAddress errorLocation = 0;
FrameRef errorFrame = 0;
ErrorHook errorHook = nullptr;
TraceLineFormatter traceLineFormatter = DefaultTraceLine;
uint16_t consoleTraceDepth = 8;

// Neither routine may be inlined, split or cloned: what they report is their
// own return point and their caller's frame.
GRADES_OWN_FRAME void CheckIo(const void *) {
  const uint16_t status = ioStatus;
  if (status == 0) return;
  ioStatus = 0;
  StopWithError(status, RETURN_POINT(), CALLER_FRAME());
}

GRADES_OWN_FRAME void RaiseRunError(uint16_t number) { StopWithError(number, RETURN_POINT(), CALLER_FRAME()); }

void StopWithError(uint16_t number, CodeAddress location, FrameRef frame) {
  if (errorHook != nullptr) errorHook(number, location, frame);
  errorNumber = number;
  exitStatus = number;
  errorLocation = location;
  errorFrame = frame;
  NormalEnd();
}

void StopProgram(uint8_t exitCode) {
  exitStatus = exitCode;
  NormalEnd();
}

ShortString FormatHex(uint32_t value, uint8_t digits) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  ShortString text;
  text.length = digits;
  for (int i = digits - 1; i >= 0; --i) {
    text.text[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

uint32_t ImageAddress(CodeAddress address) { return static_cast<uint32_t>(address - ImageAddressBias()); }

ShortString DefaultTraceLine(CodeAddress address) {
  ShortString line = StringFrom("  0x");
  AppendString(line, FormatHex(ImageAddress(address), 8));
  return line;
}

// Nothing here is checked: a failed write sets ioStatus and the writes after
// it do nothing.
void PrintRunError() {
  if (errorLocation == 0) return;
  TextStream &out = errorOutput;
  WriteString(0, out, StringFrom("Runtime error "));
  WriteInteger(0, out, errorNumber);
  WriteString(0, out, StringFrom(" at 0x"));
  WriteString(0, out, FormatHex(ImageAddress(errorLocation), 8));
  WriteLineEnd(out);
  WriteString(0, out, traceLineFormatter(errorLocation));
  WriteLineEnd(out);

  // The walk goes outwards while each frame lies above the one before; the
  // main routine's outer frame is 0, which ends it there. It also ends at a
  // frame that cannot be one (code built without frame pointers, such as a
  // system library, may leave anything in the frame register).
  const bool toCharDevice = IsCharDevice(out.handle);
  auto previous = static_cast<intptr_t>(errorFrame) - 1;
  auto current = static_cast<intptr_t>(errorFrame);
  int count = 0;
  while (current > previous) {
    const auto frame = static_cast<FrameRef>(current);
    if (current != 0 && !MayHoldFrameLink(frame)) break;
    const CodeAddress returnAddress = current != 0 ? FrameReturnAddress(frame) : 0;
    if (returnAddress != 0) {
      WriteString(0, out, traceLineFormatter(returnAddress));
      WriteLineEnd(out);
    }
    ++count;
    if (count > consoleTraceDepth && toCharDevice) break;
    if (count > 256) break;
    previous = current;
    current = current != 0 ? static_cast<intptr_t>(FrameOuter(frame)) : 0;
  }
  WriteString(0, out, ShortString{});
  WriteLineEnd(out);
}
