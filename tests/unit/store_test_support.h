// Small file helpers shared by the store tests.
#pragma once

#include <windows.h>

#include <string>

namespace storetest {

// Folder of the running test program, with a trailing backslash.
std::string ProgramFolder();
// A fresh, empty folder under the temporary folder (trailing backslash).
std::string MakeTempFolder(const char* tag);
// Whole file, or false when it cannot be read.
bool ReadBytes(const std::string& path, std::string* out);
bool WriteBytes(const std::string& path, const std::string& bytes);
// True when nobody holds the file open: an exclusive open succeeds.
bool NotHeldOpen(const std::string& path);

}  // namespace storetest
