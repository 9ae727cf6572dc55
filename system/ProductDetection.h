// Finding the installed product and judging its files by version.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/BufferSizes.h"

// Buffer sizes the callers must provide.
constexpr size_t kProgramFolderCapacity = win32::kLongTextSize;  // >= 261: 259 chars, '\', zero
constexpr size_t kVersionTextCapacity = win32::kTextSize;

// Program folder from App Paths "Path", then Uninstall "InstallLocation";
// ends in a backslash. 1 when found, 0 when the product is not installed.
int32_t GetProgramFolder(char* buffer, size_t capacity);
// Reads one folder value under HKLM (32-bit view); 1 when read.
int32_t ReadFolderValue(char* buffer, size_t capacity, const char* keyText, const char* valueName);
// "ProductVersion" of the first translation of path's version resource.
int32_t GetFileProductVersion(const char* path, char* out, size_t capacity);
// Binds version.dll for GetFileProductVersion, once per process. Called
// before any WOW64 redirection is switched off (no library may be loaded
// then); GetFileProductVersion binds it itself if nobody did.
void BindVersionLibrary();
// "10,2,9,0" -> 10.29: digits after the first separator form one fraction run.
double VersionTextToNumber(const char* text);
