// Path texts: the small toolbox every folder of the updater builds paths
// with. Texts are walked by character of the system code page (Shift-JIS on
// a Japanese system), so the second byte of a double-byte character is never
// taken for a backslash. Results that do not fit are refused, never cut.
#pragma once

#include <stddef.h>

namespace win32 {

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
// True when text ends in tail, compared byte for byte.
bool EndsWith(const char* text, const char* tail);
// The folder part of path with its final backslash ("C:\P\a.dll" gives
// "C:\P\"); false (and folder empty) when path has no backslash or the
// folder does not fit in capacity.
bool FolderOf(const char* path, char* folder, size_t capacity);

// The system folder as GetSystemDirectoryA gives it (no backslash added);
// false (and folder empty) when it is unknown or does not fit in capacity.
bool SystemFolder(char* folder, size_t capacity);
// The system folder (of at most MAX_PATH - 1 characters) with a backslash,
// followed by name; false when the folder is unknown (out unchanged) or the
// whole does not fit in capacity (out empty).
bool SystemFilePath(char* out, size_t capacity, const char* name);

}  // namespace win32
