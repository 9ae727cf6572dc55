// Small rules shared by the group checks and the in-use scans: how group and
// file names are compared, which Windows counts as 64-bit, and where a
// group's files lie. The rules themselves are data (updatelist/ProductRules.h).
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/Platform.h"

struct UpdateGroup;

namespace group_rules {

// Group names, "OS" values and file names are compared without regard to case.
inline bool NamesEqual(const char* a, const char* b) { return a && b && lstrcmpiA(a, b) == 0; }

// OsClass 3 and 5: 64-bit Windows (win32/Platform.h).
using ::IsSixtyFourBitClass;

// The file name (name and extension) of a path: the text after its last
// backslash, or the whole text when it has none.
const char* FileNameOf(const char* path);

// Whether the rule of the group's name asks for WOW64 redirection off on
// this Windows ("driver x64" on 64-bit Windows), without judging the group.
bool NameRuleNeedsRedirectionOff(const char* groupName, OsClass osClass);

// The one decision where a group's files lie: in the real 64-bit system
// folder (WOW64 redirection off) when its "Install Path" resolved there or
// its rule says so. Every check, scan and pass reads and writes them there.
bool FilesInRealSystemFolder(const UpdateGroup& group, OsClass osClass);

}  // namespace group_rules
