// Small file helpers shared by the store tests.
#pragma once

#include <windows.h>

#include <string>

#include "support/Files.h"

namespace vrtest {

// A fresh, empty folder under the temporary folder (trailing backslash).
std::string MakeTempFolder(const char* tag);
// True when nobody holds the file open: an exclusive open succeeds.
bool NotHeldOpen(const std::string& path);

}  // namespace vrtest
