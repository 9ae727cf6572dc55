#include "win32/Paths.h"

#include <windows.h>

#include <string.h>

#include "win32/BoundedString.h"

namespace win32 {

bool EndsWithBackslash(const char* text) {
  if (!text || text[0] == '\0') return false;
  const char* end = text + lstrlenA(text);
  const char* last = CharPrevA(text, end);
  return last && last + 1 == end && *last == '\\';
}

bool AppendBackslashIfMissing(char* text, size_t capacity) {
  if (!text) return false;
  if (text[0] == '\0' || EndsWithBackslash(text)) return true;
  return AppendText(text, capacity, "\\");
}

const char* AfterLastBackslash(const char* text) {
  if (!text) return nullptr;
  const char* found = nullptr;
  for (const char* p = text; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') found = p + 1;
  }
  return found;
}

bool IsAbsoluteFolder(const char* text) {
  if (!text) return false;
  const char c = text[0];
  if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && text[1] == ':' && text[2] == '\\') {
    return true;
  }
  return text[0] == '\\' && text[1] == '\\' && text[2] != '\0' && text[2] != '\\';
}

bool EndsWith(const char* text, const char* tail) {
  const size_t n = strlen(text), m = strlen(tail);
  return n >= m && memcmp(text + n - m, tail, m) == 0;
}

bool FolderOf(const char* path, char* folder, size_t capacity) {
  if (!folder || capacity == 0) return false;
  folder[0] = '\0';
  const char* name = AfterLastBackslash(path);
  if (!name) return false;
  const size_t length = static_cast<size_t>(name - path);
  if (length >= capacity) return false;
  memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}

bool SystemFolder(char* folder, size_t capacity) {
  if (!folder || capacity == 0) return false;
  const UINT n = GetSystemDirectoryA(folder, static_cast<UINT>(capacity));
  if (n == 0 || n >= capacity) {
    folder[0] = '\0';
    return false;
  }
  return true;
}

bool SystemFilePath(char* out, size_t capacity, const char* name) {
  char folder[MAX_PATH + 1] = {};
  if (!SystemFolder(folder, MAX_PATH)) return false;
  return AppendBackslashIfMissing(folder, sizeof folder) &&
         FormatText(out, capacity, "%s%s", folder, name);
}

}  // namespace win32
