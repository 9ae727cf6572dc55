// Helpers of the group and in-use tests: an installed product in the test's
// own prefix (program folder and its registry entry), key files of a chosen
// version and length. Lists are composed as text (support/Environment.h).
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "support/FileHolder.h"
#include "support/Files.h"
#include "support/Registry.h"
#include "support/Environment.h"
#include "support/SeamRecorder.h"
#include "testbed/common/Flavour.h"
#include "testbed/common/ProductKeys.h"
#include "updatelist/UpdateList.h"

namespace vrtest {

using testbed::kAppPathsKey;
using testbed::kUninstallKey;

// The OsClass that the test's Windows setting must give, from the command
// line option --expect-os-class=N; -1 when not given.
int ExpectedOsClass();

// Makes folder (and its parents) and records it as the product's program
// folder under App Paths "Path".
bool InstallProductAt(const std::string& folder);

// Copies the key file built for version id (e.g. "10290") to path and pads
// it with zeros to length bytes (0: as built).
bool PlaceKeyFile(const std::string& id, const std::string& path, DWORD length = 0);

}  // namespace vrtest
