// The "FILES" resources that carry the update list, the change history and
// every payload file. The module comes from seams::StoreModule() unless a
// caller names one.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string>

namespace PayloadStore {

constexpr const char* kType = "FILES";

// Entry name of file `file` of group `group`: "%02d%02d.bin". Any two 32-bit
// indices fit in out (capacity at least 32); false only for a null/short out.
bool PayloadEntryName(int32_t group, int32_t file, char* out, size_t capacity);

// The entry's bytes where the loader mapped them, not copied: read-only and
// valid while the module stays loaded. False (and *bytes null, *size 0) when
// the entry is missing, empty or cannot be loaded. Windows compares resource
// names without regard to case, so "0609.bin" finds an entry stored as
// "0609.BIN".
bool MapEntry(HMODULE module, const char* name, const char* type, const void** bytes, DWORD* size);

// Writes the entry completely to path (create always); 1 on success.
int32_t ExtractResourceToFile(const char* path, HMODULE module, const char* name, const char* type);

// The entry as text (its bytes plus a terminating zero); 1 on success, the
// output unchanged on failure.
int32_t LoadResourceText(std::string& out, HMODULE module, const char* name, const char* type);

}  // namespace PayloadStore
