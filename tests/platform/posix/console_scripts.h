// Scripted sequences of console calls, run the same way on whichever console
// host is active: the terminal (in a child process on a pseudo-terminal) or
// the in-memory console. Comparing the two screens afterwards tests that the
// terminal shows exactly what the console holds.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace consoletest {

std::vector<std::string> ScriptNames();
// Runs script `name` on screen buffer `out` (of the given size). False for
// an unknown name.
bool RunScript(const std::string &name, HANDLE out, int columns, int rows);

// The statistics-like report of 1000 numbers, painted as the console driver
// paints: a cell at a time, a scroll at the bottom, a cursor call per write
// statement. Returns the report's own size in bytes; `flushes` counts its
// write statements.
long PaintReport(HANDLE out, int columns, int rows, long *flushes, int startRow = 0);

}  // namespace consoletest
