// The grade program's main routine and its module table.
#include "console/console_module.h"
#include "console/console_screen.h"
#include "grades/grade_data.h"
#include "grades/grade_tally.h"
#include "grades/report.h"
#include "grades/result_files.h"
#include "runtime/core_init.h"
#include "runtime/startup.h"

namespace {

const ModuleEntry kModules[] = {kCoreModule, kResourceStringModule, kDiskSpaceModule, kConsoleModule};

}  // namespace

ModuleTable moduleTable = {4, 0, kModules};
const MainRoutine mainRoutine = RunGradeProgram;

void RunGradeProgram() {
  isConsoleApp = true;
  InitModules();
  ClearScreen();
  ReadGradeFile();
  PrintReport();
  WriteResultFiles();
  WaitForKey();
  NormalEnd();
}
