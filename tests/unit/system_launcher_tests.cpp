// Closing the product's launcher window, against the testbed's launcher
// running as a separate process (closing, ignoring or hanging in WM_CLOSE)
// and a decoy window that only carries the launcher's name as its title.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/ImportPatch.h"
#include "support/SystemSupport.h"
#include "system/LauncherWindow.h"

namespace {

using vrtest::ChildProcess;
using vrtest::SeamRecorder;
using vrtest::WaitUntil;

HWND FindByClass() { return FindWindowA("VrOstrel", nullptr); }
HWND FindByTitle() { return FindWindowA(nullptr, "VrOstrel"); }

// Starts the testbed's launcher with flags and waits for its window (found
// by title for the decoy, by class otherwise).
bool StartLauncher(ChildProcess& launcher, const char* flags, HWND (*find)() = FindByClass) {
  return launcher.Start(vrtest::ExeFolderCommand("VrOstrel.exe", flags)) &&
         WaitUntil([find] { return find() != nullptr; }, 10000);
}

// Nothing of the launcher's class to close: 1 at once, without a pause.
void ExpectNothingToClose() {
  SeamRecorder recorder;
  EXPECT_EQ(1, CloseLauncherWindow());
  EXPECT_TRUE(recorder.pauses.empty());
}

TEST(LauncherWindow, NoneRunningReturnsOneAtOnce) { ExpectNothingToClose(); }

TEST(LauncherWindow, ClosingLauncherGoesOnTheFirstRequest) {
  ChildProcess launcher;
  ASSERT_TRUE(StartLauncher(launcher, ""));
  SeamRecorder recorder;
  EXPECT_EQ(0, CloseLauncherWindow());
  // The window was destroyed while the request was handled, so the first
  // poll already misses it.
  EXPECT_EQ(std::vector<DWORD>{kLauncherPollPauseMs}, recorder.pauses);
  EXPECT_TRUE(launcher.WaitForExit(5000)) << "the launcher ends when its window closes";

  ExpectNothingToClose();  // as the update procedure's second call finds
}

TEST(LauncherWindow, LauncherThatIgnoresTheRequestGivesMinusOneAfterTenPolls) {
  ChildProcess launcher;
  ASSERT_TRUE(StartLauncher(launcher, "--ignore-close"));
  SeamRecorder recorder;
  EXPECT_EQ(-1, CloseLauncherWindow());
  EXPECT_EQ(std::vector<DWORD>(kLauncherPolls, kLauncherPollPauseMs), recorder.pauses);
  EXPECT_NE(nullptr, FindByClass()) << "the updater never ends the launcher itself";
  EXPECT_FALSE(launcher.WaitForExit(0));
}

bool g_painted = false;
LRESULT CALLBACK PaintRecorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(hwnd, message, wParam, lParam);
  g_painted = true;
  PAINTSTRUCT ps;
  BeginPaint(hwnd, &ps);
  EndPaint(hwnd, &ps);
  return 0;
}

TEST(LauncherWindow, LauncherHangingInItsHandlerDoesNotHoldTheCallerForEver) {
  ChildProcess launcher;
  ASSERT_TRUE(StartLauncher(launcher, "--hang-on-close=60000"));
  // A window of the caller's thread that needs painting: the wait takes the
  // thread's messages, as every wait of the updater after the service's
  // removal must, or Windows would call it hung.
  WNDCLASSA wc = {};
  wc.lpfnWndProc = PaintRecorder;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "LauncherTestPaint";
  RegisterClassA(&wc);
  HWND window = CreateWindowA("LauncherTestPaint", "", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, window);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  g_painted = false;
  InvalidateRect(window, nullptr, TRUE);

  SeamRecorder recorder;  // pauses recorded, not slept
  vrtest::WaitRecorder waits;
  ASSERT_TRUE(waits.active());
  EXPECT_EQ(-1, CloseLauncherWindow());
  DestroyWindow(window);
  // One wait for the handler, bounded by its time-out and not ended by an
  // answer; then the polls find the window still there. The window was
  // painted inside that wait (nothing else took messages meanwhile).
  const std::vector<vrtest::Wait> begun = waits.Begun();
  ASSERT_EQ(1u, begun.size());
  EXPECT_LE(begun[0].timeoutMs, kLauncherCloseTimeoutMs);
  EXPECT_NE(static_cast<DWORD>(WAIT_OBJECT_0), begun[0].result);
  EXPECT_EQ(std::vector<DWORD>(kLauncherPolls, kLauncherPollPauseMs), recorder.pauses);
  EXPECT_TRUE(g_painted) << "nothing was painted while the launcher hung";
}

TEST(LauncherWindow, WindowOfAnotherClassTitledLikeTheLauncherIsLeftAlone) {
  ChildProcess decoy;
  ASSERT_TRUE(StartLauncher(decoy, "--decoy", FindByTitle));
  ASSERT_EQ(nullptr, FindByClass());
  ExpectNothingToClose();
  EXPECT_NE(nullptr, FindByTitle());
  EXPECT_FALSE(decoy.WaitForExit(200));
}

}  // namespace
