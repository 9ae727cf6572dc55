#include "win32/MessagePump.h"

#include "win32/DynamicCalls.h"

namespace win32 {
namespace {
HWND g_dialog = nullptr;

// Every kind of message this thread can get: keyboard, mouse, posted, timer,
// paint, hot key and sent ones. The headers' QS_ALLINPUT also holds
// QS_RAWINPUT, which Windows before XP refuses (MsgWaitForMultipleObjects
// fails, and the wait would not pump at all); the updater asks for no raw
// input, so the bit gives nothing where it is known.
constexpr DWORD kWakeMask =
    QS_KEY | QS_MOUSE | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY | QS_SENDMESSAGE;
}  // namespace

void SetPumpDialog(HWND dialog) { g_dialog = dialog; }

bool HandleOneMessage() {
  // With WOW64 redirection off a window procedure must not run: one that
  // loads a library would get it from the 64-bit system folder.
  if (InRedirectionOffSpan()) return false;
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (g_dialog && IsDialogMessageA(g_dialog, &msg)) return true;
  if (msg.message == WM_PAINT || msg.message == WM_NCPAINT) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

bool WaitPumping(HANDLE handle, DWORD ms) {
  if (InRedirectionOffSpan()) {
    // No messages inside such a span (see HandleOneMessage): a plain wait.
    if (handle) return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0;
    Sleep(ms);
    return false;
  }
  const DWORD handles = handle ? 1 : 0;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    const DWORD r = MsgWaitForMultipleObjects(handles, handle ? &handle : nullptr, FALSE,
                                              ms - elapsed, kWakeMask);
    if (handle && r == WAIT_OBJECT_0) return true;
    if (r == WAIT_OBJECT_0 + handles) {
      while (HandleOneMessage()) {
      }
    } else if (r == WAIT_FAILED) {
      // Not expected: the rest of the wait without messages.
      const DWORD now = GetTickCount() - start;
      const DWORD left = now < ms ? ms - now : 0;
      if (handle) return WaitForSingleObject(handle, left) == WAIT_OBJECT_0;
      Sleep(left);
      return false;
    }
  }
}

}  // namespace win32
