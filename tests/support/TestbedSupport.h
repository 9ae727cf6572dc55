// Helpers of the testbed tests: the folder of the built programs, running a
// program and waiting for it, and registry reads in the 32-bit view.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/Files.h"

namespace vrtest {

// Runs a command line and waits up to timeoutMs; the exit code, or -1 when
// it could not start or did not finish.
int RunAndWait(const std::string& commandLine, DWORD timeoutMs = 30000);

// Starts a command line; the process handle, or null.
HANDLE StartProcess(const std::string& commandLine);

// Reads a REG_SZ value of HKLM in the 32-bit view; empty when missing.
std::string ReadText(const char* key, const char* name);
// Reads a REG_BINARY value of HKLM in the 32-bit view; false when missing.
bool ReadBinary(const char* key, const char* name, std::vector<BYTE>* data);
bool KeyExists(const char* key);

bool FileExists(const std::string& path);
DWORD FileSize(const std::string& path);  // INVALID_FILE_SIZE when missing
// The file's "ProductVersion" text (first translation); empty when none.
std::string ProductVersion(const std::string& path);
bool IsServiceRegistered(const char* name);

// Value of "--name=value" on the test program's command line; empty if absent.
std::string CommandLineOption(const char* name);

}  // namespace vrtest
