// The few places where tests step in: message boxes, fixed pauses, the
// module that carries the "FILES" store, and a look at every library load. Each defaults to the
// real call; a test installs its own function and restores the default afterwards (nullptr restores
// it).
#pragma once

#include <windows.h>

namespace seams {

using MessageBoxFn = int (*)(HWND owner, const char* text, const char* caption, UINT type);
using PauseFn = void (*)(DWORD milliseconds);

// MessageBoxA unless a test answers instead.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);
void SetMessageBoxHook(MessageBoxFn fn);

// Waits the given time with the windows answering (win32::WaitPumping),
// unless a test records the pause instead. The real pause is traced to the
// debugger output as "VrUpdater: pause <ms> ms".
void Pause(DWORD milliseconds);
void SetPauseHook(PauseFn fn);

// Module whose "FILES" resources form the store: the running executable by
// default, a resource-only library of a test otherwise.
HMODULE StoreModule();
void SetStoreModule(HMODULE module);

// Told of every library the updater is about to load, and whether WOW64
// redirection is off at that moment; nothing by default.
using LoadObserverFn = void (*)(const char* path, bool redirectionOff);
void LibraryLoading(const char* path, bool redirectionOff);
void SetLoadObserver(LoadObserverFn fn);

}  // namespace seams
