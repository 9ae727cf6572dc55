#include "engine/DriverState.h"

#include "engine/GroupRules.h"
#include "win32/Paths.h"
#include "win32/Platform.h"

namespace {
DriverState g_driverState = DriverState::Unknown;
}  // namespace

DriverState ProcessDriverState(OsClass osClass) {
  if (g_driverState != DriverState::Unknown) return g_driverState;
  if (!group_rules::IsSixtyFourBitClass(osClass)) {
    g_driverState = DriverState::NotSixtyFourBit;
    return g_driverState;
  }
  char path[MAX_PATH + 1] = {};
  if (!win32::SystemFilePath(path, sizeof path, "drivers\\cdrvrdrv.sys")) return g_driverState;
  int32_t exists;
  {
    // The driver lives in the real 64-bit system folder.
    ScopedRedirectionOff redirection(true);
    exists = FileExists(path);
  }
  g_driverState = exists ? DriverState::Present : DriverState::Absent;
  return g_driverState;
}

void ResetDriverStateForTest() { g_driverState = DriverState::Unknown; }
