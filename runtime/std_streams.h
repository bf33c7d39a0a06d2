// The four standard text streams of the process, bound by CoreInit.
#pragma once

#include "textio/text_stream.h"

extern TextStream stdInput;
extern TextStream stdOutput;
// Carries only the run-time error message: in a console program it is open
// for writing on the standard output handle and is never rebound.
extern TextStream errorOutput;
extern TextStream stdError;
