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

}  // namespace win32
