// The product's entry in the list of installed programs, brought up to the
// update's name and version after a successful update. The entry is the one
// the product's own installer made: it is only ever opened, never created,
// and no value other than "DisplayName" and "DisplayVersion" is touched.
#pragma once

#include <stdint.h>

// Each text is copied into a buffer of win32::kLongTextSize bytes before it
// is written; a text may therefore hold at most 269 bytes.

// Writes the name (string 111) and version (string 200) into the entry
// (key string 132 under HKEY_LOCAL_MACHINE). 1 when the entry was opened and
// written; 0 when a text is missing or the entry cannot be opened.
int32_t UpdateUninstallEntry();

// Opens the entry with full access and sets the given values (either may be
// null: not written). Each is stored as REG_SZ whose byte count is the text's
// length, without the terminating zero. 1 when the entry could be opened.
int32_t WriteUninstallValues(const char* displayName, const char* displayVersion);
