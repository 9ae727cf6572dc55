// Closing the product's launcher window, against the testbed's launcher
// running as a separate process (closing, ignoring or hanging in WM_CLOSE)
// and a decoy window that only carries the launcher's name as its title.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/SystemSupport.h"
#include "system/LauncherWindow.h"

namespace {

using vrtest::ChildProcess;
using vrtest::SeamRecorder;
using vrtest::WaitUntil;

HWND FindByClass() { return FindWindowA("VrOstrel", nullptr); }
HWND FindByTitle() { return FindWindowA(nullptr, "VrOstrel"); }

TEST(LauncherWindow, NoneRunningReturnsOneAtOnce) {
  SeamRecorder recorder;
  EXPECT_EQ(1, CloseLauncherWindow());
  EXPECT_TRUE(recorder.pauses.empty());
}

TEST(LauncherWindow, ClosingLauncherGoesOnTheFirstRequest) {
  ChildProcess launcher;
  ASSERT_TRUE(launcher.Start("VrOstrel.exe", ""));
  ASSERT_TRUE(WaitUntil([] { return FindByClass() != nullptr; }, 10000));

  SeamRecorder recorder;
  EXPECT_EQ(0, CloseLauncherWindow());
  // The window was destroyed while the request was handled, so the first
  // poll already misses it.
  EXPECT_EQ(std::vector<DWORD>{500}, recorder.pauses);
  EXPECT_TRUE(launcher.WaitForExit(5000)) << "the launcher ends when its window closes";

  // The second call of the update procedure then finds nothing to close.
  recorder.pauses.clear();
  EXPECT_EQ(1, CloseLauncherWindow());
  EXPECT_TRUE(recorder.pauses.empty());
}

TEST(LauncherWindow, LauncherThatIgnoresTheRequestGivesMinusOneAfterTenPolls) {
  ChildProcess launcher;
  ASSERT_TRUE(launcher.Start("VrOstrel.exe", "--ignore-close"));
  ASSERT_TRUE(WaitUntil([] { return FindByClass() != nullptr; }, 10000));

  SeamRecorder recorder;
  EXPECT_EQ(-1, CloseLauncherWindow());
  EXPECT_EQ(std::vector<DWORD>(10, 500), recorder.pauses);
  EXPECT_NE(nullptr, FindByClass()) << "the updater never ends the launcher itself";
  EXPECT_FALSE(launcher.WaitForExit(0));
}

DWORD g_paintedAt = 0;
LRESULT CALLBACK PaintRecorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(hwnd, message, wParam, lParam);
  if (!g_paintedAt) g_paintedAt = GetTickCount();
  PAINTSTRUCT ps;
  BeginPaint(hwnd, &ps);
  EndPaint(hwnd, &ps);
  return 0;
}

TEST(LauncherWindow, LauncherHangingInItsHandlerDoesNotHoldTheCallerForEver) {
  ChildProcess launcher;
  ASSERT_TRUE(launcher.Start("VrOstrel.exe", "--hang-on-close=60000"));
  ASSERT_TRUE(WaitUntil([] { return FindByClass() != nullptr; }, 10000));
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
  g_paintedAt = 0;
  InvalidateRect(window, nullptr, TRUE);

  SeamRecorder recorder;  // pauses recorded, not slept
  const DWORD begin = GetTickCount();
  EXPECT_EQ(-1, CloseLauncherWindow());
  const DWORD elapsed = GetTickCount() - begin;
  DestroyWindow(window);
  // The request waits for the handler up to its time-out (5 s), then the
  // polls find the window still there.
  EXPECT_GE(elapsed, 4000u);
  EXPECT_LT(elapsed, 20000u);
  EXPECT_EQ(std::vector<DWORD>(10, 500), recorder.pauses);
  ASSERT_NE(0u, g_paintedAt) << "nothing was painted while the launcher hung";
  EXPECT_LT(g_paintedAt - begin, 1000u);
}

TEST(LauncherWindow, WindowOfAnotherClassTitledLikeTheLauncherIsLeftAlone) {
  ChildProcess decoy;
  ASSERT_TRUE(decoy.Start("VrOstrel.exe", "--decoy"));
  ASSERT_TRUE(WaitUntil([] { return FindByTitle() != nullptr; }, 10000));
  ASSERT_EQ(nullptr, FindByClass());

  SeamRecorder recorder;
  EXPECT_EQ(1, CloseLauncherWindow());
  EXPECT_TRUE(recorder.pauses.empty());
  EXPECT_NE(nullptr, FindByTitle());
  EXPECT_FALSE(decoy.WaitForExit(200));
}

}  // namespace
