// Registry keys that only administrators and the system may touch.
//
// Where Windows has security (the NT family) such a key carries Administrators
// as its owner and a DACL of its own: full control for BUILTIN\Administrators
// and LocalSystem and nobody else, protected from inheriting the parent's
// entries (Windows 2000 and later; NT 4.0 does not inherit into a key whose
// DACL is given). Whatever an installer made the parent, a user can then
// neither write into the key nor read it. The 9x family has no security: the
// key is simply created or opened there.
#pragma once

#include <windows.h>

#include "win32/UniqueHandle.h"

namespace win32 {

// Creates parent\subkey with that security, or opens it when it exists and
// gives it that security before handing it out (a key made by somebody else
// is trusted only from then on). key is opened for all access. False (key
// empty) when the key cannot be created or opened, or its security cannot
// be set.
bool CreateAdminOnlyKey(HKEY parent, const char* subkey, RegKey& key);
// The same for a key that must exist already; nothing is created.
bool OpenAdminOnlyKey(HKEY parent, const char* subkey, RegKey& key);

}  // namespace win32
