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

}  // namespace win32
