#include "engine/DriverState.h"

#include "engine/GroupRules.h"
#include "win32/Paths.h"
#include "win32/Platform.h"

DriverState ProbeDriverState(OsClass osClass) {
  if (!group_rules::IsSixtyFourBitClass(osClass)) return DriverState::NotSixtyFourBit;
  char path[MAX_PATH + 1] = {};
  if (!win32::SystemFilePath(path, sizeof path, "drivers\\cdrvrdrv.sys")) {
    return DriverState::Unknown;
  }
  // The driver lives in the real 64-bit system folder.
  ScopedRedirectionOff redirection(true);
  return FileExists(path) ? DriverState::Present : DriverState::Absent;
}
