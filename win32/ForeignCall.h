// Calls into libraries of the installed product whose calling convention we
// cannot know: whether an export pops its own arguments (stdcall) or leaves
// them to the caller (cdecl) is the library's business. On i386 the call
// keeps the stack pointer in a callee-saved register and puts it back, so
// either convention is safe; x86-64 has one convention, and a plain call is
// right. This is the only architecture-dependent code of the updater.
#pragma once

#include <windows.h>

#include <stdint.h>

namespace win32 {

// entry(argument); the export's result register.
intptr_t CallWithOneArgument(FARPROC entry, intptr_t argument);
// entry(first, second) for an export of two pointers returning an int.
int CallWithTwoPointers(FARPROC entry, const void* first, const void* second);

}  // namespace win32
