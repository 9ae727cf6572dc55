// Helpers of the testbed tests: registry reads in the product's view, files
// and versions (processes: SystemSupport.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/Registry.h"
#include "support/SystemSupport.h"
#include "testbed/common/TestbedRegistry.h"

namespace vrtest {

// A REG_SZ value of HKLM in the product's view; empty when missing.
using testbed::ReadText;
// Reads a REG_BINARY value of HKLM in the product's view; false when missing.
bool ReadBinary(const char* key, const char* name, std::vector<BYTE>* data);

bool FileExists(const std::string& path);
DWORD FileSize(const std::string& path);  // INVALID_FILE_SIZE when missing
// The file's "ProductVersion" text (first translation); empty when none.
std::string ProductVersion(const std::string& path);
bool IsServiceRegistered(const char* name);

}  // namespace vrtest
