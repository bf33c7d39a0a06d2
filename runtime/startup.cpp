#include "runtime/startup.h"

#include "extended/soft_float_trap.h"
#include "platform/machine.h"
#include "platform/platform.h"
#include "runtime/os_faults.h"
#include "runtime/run_error.h"
#include "runtime/std_streams.h"
#include "textio/streams.h"

bool isConsoleApp = false;
uint16_t stackSegment = 0;
ModuleProc exitHandler = nullptr;

extern "C" void ConsoleEntry() {
  isConsoleApp = true;
  StartProgram();
}

void StartProgram() {
  SetUnhandledExceptionFilter(OsExceptionFilter);
  stackSegment = StackSegmentSelector();
  // The floating unit: the x87 under the run's word, and the software
  // arithmetic raising the hardware's exceptions where it would trap, to
  // the same filter.
  ResetFloatUnit(kRunControlWord);
  softFloatTrap = RaiseException;
  // The main routine's frame gets 0 as its outer frame: every back-trace
  // ends there.
  CallWithFrameChainEnd(mainRoutine);
  ExitToSystem();
}

void InitModules() {
  for (int32_t i = 1; i <= moduleTable.moduleCount; ++i) {
    const ModuleEntry &entry = moduleTable.entries[i - 1];
    if (entry.initProc != nullptr) entry.initProc();
    moduleTable.initialisedCount = i;
  }
}

void NormalEnd() {
  RunExitSequence();
  ExitToSystem();
}

// Re-entered from a stop inside itself, it finishes only what is left: each
// handler is taken out before it runs, each entry counted down before its
// finalisation runs.
void RunExitSequence() {
  while (exitHandler != nullptr) {
    ioStatus = 0;
    const ModuleProc handler = exitHandler;
    exitHandler = nullptr;
    handler();
  }
  FinalizeModules();
  PrintRunError();
}

void FinalizeModules() {
  while (moduleTable.initialisedCount > 0) {
    --moduleTable.initialisedCount;
    const ModuleEntry &entry = moduleTable.entries[moduleTable.initialisedCount];
    if (entry.finalProc != nullptr) entry.finalProc();
  }
}

void ExitToSystem() {
  if (!isConsoleApp) {
    CloseStream(stdError);
    CloseStream(errorOutput);
  }
  SetUnhandledExceptionFilter(nullptr);
  ExitProcess(exitStatus);
}
