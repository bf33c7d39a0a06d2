// A program on the run-time frame, for the process-level tests: its first
// argument names what it does, and it runs with a module table of test
// modules that report their initialisations and finalisations on standard
// output when the last argument is "--trace".
//
// Lines marked "after-check: NAME" follow a statement's I/O check; the tests
// look them up to see where a reported location points.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "extended/extended.h"
#include "extended/x87_control.h"
#include "platform/platform.h"
#include "runtime/core_init.h"
#include "runtime/run_error.h"
#include "runtime/startup.h"
#include "runtime/std_streams.h"
#include "textio/read_integer.h"
#include "textio/streams.h"
#include "textio/write_text.h"

// Files are mapped where the system has POSIX mappings.
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#endif

#define NO_SANITIZE __attribute__((no_sanitize("address", "undefined")))

namespace {

constexpr int kMaxArgs = 8;
const char *args[kMaxArgs] = {};
int argCount = 0;
bool tracing = false;
char argText[1024];

TextStream dataFile;
int *volatile nullTarget = nullptr;
volatile int zero = 0;
volatile int stopDepth = -1;
// The memory operand of the x86 scenario "memory-quotient".
[[maybe_unused]] int32_t divisorInMemory;

// Splits the command line at blanks; a double-quoted part may hold blanks.
void ParseCommandLine() {
  const char *from = GetCommandLineA();
  std::size_t n = 0;
  while (*from != '\0' && argCount < kMaxArgs) {
    while (*from == ' ') ++from;
    if (*from == '\0') break;
    args[argCount++] = argText + n;
    bool quoted = false;
    for (; *from != '\0' && (quoted || *from != ' '); ++from) {
      if (*from == '"') quoted = !quoted;
      else if (n + 2 < sizeof argText) argText[n++] = *from;
    }
    argText[n++] = '\0';
  }
  tracing = argCount > 1 && std::strcmp(args[argCount - 1], "--trace") == 0;
  if (tracing) --argCount;
}

const char *Arg(int i) { return i < argCount ? args[i] : ""; }
bool Is(const char *scenario) { return std::strcmp(Arg(1), scenario) == 0; }
int32_t IntArg(int i) { return static_cast<int32_t>(std::strtol(Arg(i), nullptr, 10)); }

// Not inlined, so that a check's return point lies on the statement after it.
[[gnu::noinline]] void Say(const char *text) {
  WriteString(0, stdOutput, StringFrom(text));
  WriteLineEnd(stdOutput);
  CheckIo();
}

[[gnu::noinline]] void SayNumber(int64_t value) {
  WriteInteger(0, stdOutput, static_cast<int32_t>(value));
  WriteLineEnd(stdOutput);
  CheckIo();
}

void Trace(const char *text) {
  if (tracing) Say(text);
}

void SayFloatState(const char *label) {
  WriteString(0, stdOutput, StringFrom(label));
#if GRADES_HAVE_X87
  WriteString(0, stdOutput, StringFrom(" cw "));
  // Bit 6 is reserved and reads as 1.
  WriteString(0, stdOutput, FormatHex(X87ControlWord() & ~0x0040, 4));
  WriteString(0, stdOutput, StringFrom(" flags "));
  WriteString(0, stdOutput, FormatHex(X87StatusWord() & 0x3F, 2));
#endif
#if defined(__SSE__)
  uint32_t mxcsr;
  asm volatile("stmxcsr %0" : "=m"(mxcsr));
  WriteString(0, stdOutput, StringFrom(" mxcsr "));
  WriteString(0, stdOutput, FormatHex(mxcsr, 4));
#endif
  WriteLineEnd(stdOutput);
  CheckIo();
}

// Test modules around the standard ones.
void Init1() {
  CoreInit();
  ParseCommandLine();
  Trace("init 1");
}
void Init2() {
  InitResourceStrings();
  Trace("init 2");
}
void Init3() {
  InitDiskSpaceLoader();
  Trace("init 3");
}
void Init4() {
  Trace("init 4");
  if (Is("stop-in-init")) StopProgram(1);
}
void Final1() { Trace("final 1"); }
void Final2() {
  Trace("final 2");
  FinalResourceStrings();
}
NO_SANITIZE void Final3() {
  Trace("final 3");
  FinalDiskSpaceLoader();
  // A fault of every processor (an integer division by zero is none on ARM).
  if (Is("final-fault")) *nullTarget = 1;
}
void Final4() {
  Trace("final 4");
  if (Is("float-after-fault") || Is("pending-float-fault")) SayFloatState("final 4");
}

NO_SANITIZE void FaultingExitHandler() {
  Say("exit handler");
  *nullTarget = 1;
}
void SecondExitHandler() { Say("exit handler 2"); }
void FirstExitHandler() {
  Say("exit handler 1");
  exitHandler = SecondExitHandler;
}

[[gnu::noinline]] NO_SANITIZE int Descend(int depth) {
  if (depth == 0) {
    *nullTarget = 1;
    return 0;
  }
  int result = Descend(depth - 1);
  asm volatile("" : "+r"(result));
  return result + 1;
}

// Uses about `megabytes` MB of stack.
[[gnu::noinline]] NO_SANITIZE int UseStack(int megabytes) {
  volatile char block[1 << 20];
  block[0] = 1;
  block[sizeof block - 1] = 1;
  int result = megabytes > 1 ? UseStack(megabytes - 1) : 0;
  return result + block[0];
}

// A frame larger than the whole stack and its guard together: only a probe
// of every page on the way down meets the guard.
volatile char *volatile escapedBlock;

[[gnu::noinline]] NO_SANITIZE int UseHugeFrame() {
  volatile char block[64 << 20];
  // Seen from outside, the whole block must be there: clang would make room
  // only for the one byte used.
  escapedBlock = block;
  block[0] = 1;
  return block[0];
}

[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[32];
  pad[0] = static_cast<char>(depth);
  if (depth == stopDepth) return 0;
  int result = Recurse(depth + 1);
  return result + pad[0];
}

[[gnu::noinline]] void ReadNumbers() {
  BindStream(dataFile, StringFrom(Arg(2)));
  OpenForReading(dataFile);
  CheckIo();
  Say("opened");  // after-check: open
  for (;;) {
    bool atEnd = IsEndOfFile(dataFile);
    CheckIo();
    if (atEnd) break;
    int32_t value = ReadInteger(dataFile);
    ReadLineEnd(dataFile);
    CheckIo();
    SayNumber(value);  // after-check: read
  }
  CloseStream(dataFile);
  CheckIo();
}

template <class T>
T ExtendedArg(int i) {
  return T::FromInt32(IntArg(i));
}

// Every fault below happens in this routine's own frame.
[[noreturn]] NO_SANITIZE void DriverMain() {
  isConsoleApp = true;
  InitModules();

  if (Is("normal")) {
    Say("hello");
  } else if (Is("read")) {
    // The statements of the read loop, here in the main routine's frame.
    BindStream(dataFile, StringFrom(Arg(2)));
    OpenForReading(dataFile);
    CheckIo();
    Say("opened");  // after-check: main-open
    for (;;) {
      bool atEnd = IsEndOfFile(dataFile);
      CheckIo();
      if (atEnd) break;
      int32_t value = ReadInteger(dataFile);
      ReadLineEnd(dataFile);
      CheckIo();
      SayNumber(value);  // after-check: main-read
    }
    CloseStream(dataFile);
    CheckIo();
  } else if (Is("read-nested")) {
    ReadNumbers();
  } else if (Is("quotient")) {
    // The 80-bit type's own arithmetic, in this routine.
    volatile long double dividend = IntArg(2), divisor = IntArg(3);
    volatile long double quotient = dividend / divisor;
    SayNumber(quotient > 0 ? 1 : 0);
  } else if (Is("extended-quotient")) {
    SayNumber(Extended::Div(ExtendedArg<Extended>(2), ExtendedArg<Extended>(3)).TruncToInt64());
  } else if (Is("soft-quotient")) {
    SayNumber(SoftExtended::Div(ExtendedArg<SoftExtended>(2), ExtendedArg<SoftExtended>(3)).TruncToInt64());
  } else if (Is("double-quotient")) {
    volatile double a = IntArg(2), b = IntArg(3);
    volatile double q = a / b;
    SayNumber(q == q ? 1 : 0);
  } else if (Is("double-range")) {
    // 1e300 * 1e300 / 1e300: the product lies beyond the double range.
    volatile double big = 1e300;
    volatile double result = big * big / big;
    SayNumber(result == big ? 1 : 0);
  } else if (Is("int-quotient")) {
    SayNumber(IntArg(2) / (IntArg(3) + zero));
  } else if (Is("overflow")) {
    // Its square lies beyond every format's range (32-bit ARM's long double
    // is a double, where 1e4000 is none).
    volatile long double big = std::numeric_limits<long double>::max();
    volatile long double product = big * big;
    SayNumber(product > 0 ? 1 : 0);
  } else if (Is("quiet-float")) {
    // Underflow, denormal operands and inexact results do not stop the run.
    const Extended tiny = Extended::FromBits(0x0001, 0x8000000000000000u);
    const Extended denormal = Extended::FromBits(0x0000, 1);
    const Extended three = Extended::FromInt32(3);
    SayNumber(Extended::Mul(tiny, tiny).IsZero() ? 1 : 0);
    SayNumber(Extended::Add(denormal, denormal).Significand() == 2 ? 1 : 0);
    SayNumber(Extended::Div(Extended::FromInt32(1), three).IsFinite() ? 1 : 0);
  } else if (Is("float-state")) {
    SayFloatState("main");
  } else if (Is("float-after-fault")) {
    SayNumber(Extended::Div(Extended::FromInt32(zero), Extended::FromInt32(zero)).TruncToInt64());
  } else if (Is("null-write")) {
    *nullTarget = 1;
  } else if (Is("top-half-write")) {
    // Not canonical on x86-64, the kernel's half of a 32-bit space.
    *reinterpret_cast<volatile int *>(uintptr_t{1} << (8 * sizeof(uintptr_t) - 1)) = 1;
  } else if (Is("big-frame")) {
    SayNumber(UseHugeFrame());
#if __has_include(<sys/mman.h>)
  } else if (Is("mapped-file-end")) {
    // The second page of a mapping whose file ends in the first.
    const long page = sysconf(_SC_PAGESIZE);
    std::FILE *file = std::tmpfile();
    std::fputc('x', file);
    std::fflush(file);
    const auto *bytes = static_cast<volatile char *>(mmap(nullptr, 2 * page, PROT_READ, MAP_SHARED, fileno(file), 0));
    SayNumber(bytes[page]);
#endif
  } else if (Is("deep")) {
    SayNumber(Descend(IntArg(2)));
  } else if (Is("use-stack")) {
    SayNumber(UseStack(IntArg(2)));
  } else if (Is("process-info")) {
    char path[256];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    Say(length > 0 && moduleInstance != nullptr && moduleInstance == GetModuleHandleA(path) ? "module" : "no module");
    Say(commandLine == GetCommandLineA() ? "command line" : "no command line");
    Say(diskSpaceLibrary == nullptr && diskFreeSpaceFunction == nullptr ? "no library" : "library");
    Say(stdInput.mode == ModeInput && stdOutput.mode == ModeOutput && errorOutput.mode == ModeOutput &&
                stdError.mode == ModeOutput && errorOutput.handle == stdOutputHandle &&
                stdError.handle == stdErrorHandle && errorOutput.flushProc != nullptr
            ? "streams"
            : "no streams");
  } else if (Is("recurse")) {
    SayNumber(Recurse(0));
  } else if (Is("illegal")) {
    __builtin_trap();
#if defined(__x86_64__) || defined(__i386__)
  } else if (Is("single-step")) {
#if defined(__x86_64__)
    asm volatile("pushfq\n\torq $0x100, (%%rsp)\n\tpopfq\n\tnop" : : : "memory", "cc");
#else
    asm volatile("pushfl\n\torl $0x100, (%%esp)\n\tpopfl\n\tnop" : : : "memory", "cc");
#endif
    Say("stepped");
  } else if (Is("privileged")) {
    asm volatile("hlt");
  } else if (Is("memory-quotient")) {
    // The divisor read from memory: RIP-relative in 64-bit code.
    divisorInMemory = IntArg(3);
    int32_t quotient;
    asm volatile("cltd\n\tidivl %2" : "=a"(quotient) : "a"(IntArg(2)), "m"(divisorInMemory) : "edx", "cc");
    SayNumber(quotient);
  } else if (Is("pending-float-fault")) {
    // An invalid operation left pending on the x87 when another fault stops
    // the run: only a floating fault resets the unit, so it stays pending.
    asm volatile("fldz\n\tfldz\n\tfdivrp" : : : "memory");
    *nullTarget = 1;
  } else if (Is("frame-zero")) {
    // A fault in code whose frame reference is 0 is left to the platform.
#if defined(__x86_64__)
    asm volatile("push %%rbp\n\txor %%ebp, %%ebp\n\tmovl $1, (%0)\n\tpop %%rbp" : : "r"(nullTarget) : "memory");
#else
    asm volatile("push %%ebp\n\txor %%ebp, %%ebp\n\tmovl $1, (%0)\n\tpop %%ebp" : : "r"(nullTarget) : "memory");
#endif
#endif
  } else if (Is("stop")) {
    Say("stopping");
    StopProgram(static_cast<uint8_t>(IntArg(2)));
  } else if (Is("raise")) {
    RaiseRunError(static_cast<uint16_t>(IntArg(2)));
    Say("not reached");
  } else if (Is("exit-handler-fault")) {
    exitHandler = FaultingExitHandler;
    RaiseRunError(100);
  } else if (Is("exit-handler-chain")) {
    exitHandler = FirstExitHandler;
  } else if (Is("final-fault")) {
    RaiseRunError(100);
  } else if (Is("bad-std-mode")) {
    BindStdStream(stdInput, ModeInOut, stdInputHandle);
  } else {
    Say("unknown scenario");
    StopProgram(99);
  }
  NormalEnd();
}

const ModuleEntry driverModules[] = {{Init1, Final1}, {Init2, Final2}, {Init3, Final3}, {Init4, Final4}};

}  // namespace

ModuleTable moduleTable = {4, 0, driverModules};
const MainRoutine mainRoutine = DriverMain;
