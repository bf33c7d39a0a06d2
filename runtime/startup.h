// Start-up and termination: the entry, the module table and its
// initialisation, and NormalEnd, the end of every run.
#pragma once

#include <cstdint>

using ModuleProc = void (*)();

struct ModuleEntry {
  ModuleProc initProc;  // either may be empty
  ModuleProc finalProc;
};

struct ModuleTable {
  int32_t moduleCount;
  int32_t initialisedCount;    // entries whose initialisation has run
  const ModuleEntry *entries;  // moduleCount of them; entry i is entries[i - 1]
};

// Every program on the run-time layer defines these two: its module table
// (the standard entries of core_init.h first, then its own, such as the
// console driver's) and its main routine, which begins by setting
// isConsoleApp and calling InitModules and ends with NormalEnd.
extern ModuleTable moduleTable;
using MainRoutine = void (*)();
extern const MainRoutine mainRoutine;

extern bool isConsoleApp;
// The main thread's stack segment, recorded at start.
extern uint16_t stackSegment;
// Run at termination; emptied before it runs, so a handler may install the next.
extern ModuleProc exitHandler;

// The image's entry points (declared in platform/machine.h): each sets
// isConsoleApp (true for ConsoleEntry, false for WindowedEntry, which also
// makes the error streams message boxes) and enters StartProgram.
extern "C" [[noreturn]] void ConsoleEntry();
extern "C" [[noreturn]] void WindowedEntry();
// Installs the exception filter, ends the frame chain, loads the control
// word and calls the main routine; ExitToSystem should that return.
[[noreturn]] void StartProgram();
void InitModules();
// RunExitSequence, then ExitToSystem.
[[noreturn]] void NormalEnd();
// Exit handlers, module finalisations in reverse order, the message.
void RunExitSequence();
void FinalizeModules();
[[noreturn]] void ExitToSystem();
