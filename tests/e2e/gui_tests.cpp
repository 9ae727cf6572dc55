// The real updater executable under a display, looked at from this second
// program the way a user sees it: title, history, default button, Close.
//
//   gui_tests.exe <path of the updater> <path of the generated MSG.TXT>
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "res/resource.h"
#include "support/Files.h"
#include "testbed/robot/Robot.h"

namespace {

std::string g_updater;
std::string g_history;

HWND WaitForMainDialog(DWORD pid) {
  for (int i = 0; i < 200; ++i) {
    HWND main = robot::FindWindowOfKind(pid, robot::WindowKind::MainDialog);
    if (main) return main;
    Sleep(50);
  }
  return nullptr;
}

TEST(UpdaterWindow, ShowsTitleHistoryAndStartAsDefaultAndClosesOnClose) {
  robot::Process updater;
  ASSERT_TRUE(updater.Start(g_updater, "", false)) << g_updater;
  HWND main = WaitForMainDialog(updater.pid());
  ASSERT_NE(nullptr, main);

  // String 103 as this process reads it across the process boundary, in
  // code page 932: "Vorrel Recorder 10.30 " + アップデータ.
  EXPECT_EQ("Vorrel Recorder 10.30 \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5b\x83\x5e",
            robot::WindowText(main));

  std::string history;
  vrtest::ReadWholeFile(g_history, &history);
  ASSERT_GT(history.size(), 100u) << g_history;
  EXPECT_NE(std::string::npos, history.find("\r\n"));
  EXPECT_EQ(history, robot::ControlText(main, IDC_HISTORY));

  EXPECT_EQ(MAKELONG(IDC_START, DC_HASDEFID), SendMessageA(main, DM_GETDEFID, 0, 0));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDC_START)));

  ASSERT_TRUE(robot::Press(main, IDCANCEL));
  DWORD code = 0;
  EXPECT_TRUE(updater.WaitExit(10000, &code));
  if (!updater.WaitExit(0, nullptr)) updater.Terminate();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    fprintf(stderr, "usage: gui_tests <updater.exe> <MSG.TXT>\n");
    return 2;
  }
  g_updater = robot::ToWindowsPath(argv[1]);
  g_history = robot::ToWindowsPath(argv[2]);
  return RUN_ALL_TESTS();
}
