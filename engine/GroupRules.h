// Small rules shared by the group checks and the in-use scans: which Windows
// counts as 64-bit, and where a group's files lie. The rules themselves are
// data (updatelist/ProductRules.h).
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/Platform.h"

struct UpdateGroup;

namespace group_rules {

// OsClass 3 and 5: 64-bit Windows (win32/Platform.h).
using ::IsSixtyFourBitClass;

// The one decision where a group's files lie: in the real 64-bit system
// folder (WOW64 redirection off) when its "Install Path" resolved there or
// its rule says so. Every check, scan and pass reads and writes them there.
bool FilesInRealSystemFolder(const UpdateGroup& group, OsClass osClass);

}  // namespace group_rules
