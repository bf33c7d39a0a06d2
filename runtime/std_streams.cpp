#include "runtime/std_streams.h"

TextStream stdInput = {};
TextStream stdOutput = {};
TextStream errorOutput = {};
TextStream stdError = {};
