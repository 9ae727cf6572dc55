#include "win32/AsciiCase.h"

#include <windows.h>

#include <string.h>

namespace win32 {
namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

size_t CharacterLength(const char* text, const char* end) {
  if (text >= end) return 0;
  const BYTE lead = static_cast<BYTE>(*text);
  return lead >= 0x80 && end - text >= 2 && IsDBCSLeadByteEx(CP_ACP, lead) ? 2 : 1;
}

bool EqualsIgnoringAsciiCase(const char* a, size_t aLength, const char* b, size_t bLength) {
  // Folding ASCII letters keeps every length, so texts of different lengths
  // are different.
  if (aLength != bLength) return false;
  if (aLength == 0) return true;
  if (!a || !b) return false;
  const char* const end = a + aLength;
  while (a < end) {
    const size_t n = CharacterLength(a, end);
    if (n == 2) {
      if (a[0] != b[0] || a[1] != b[1]) return false;
    } else if (FoldAscii(*a) != FoldAscii(*b)) {
      return false;
    }
    a += n;
    b += n;
  }
  return true;
}

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  return a && b && EqualsIgnoringAsciiCase(a, strlen(a), b, strlen(b));
}

bool StartsWithIgnoringAsciiCase(const char* text, const char* prefix) {
  if (!text || !prefix) return false;
  const size_t prefixLength = strlen(prefix);
  return strnlen(text, prefixLength) == prefixLength &&
         EqualsIgnoringAsciiCase(text, prefixLength, prefix, prefixLength);
}

}  // namespace win32
