// The product's 64-bit driver: the old 64-bit control library is installed
// only while the driver is absent. The product environment
// (engine/ProductEnvironment.h) keeps the answer.
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

// Looks for the driver on Windows of the given OsClass, with WOW64
// redirection off; Unknown when the system folder cannot be had.
DriverState ProbeDriverState(OsClass osClass);
