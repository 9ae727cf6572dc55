// The few places where tests step in: message boxes, fixed pauses and the
// module that carries the "FILES" store. Each defaults to the real call; a
// test installs its own function and restores the default afterwards
// (nullptr restores it).
#pragma once

#include <windows.h>

namespace seams {

using MessageBoxFn = int (*)(HWND owner, const char* text, const char* caption, UINT type);
using PauseFn = void (*)(DWORD milliseconds);

// MessageBoxA unless a test answers instead.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);
void SetMessageBoxHook(MessageBoxFn fn);

// Sleep unless a test records the pause instead.
void Pause(DWORD milliseconds);
void SetPauseHook(PauseFn fn);

// Module whose "FILES" resources form the store: the running executable by
// default, a resource-only library of a test otherwise.
HMODULE StoreModule();
void SetStoreModule(HMODULE module);

}  // namespace seams
