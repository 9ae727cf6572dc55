// Registry entries as the tests lay them out and look at them: values and
// keys of the machine hive in the test program's own view, which is the view
// the updater of the same flavour reads.
#pragma once

#include <windows.h>

#include <string>

namespace vrtest {

// Creates key (and its parents) when missing and sets one value of it.
bool SetValue(const char* key, const char* name, DWORD type, const void* data, DWORD bytes);
// A REG_SZ value with its terminating zero.
bool SetText(const char* key, const char* name, const std::string& text);
bool KeyExists(const char* key);
// The data of one value as stored, and its type; false when the key or the
// value is missing. view adds a registry view (KEY_WOW64_64KEY, ...).
bool ReadValue(const char* key, const char* name, std::string* data, DWORD* type = nullptr,
               REGSAM view = 0);
// Removes both registry entries of the product (App Paths and Uninstall):
// the product is then not installed.
void RemoveProductKeys();

}  // namespace vrtest
