#include "win32/Seams.h"

#include <strsafe.h>

#include "win32/MessagePump.h"
#include "win32/Platform.h"

namespace seams {
namespace {
MessageBoxFn g_messageBox = nullptr;
PauseFn g_pause = nullptr;
HMODULE g_storeModule = nullptr;
LoadObserverFn g_loadObserver = nullptr;
}  // namespace

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) {
  // A box runs a message loop of its own: never with redirection off.
  ScopedRedirectionBackOn redirection;
  if (g_messageBox) return g_messageBox(owner, text, caption, type);
  return MessageBoxA(owner, text, caption, type);
}

void SetMessageBoxHook(MessageBoxFn fn) { g_messageBox = fn; }

void Pause(DWORD milliseconds) {
  if (g_pause) {
    g_pause(milliseconds);
    return;
  }
  // Traced beside the steps, so that whoever times a run from the debugger
  // output can tell the fixed pauses from the time the work itself took.
  char line[48];
  if (SUCCEEDED(StringCchPrintfA(line, ARRAYSIZE(line), "VrUpdater: pause %lu ms\n",
                                 static_cast<unsigned long>(milliseconds))))
    OutputDebugStringA(line);
  // The windows keep answering during the pause; it keeps its length.
  win32::WaitPumping(nullptr, milliseconds);
}

void SetPauseHook(PauseFn fn) { g_pause = fn; }

HMODULE StoreModule() { return g_storeModule ? g_storeModule : GetModuleHandleA(nullptr); }

void SetStoreModule(HMODULE module) { g_storeModule = module; }

void LibraryLoading(const char* path, bool redirectionOff) {
  if (g_loadObserver) g_loadObserver(path, redirectionOff);
}

void SetLoadObserver(LoadObserverFn fn) { g_loadObserver = fn; }

}  // namespace seams
