// Names compared without regard to the case of ASCII letters, the same on
// every Windows and in every user locale (CompareStringA's invariant locale
// exists from Windows XP on; lstrcmpiA follows the user's locale). Texts are
// bytes of the system code page: a double-byte character counts whole and is
// compared exactly, so its second byte (0x41 in ア, 0x61 in ヂ) is never
// folded as a letter. Every read is bounded by the lengths given.
#pragma once

#include <stddef.h>

namespace win32 {

// True when a (aLength bytes) and b (bLength bytes) are the same characters
// but for the case of ASCII letters.
bool EqualsIgnoringAsciiCase(const char* a, size_t aLength, const char* b, size_t bLength);
// The same for two zero-terminated texts; false when either is null.
bool EqualsIgnoringAsciiCase(const char* a, const char* b);
// True when text (zero-terminated) begins with prefix by the same rule; a
// text shorter than prefix is read no further than its terminating zero.
bool StartsWithIgnoringAsciiCase(const char* text, const char* prefix);
// Bytes of the character at text: 2 for a lead byte of the system code page
// followed by another byte before end, else 1 (0 at end).
size_t CharacterLength(const char* text, const char* end);

}  // namespace win32
