// Texts of the updater's string table (code page of the thread: Shift-JIS on
// a Japanese system).
#pragma once

#include <windows.h>

namespace win32 {

// Loads string id of the running executable into buffer; false (and an empty
// buffer) when the string does not exist or does not fit.
bool LoadResString(UINT id, char* buffer, int capacity);

}  // namespace win32
