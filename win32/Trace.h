// Step trace of the update driver. Every step of the Start handler and of the
// update procedure is written to the debugger output (OutputDebugStringA), so
// support staff and end-to-end tests can follow the order of the steps with a
// debug viewer. Nothing is written to disk: the updater keeps no log.
#pragma once

#include "win32/TraceSteps.h"  // the texts traced

// printf-style, the format one of steps:: (the compiler checks its
// arguments); each line is prefixed with "VrUpdater: " and ends in a line
// feed. A line that would not fit is replaced by its format text, never cut.
void TraceStep(const char* format, ...) __attribute__((format(printf, 1, 2)));
