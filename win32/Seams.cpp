#include "win32/Seams.h"

namespace seams {
namespace {
MessageBoxFn g_messageBox = nullptr;
PauseFn g_pause = nullptr;
HMODULE g_storeModule = nullptr;
}  // namespace

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) {
  if (g_messageBox) return g_messageBox(owner, text, caption, type);
  return MessageBoxA(owner, text, caption, type);
}

void SetMessageBoxHook(MessageBoxFn fn) { g_messageBox = fn; }

void Pause(DWORD milliseconds) {
  if (g_pause) {
    g_pause(milliseconds);
    return;
  }
  Sleep(milliseconds);
}

void SetPauseHook(PauseFn fn) { g_pause = fn; }

HMODULE StoreModule() { return g_storeModule ? g_storeModule : GetModuleHandleA(nullptr); }

void SetStoreModule(HMODULE module) { g_storeModule = module; }

}  // namespace seams
