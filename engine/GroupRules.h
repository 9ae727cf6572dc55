// Small rules shared by the group checks and the in-use scans: how group and
// file names are compared, and which Windows counts as 64-bit.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/Platform.h"

namespace group_rules {

// Group names, "OS" values and file names are compared without regard to case.
inline bool NamesEqual(const char* a, const char* b) { return a && b && lstrcmpiA(a, b) == 0; }

// OsClass 3 and 5: 64-bit Windows (win32/Platform.h).
using ::IsSixtyFourBitClass;

// The file name (name and extension) of a path: the text after its last
// backslash, or the whole text when it has none.
const char* FileNameOf(const char* path);

// The "driver x64" name rule asks for WOW64 redirection off on 64-bit
// Windows; the in-use check needs the same answer without judging the group.
bool NameRuleNeedsRedirectionOff(const char* groupName, OsClass osClass);

}  // namespace group_rules
