// The product's 64-bit driver, looked for once per process: the old 64-bit
// control library is installed only while the driver is absent.
#pragma once

#include <stdint.h>

#include "win32/Platform.h"

// The values are the ones the behaviour is defined with.
enum class DriverState : int32_t {
  Unknown = 0,          // not computed: the system folder could not be had
  NotSixtyFourBit = 1,  // not 64-bit Windows
  Present = 2,          // 64-bit Windows with "drivers\cdrvrdrv.sys" in the real system folder
  Absent = 3,           // 64-bit Windows without it
};

// The state on Windows of the given OsClass, computed at the first call that
// finds an answer and kept for the whole process.
DriverState ProcessDriverState(OsClass osClass);

// Tests only: forget the kept state so the next call computes it again.
void ResetDriverStateForTest();
