// Helpers of the testbed tests: running a program and waiting for it,
// registry reads in the product's view, files and versions.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/Files.h"
#include "support/Registry.h"
#include "testbed/common/TestbedRegistry.h"

namespace vrtest {

// Runs a command line and waits up to timeoutMs; the exit code, or -1 when
// it could not start or did not finish.
int RunAndWait(const std::string& commandLine, DWORD timeoutMs = 30000);

// Starts a command line; the process handle, or null.
HANDLE StartProcess(const std::string& commandLine);

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
