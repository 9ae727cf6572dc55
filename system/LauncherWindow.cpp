#include "system/LauncherWindow.h"

#include "win32/MessagePump.h"
#include "win32/Seams.h"

namespace {

// Looked up by class only: a window of another class that merely carries the
// launcher's name as its title is none of ours.
HWND FindLauncher() { return FindWindowA(kLauncherWindowClass, nullptr); }

// Told when the launcher has handled the close request: called on this
// thread while it takes its messages. The event lives as long as the
// process, so an answer that comes after the wait has ended is harmless.
void CALLBACK CloseRequestAnswered(HWND, UINT, ULONG_PTR event, LRESULT) {
  SetEvent(reinterpret_cast<HANDLE>(event));
}

HANDLE CloseAnsweredEvent() {
  static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return event;
}

// Sends the close request and waits, at most timeoutMs, for the launcher to
// have handled it, with the updater's windows answering meanwhile (this wait
// comes right after the product's service was removed, when Windows must
// not offer to end the updater). A launcher that hangs lets the wait expire.
void RequestCloseAndWait(HWND launcher, DWORD timeoutMs) {
  const HANDLE answered = CloseAnsweredEvent();
  if (!answered) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(launcher, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored);
    return;
  }
  ResetEvent(answered);
  if (!SendMessageCallbackA(launcher, WM_CLOSE, 0, 0, CloseRequestAnswered,
                            reinterpret_cast<ULONG_PTR>(answered)))
    return;
  win32::WaitPumping(answered, timeoutMs);
}

}  // namespace

int32_t CloseLauncherWindow() {
  HWND launcher = FindLauncher();
  if (!launcher) return 1;

  // Bounded close request: a launcher that handles WM_CLOSE normally has
  // gone (or is going) when this returns; one that hangs lets the wait
  // expire, and the polls below decide.
  RequestCloseAndWait(launcher, kLauncherCloseTimeoutMs);

  for (int poll = 0; poll < kLauncherPolls; ++poll) {
    seams::Pause(kLauncherPollPauseMs);
    if (!FindLauncher()) return 0;
  }
  return -1;
}
