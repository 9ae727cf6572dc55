// Bounded copies and formats for fixed character buffers. Each returns false
// when the result would not fit; the buffer then holds an empty text, never a
// truncated one, so a cut path can never be used by mistake.
#pragma once

#include <stddef.h>

namespace win32 {

bool CopyText(char* dest, size_t capacity, const char* src);
bool AppendText(char* dest, size_t capacity, const char* src);
// printf-style; outside text goes into the arguments, never into format.
bool FormatText(char* dest, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// True when text ends in a backslash character of the system code page: the
// second byte of a double-byte character (0x5C in 表 or ソ) does not count.
bool EndsWithBackslash(const char* text);
// Appends a backslash unless the text already ends in one (decided as above).
// An empty text stays empty. False when it would not fit.
bool AppendBackslashIfMissing(char* text, size_t capacity);
// Pointer to the text after the last backslash character (double-byte aware),
// or null when there is none.
const char* AfterLastBackslash(const char* text);
// True when text names a folder from a fixed root: "X:\..." or "\\server...".
// Relative, drive-relative ("C:x") and rooted ("\x") texts depend on the
// current drive or directory, which for the updater is its download folder.
bool IsAbsoluteFolder(const char* text);
// The system folder (GetSystemDirectoryA) with a backslash, followed by
// name; false (out unchanged or cut) when the folder is unknown or the whole
// does not fit in capacity.
bool SystemFilePath(char* out, size_t capacity, const char* name);

}  // namespace win32
