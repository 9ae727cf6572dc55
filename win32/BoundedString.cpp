#include "win32/BoundedString.h"

#include <windows.h>

#include <stdarg.h>
#include <strsafe.h>

namespace win32 {

bool CopyText(char* dest, size_t capacity, const char* src) {
  if (!dest || capacity == 0) return false;
  if (!src || FAILED(StringCchCopyA(dest, capacity, src))) {
    dest[0] = '\0';
    return false;
  }
  return true;
}

bool AppendText(char* dest, size_t capacity, const char* src) {
  if (!dest || capacity == 0) return false;
  if (!src || FAILED(StringCchCatA(dest, capacity, src))) {
    dest[0] = '\0';
    return false;
  }
  return true;
}

bool FormatText(char* dest, size_t capacity, const char* format, ...) {
  if (!dest || capacity == 0) return false;
  va_list args;
  va_start(args, format);
  HRESULT hr = StringCchVPrintfA(dest, capacity, format, args);
  va_end(args);
  if (FAILED(hr)) {
    dest[0] = '\0';
    return false;
  }
  return true;
}

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

bool SystemFilePath(char* out, size_t capacity, const char* name) {
  char folder[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  return AppendBackslashIfMissing(folder, sizeof folder) &&
         FormatText(out, capacity, "%s%s", folder, name);
}

}  // namespace win32
