// The update driver on the real main dialog (created modeless, so the test
// keeps the thread): the paths that stop before any file is looked at, the
// resume entry and the restart question. Boxes are answered and pauses
// recorded through the hooks. The test program carries no update list, so a
// "loaded" list is never reached here; whole updates are end-to-end journeys.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/UpdaterDialog.h"
#include "engine/Leftovers.h"
#include "res/resource.h"
#include "support/Registry.h"
#include "support/SystemSupport.h"
#include "testbed/common/ProductKeys.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

using vrtest::ResText;
using vrtest::SeamRecorder;

using testbed::kResumeValue;
using testbed::kRunKey;

void SetRunValue(const char* name, const char* command) {
  ASSERT_TRUE(vrtest::SetText(kRunKey, name, command));
}

bool RunValueExists(const char* name) {
  std::string data;
  return vrtest::ReadValue(kRunKey, name, &data);
}

// The product "installed" in a folder of its own (App Paths "Path").
void InstallProductFolder(const std::string& folder) {
  ASSERT_TRUE(vrtest::SetText(ResText(IDS_APP_PATHS_KEY).c_str(), "Path", folder));
}

void RemoveProductFolder() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, ResText(IDS_APP_PATHS_KEY).c_str());
}

class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    RemoveProductFolder();
    ASSERT_NE(nullptr, dialog_.CreateModeless(nullptr));
    SetRunValue(kResumeValue, "C:\\updater.exe /r");
    SetRunValue("SomethingElse", "C:\\other.exe");
  }
  void TearDown() override { RemoveProductFolder(); }

  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(dialog_.hwnd(), id)) != FALSE; }
  std::string Status() const {
    char text[256] = {};
    GetDlgItemTextA(dialog_.hwnd(), IDC_STATUS, text, sizeof text);
    return text;
  }
  // The dialog back at rest: no wait window, both buttons usable.
  void ExpectIdle() const {
    EXPECT_FALSE(dialog_.HasWaitWindow());
    EXPECT_TRUE(Enabled(IDC_START));
    EXPECT_TRUE(Enabled(IDCANCEL));
  }
  // The update procedure's pauses, from pause `first` on, judged by what
  // happened around them: the longest comes first, before the service is
  // touched, so that what the launcher and the product were asked to end has
  // time to end (two seconds at least); two short ones follow, then the
  // service removal (its mark, noted per pause by NoteServiceRemoval, where
  // the removal is this procedure's), two more to let the installer get
  // going, and three once the list has loaded. All of it stays within the
  // five seconds a person watching the wait window is kept waiting.
  static void NoteServiceRemoval(SeamRecorder& recorder) {
    recorder.notePause = [] {
      return leftovers::HasMark(leftovers::Mark::ServiceRemoved) ? 'm' : '-';
    };
  }
  static void ExpectProcedurePauses(const SeamRecorder& recorder, size_t first, bool listLoaded) {
    ASSERT_EQ(first + (listLoaded ? 8 : 5), recorder.pauses.size());
    EXPECT_EQ(first, recorder.LongestPause());
    EXPECT_GE(recorder.pauses[first], 2000u);
    if (!recorder.pauseNotes.empty()) {
      EXPECT_EQ(first + 3, recorder.FirstPauseNoted('m'));
    }
    EXPECT_LE(recorder.PauseTotal(first), 5000u);
  }
  // A box of the dialog under the updater's title.
  void ExpectBox(const vrtest::Box& box, UINT id, UINT type) const {
    EXPECT_EQ(dialog_.hwnd(), box.owner);
    EXPECT_EQ(ResText(id), box.text);
    EXPECT_EQ(ResText(IDS_TITLE), box.caption);
    EXPECT_EQ(type, box.type);
  }
  void ExpectOneBox(const SeamRecorder& recorder, UINT id, UINT type) const {
    ASSERT_EQ(1u, recorder.boxes.size());
    ExpectBox(recorder.boxes[0], id, type);
  }

  UpdaterDialog dialog_;
};

TEST_F(DriverTest, StartWithoutProductSaysSoAndDoesNothingElse) {
  SeamRecorder recorder;
  dialog_.driver().Start();
  ExpectOneBox(recorder, IDS_NOT_INSTALLED, MB_OK | MB_ICONINFORMATION);
  EXPECT_TRUE(recorder.pauses.empty());
  ExpectIdle();
  EXPECT_TRUE(RunValueExists(kResumeValue)) << "only the update procedure removes it";
}

TEST_F(DriverTest, UpdateProcedureWithoutProductRemovesTheResumeEntryAndSays105) {
  dialog_.ShowWaitWindow();
  SeamRecorder recorder;
  dialog_.driver().Update();
  ExpectOneBox(recorder, IDS_NOTHING_TO_UPDATE, MB_OK | MB_ICONINFORMATION);
  EXPECT_TRUE(recorder.pauses.empty());
  ExpectIdle();
  EXPECT_FALSE(RunValueExists(kResumeValue));
  EXPECT_TRUE(RunValueExists("SomethingElse"));
}

TEST_F(DriverTest, StartIsSilentWhenTheUpdateListCannotBeLoaded) {
  std::string folder = vrtest::MakeTempFolder("vrprog");
  InstallProductFolder(folder);
  SeamRecorder recorder;
  dialog_.driver().Start();
  EXPECT_TRUE(recorder.boxes.empty());
  EXPECT_TRUE(recorder.pauses.empty());
  ExpectIdle();
}

TEST_F(DriverTest, UpdateProcedureWithUnloadableListPausesInOrderAndComesBackSilently) {
  std::string folder = vrtest::MakeTempFolder("vrprog");
  InstallProductFolder(folder);
  SetDlgItemTextA(dialog_.hwnd(), IDC_STATUS, "left over");
  SendDlgItemMessageA(dialog_.hwnd(), IDC_PROGRESS, PBM_SETPOS, 40, 0);
  dialog_.ShowWaitWindow();
  SeamRecorder recorder;
  NoteServiceRemoval(recorder);
  dialog_.driver().Update();
  // The service removal runs nothing here (the product's common folder is
  // unknown); no pause follows a list that does not load.
  ExpectProcedurePauses(recorder, 0, false);
  EXPECT_TRUE(recorder.boxes.empty());
  ExpectIdle();
  EXPECT_FALSE(RunValueExists(kResumeValue));
  EXPECT_EQ("", Status());
  EXPECT_EQ(0, SendDlgItemMessageA(dialog_.hwnd(), IDC_PROGRESS, PBM_GETPOS, 0, 0));
}

// The real updater's store (its update list), with a product folder that
// holds no key file: the list loads, the checks refuse.
class DriverWithStoreTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    store_ = LoadLibraryExA((vrtest::ExeFolder() + "VrUpdater1030.exe").c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, store_);
    seams::SetStoreModule(store_);
    InstallProductFolder(vrtest::MakeTempFolder("vrprog"));
  }
  void TearDown() override {
    seams::SetStoreModule(nullptr);
    if (store_) FreeLibrary(store_);
    DriverTest::TearDown();
  }
  HMODULE store_ = nullptr;
};

TEST_F(DriverWithStoreTest, RefusedChecksEndWith105AfterEveryPauseAndNothingIsWritten) {
  dialog_.ShowWaitWindow();
  SeamRecorder recorder;
  NoteServiceRemoval(recorder);
  dialog_.driver().Update();
  ExpectProcedurePauses(recorder, 0, true);
  // The checks may have said why first; the procedure's own 105 comes last,
  // once every pause is over (none while a box is open or after it).
  ASSERT_FALSE(recorder.boxes.empty());
  EXPECT_EQ(ResText(IDS_NOTHING_TO_UPDATE), recorder.boxes.back().text);
  EXPECT_EQ(dialog_.hwnd(), recorder.boxes.back().owner);
  EXPECT_EQ(0u, recorder.PausesAfterBox(0));
  for (const vrtest::Box& box : recorder.boxes) EXPECT_NE(ResText(IDS_RESTART_QUESTION), box.text);
  ExpectIdle();
  EXPECT_FALSE(dialog_.driver().restartRequested());
  EXPECT_FALSE(RunValueExists(kResumeValue));
}

TEST_F(DriverWithStoreTest, StartWithNothingInUseRunsTheUpdateProcedureAfterItsPause) {
  SeamRecorder recorder;
  dialog_.driver().Start();
  // One short pause after the launcher and service steps, then the
  // procedure's own (the service already removed by the Start handler).
  ExpectProcedurePauses(recorder, 1, true);
  ASSERT_FALSE(recorder.boxes.empty());
  EXPECT_EQ(ResText(IDS_NOTHING_TO_UPDATE), recorder.boxes.back().text);
  EXPECT_EQ(0u, recorder.PausesAfterBox(recorder.boxes.size() - 1));
  ExpectIdle();
}

// From the service's removal until it is installed again Windows may not end
// the session, and a mark tells a later start to put the service back. A
// Start or Close command that arrives during a pause (which takes the
// dialog's messages) is ignored: no second run starts inside the first.
TEST_F(DriverWithStoreTest, ServiceSpanHoldsOffTheShutdownAndCommandsAreIgnored) {
  SeamRecorder recorder;
  std::string seen;  // per pause: the session may end (e) or not (h); mark (m)
  recorder.onPause = [&](DWORD) {
    HWND dialog = dialog_.hwnd();
    seen += SendMessageA(dialog, WM_QUERYENDSESSION, 0, 0) ? "e" : "h";
    seen += leftovers::HasMark(leftovers::Mark::ServiceRemoved) ? "m " : "- ";
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  };
  dialog_.driver().Update();
  // The procedure's pauses until the checks refuse and the service comes
  // back: three before the removal, five after it.
  ExpectProcedurePauses(recorder, 0, true);
  EXPECT_EQ("e- e- e- hm hm hm hm hm ", seen);
  EXPECT_FALSE(dialog_.holdingOffShutdown());
  EXPECT_FALSE(leftovers::HasMark(leftovers::Mark::ServiceRemoved));
  EXPECT_NE(0, SendMessageA(dialog_.hwnd(), WM_QUERYENDSESSION, 0, 0));
  EXPECT_TRUE(IsWindow(dialog_.hwnd()));
}

TEST_F(DriverTest, ResumeEntryIsRemovedOnceAndAbsenceIsNoError) {
  EXPECT_EQ(1, dialog_.driver().RemoveResumeEntry());
  EXPECT_FALSE(RunValueExists(kResumeValue));
  EXPECT_TRUE(RunValueExists("SomethingElse"));
  EXPECT_EQ(1, dialog_.driver().RemoveResumeEntry());
  EXPECT_TRUE(RunValueExists("SomethingElse"));
}

TEST_F(DriverTest, RestartQuestionIsYesExactlyOnYes) {
  SeamRecorder recorder;
  recorder.answers = {IDYES, IDNO};
  EXPECT_TRUE(dialog_.driver().AskRestart());
  EXPECT_FALSE(dialog_.driver().AskRestart());
  ASSERT_EQ(2u, recorder.boxes.size());
  for (const vrtest::Box& box : recorder.boxes)
    ExpectBox(box, IDS_RESTART_QUESTION, MB_YESNO | MB_ICONQUESTION);
  EXPECT_FALSE(dialog_.driver().restartRequested());
}

TEST_F(DriverTest, CancelledShutdownWithoutRestartRequestLeavesTheButtonsAlone) {
  // Mid-update (buttons disabled) a shutdown cancelled elsewhere must not
  // give Close back: only this updater's own restart request does.
  dialog_.EnableButtons(false);
  SendMessageA(dialog_.hwnd(), WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(Enabled(IDCANCEL));
  EXPECT_FALSE(Enabled(IDC_START));
}

// Asks Wine to restart the test's own prefix (a ctest run of its own). Wine
// then ends this process while it pumps, so the result travels as a line on
// the output that ctest looks for, printed only when every check held.
TEST(DriverRealRestart, AcceptedRestartLeavesBothButtonsDisabled) {
  UpdaterDialog dialog;
  ASSERT_NE(nullptr, dialog.CreateModeless(nullptr));
  dialog.EnableButtons(false);
  EXPECT_TRUE(dialog.driver().RequestRestart());
  EXPECT_TRUE(dialog.driver().restartRequested());
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog.hwnd(), IDC_START)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog.hwnd(), IDCANCEL)));
  if (!testing::Test::HasFailure()) {
    printf("restart accepted, buttons disabled\n");
    fflush(stdout);
  }
  // Let the session end arrive; whatever is handled meanwhile must not give
  // the buttons back.
  for (DWORD begin = GetTickCount(); GetTickCount() - begin < 3000;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageA(dialog.hwnd(), &msg)) DispatchMessageA(&msg);
    }
    Sleep(20);
  }
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog.hwnd(), IDCANCEL)));
}

}  // namespace
