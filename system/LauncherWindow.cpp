#include "system/LauncherWindow.h"

#include "win32/Seams.h"

namespace {

// Looked up by class only: a window of another class that merely carries the
// launcher's name as its title is none of ours.
HWND FindLauncher() { return FindWindowA(kLauncherWindowClass, nullptr); }

}  // namespace

int32_t CloseLauncherWindow() {
  HWND launcher = FindLauncher();
  if (!launcher) return 1;

  // Bounded, synchronous close request: a launcher that handles WM_CLOSE
  // normally has gone (or is going) when this returns; one that hangs or is
  // already unresponsive lets the call expire, and the polls below decide.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(launcher, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kLauncherCloseTimeoutMs,
                      &ignored);

  for (int poll = 0; poll < kLauncherPolls; ++poll) {
    seams::Pause(kLauncherPollPauseMs);
    if (!FindLauncher()) return 0;
  }
  return -1;
}
