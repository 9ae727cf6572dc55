// The main dialog on a real window: initialisation, progress arithmetic, the
// one-message pump, the white history box, the wait window, the buttons, and
// the run-mode rule that decides whether the update starts by itself.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ProcessFacts.h"
#include "app/RunMode.h"
#include "app/SoleUpdater.h"
#include "app/UpdaterApp.h"
#include "app/UpdaterDialog.h"
#include "engine/Leftovers.h"
#include "engine/ProductEnvironment.h"
#include "res/resource.h"
#include "support/SeamRecorder.h"
#include "system/ProductDetection.h"
#include "win32/Platform.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

// --------------------------------------------------------------------------
// Run mode

TEST(RunMode, ResumeExactlyWhenTheLastTwoCharactersAreSlashR) {
  struct Case {
    const char* commandLine;
    RunMode expected;
  } cases[] = {
      {"C:\\App\\updater.exe /r", RunMode::Resume},
      {"\"C:\\App\\updater.exe\" /r", RunMode::Resume},  // quotes do not matter
      {"C:\\App\\updater.exe -x/r", RunMode::Resume},    // whatever stands before
      {"x/r", RunMode::Resume},                          // three characters suffice
      {"C:\\App\\updater.exe /R", RunMode::Normal},      // upper case
      {"C:\\App\\updater.exe /r ", RunMode::Normal},     // trailing blank
      {"C:\\App\\updater.exe /r2", RunMode::Normal},
      {"C:\\App\\updater.exe r", RunMode::Normal},
      {"C:\\App\\updater.exe", RunMode::Normal},
      {"/r", RunMode::Normal},  // length 2
      {"r", RunMode::Normal},
      {"", RunMode::Normal},
      {nullptr, RunMode::Normal},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, RunModeOfCommandLine(c.commandLine))
        << (c.commandLine ? c.commandLine : "(null)");
  }
}

// --------------------------------------------------------------------------
// Dialog fixture: the real dialog from template 102, created modeless so the
// test keeps the thread.

constexpr UINT kAppMessage = WM_APP + 1;
int g_paints = 0;
int g_appMessages = 0;
int g_timers = 0;

LRESULT CALLBACK RecorderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      ++g_paints;
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case kAppMessage:
      ++g_appMessages;
      return 0;
    case WM_TIMER:
      ++g_timers;
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

std::string ControlText(HWND dialog, int id) {
  char buffer[8192];
  int n = GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

class DialogTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecorderProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "AppTestRecorder";
    RegisterClassA(&wc);
  }

  void SetUp() override {
    dialog_ = new UpdaterDialog();
    hwnd_ = dialog_->CreateModeless(nullptr);
    ASSERT_NE(nullptr, hwnd_);
    recorder_ = CreateWindowA("AppTestRecorder", "", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, recorder_);
    Drain();
    g_paints = g_appMessages = g_timers = 0;
  }

  void TearDown() override {
    delete dialog_;
    DestroyWindow(recorder_);
    Drain();
    EXPECT_TRUE(shown_.boxes.empty()) << "unexpected message box: " << shown_.boxes.front().text;
  }

  // Handles everything pending except the resume request, which would start
  // a real update.
  void Drain() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
      if (msg.message == WM_RESUMEUPDATE) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  int Position() {
    return static_cast<int>(SendDlgItemMessageA(hwnd_, IDC_PROGRESS, PBM_GETPOS, 0, 0));
  }

  UpdaterDialog* dialog_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND recorder_ = nullptr;
  // Boxes answered Cancel and reported; the pauses are real (they must pump).
  vrtest::SeamRecorder shown_{IDCANCEL, vrtest::Record::BoxesOnly};
};

TEST_F(DialogTest, InitialisationSetsTitleIconProgressRangeHistoryAndDefaultButton) {
  // String 103 in code page 932: "Vorrel Recorder 10.30 " + アップデータ.
  char title[256];
  GetWindowTextA(hwnd_, title, sizeof title);
  EXPECT_STREQ("Vorrel Recorder 10.30 \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5b\x83\x5e", title);

  HICON big = reinterpret_cast<HICON>(SendMessageA(hwnd_, WM_GETICON, ICON_BIG, 0));
  EXPECT_NE(nullptr, big);
  EXPECT_EQ(big, reinterpret_cast<HICON>(SendMessageA(hwnd_, WM_GETICON, ICON_SMALL, 0)));
  EXPECT_EQ(reinterpret_cast<LRESULT>(big), SendMessageA(hwnd_, WM_QUERYDRAGICON, 0, 0));

  PBRANGE range = {};
  SendDlgItemMessageA(hwnd_, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(0, range.iLow);
  EXPECT_EQ(100, range.iHigh);
  EXPECT_EQ(0, Position());

  EXPECT_EQ(MAKELONG(IDC_START, DC_HASDEFID), SendMessageA(hwnd_, DM_GETDEFID, 0, 0));

  // The history is the store's "MSG.TXT", byte for byte.
  HRSRC res = FindResourceA(nullptr, "MSG.TXT", "FILES");
  ASSERT_NE(nullptr, res);
  std::string stored(static_cast<const char*>(LockResource(LoadResource(nullptr, res))),
                     SizeofResource(nullptr, res));
  EXPECT_GT(stored.size(), 100u);
  EXPECT_EQ(stored, ControlText(hwnd_, IDC_HISTORY));

  // A normal run waits for Start.
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, hwnd_, WM_RESUMEUPDATE, WM_RESUMEUPDATE, PM_NOREMOVE));
}

TEST_F(DialogTest, MissingHistoryLeavesTheBoxEmpty) {
  // A store module without "MSG.TXT".
  seams::SetStoreModule(GetModuleHandleA("kernel32.dll"));
  UpdaterDialog other;
  HWND hwnd = other.CreateModeless(nullptr);
  seams::SetStoreModule(nullptr);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ("", ControlText(hwnd, IDC_HISTORY));
}

// In order, each row on the bar and status the rows before it left.
TEST_F(DialogTest, ReportProgressMovesTheBarAndKeepsTheStatusWithoutText) {
  const struct {
    int32_t done, total;
    const char* text;
    int position;
    const char* status;
  } kRows[] = {
      {3, 7, "step three", 42, "step three"},  // 42.857 truncated
      {37, 0, nullptr, 37, "step three"},      // no total: the count is the percentage
      {12, -4, nullptr, 12, "step three"},    {7, 7, "", 100, ""},
      {2000000000, 3, nullptr, 100, ""},  // more done than total: the end of the bar
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.done);
    EXPECT_TRUE(dialog_->ReportProgress(r.done, r.total, r.text));
    EXPECT_EQ(r.position, Position());
    EXPECT_EQ(r.status, ControlText(hwnd_, IDC_STATUS));
  }
  dialog_->ClearProgress();
  EXPECT_EQ(0, Position());
}

TEST_F(DialogTest, ReportProgressWithoutDialogIsANoOp) {
  // After the window is gone a report still says go on.
  UpdaterDialog gone;
  ASSERT_NE(nullptr, gone.CreateModeless(nullptr));
  DestroyWindow(gone.hwnd());
  EXPECT_EQ(nullptr, gone.hwnd());
  EXPECT_TRUE(gone.ReportProgress(5, 10, "late"));
  gone.ClearProgress();
  gone.PumpOneMessage();  // without a window there is nothing to handle
}

TEST_F(DialogTest, PumpDropsMessagesForOtherWindows) {
  ASSERT_TRUE(PostMessageA(recorder_, kAppMessage, 0, 0));
  dialog_->PumpOneMessage();
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, recorder_, kAppMessage, kAppMessage, PM_NOREMOVE));
  EXPECT_EQ(0, g_appMessages);

  SetTimer(recorder_, 7, 10, nullptr);
  Sleep(60);
  for (int i = 0; i < 5; ++i) dialog_->PumpOneMessage();
  KillTimer(recorder_, 7);
  EXPECT_EQ(0, g_timers);
}

TEST_F(DialogTest, PumpDispatchesPainting) {
  InvalidateRect(recorder_, nullptr, TRUE);
  for (int i = 0; i < 5 && g_paints == 0; ++i) dialog_->PumpOneMessage();
  EXPECT_EQ(1, g_paints);
}

TEST_F(DialogTest, PumpLetsTheDialogHandleItsKeyboardInput) {
  HWND start = GetDlgItem(hwnd_, IDC_START);
  HWND close = GetDlgItem(hwnd_, IDCANCEL);
  SetForegroundWindow(hwnd_);
  SetFocus(start);
  Drain();
  ASSERT_EQ(start, GetFocus());
  // Tab is dialog navigation: only the dialog manager moves the focus.
  PostMessageA(start, WM_KEYDOWN, VK_TAB, 0);
  dialog_->PumpOneMessage();
  EXPECT_EQ(close, GetFocus());
}

struct SessionQuery {
  HWND dialog;
  DWORD delayMs;
  LRESULT delivered = 0;
  DWORD_PTR answer = 0;
};
// Asks the dialog from another thread, as Windows does at log-off and as its
// hang detection does: a window that does not answer within a second is
// "not responding".
DWORD WINAPI AskWhetherTheSessionMayEnd(void* arg) {
  SessionQuery& q = *static_cast<SessionQuery*>(arg);
  Sleep(q.delayMs);
  q.delivered = SendMessageTimeoutA(q.dialog, WM_QUERYENDSESSION, 0, 0,
                                    SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &q.answer);
  return 0;
}

// Pauses keep their length and the dialog answering; while files are being
// replaced it refuses to let the session end.
TEST_F(DialogTest, PausesKeepTheDialogAnsweringAndReplacingHoldsOffTheShutdown) {
  for (const bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "while files are replaced" : "otherwise");
    if (replacing) dialog_->HoldOffShutdown(true);
    SessionQuery query{hwnd_, 300};
    win32::KernelHandle asker(
        CreateThread(nullptr, 0, AskWhetherTheSessionMayEnd, &query, 0, nullptr));
    ASSERT_TRUE(asker);
    const DWORD start = GetTickCount();
    seams::Pause(1500);
    EXPECT_GE(GetTickCount() - start, 1500u);
    WaitForSingleObject(asker.get(), 5000);
    if (replacing) dialog_->HoldOffShutdown(false);
    EXPECT_NE(0, query.delivered) << "the dialog did not answer during the pause";
    EXPECT_EQ(replacing ? 0u : 1u, query.answer != 0 ? 1u : 0u);
  }
  EXPECT_FALSE(dialog_->holdingOffShutdown());
}

// Without a device context only the brush is given.
TEST_F(DialogTest, HistoryBoxIsWhiteOtherStaticsAreNot) {
  const LRESULT white = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
  HDC dc = GetDC(hwnd_);
  for (const bool withDc : {true, false}) {
    for (const int id : {IDC_HISTORY, IDC_STATUS}) {
      SCOPED_TRACE(id);
      SetBkColor(dc, RGB(1, 2, 3));
      const LRESULT brush =
          SendMessageA(hwnd_, WM_CTLCOLORSTATIC, withDc ? reinterpret_cast<WPARAM>(dc) : 0,
                       reinterpret_cast<LPARAM>(GetDlgItem(hwnd_, id)));
      EXPECT_EQ(id == IDC_HISTORY, brush == white);
      EXPECT_EQ(id == IDC_HISTORY && withDc, GetBkColor(dc) == RGB(255, 255, 255));
    }
  }
  ReleaseDC(hwnd_, dc);
}

struct WaitSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindWaitWindow(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<WaitSearch*>(param);
  if (GetWindow(window, GW_OWNER) == s->owner && GetDlgItem(window, IDC_WAIT_TEXT)) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

TEST_F(DialogTest, WaitWindowShowsString137AndGoesAway) {
  dialog_->ShowWaitWindow();
  EXPECT_TRUE(dialog_->HasWaitWindow());
  WaitSearch search = {hwnd_, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindWaitWindow, reinterpret_cast<LPARAM>(&search));
  ASSERT_NE(nullptr, search.found);
  EXPECT_TRUE(IsWindowVisible(search.found));
  EXPECT_EQ(vrtest::ResText(137), ControlText(search.found, IDC_WAIT_TEXT));

  dialog_->DestroyWaitWindow();
  EXPECT_FALSE(dialog_->HasWaitWindow());
  EXPECT_FALSE(IsWindow(search.found));
}

TEST_F(DialogTest, DisabledCloseRefusesEveryWayOfClosing) {
  dialog_->EnableButtons(false);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd_, IDC_START)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd_, IDCANCEL)));
  SendMessageA(hwnd_, WM_CLOSE, 0, 0);
  SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // Escape
  Drain();
  EXPECT_TRUE(IsWindow(hwnd_));

  dialog_->EnableButtons(true);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd_, IDC_START)));
  SendMessageA(hwnd_, WM_CLOSE, 0, 0);
  Drain();
  EXPECT_FALSE(IsWindow(hwnd_));
}

TEST_F(DialogTest, StatusTextHelperSetsAndClears) {
  dialog_->SetStatusText("abc");
  EXPECT_EQ("abc", ControlText(hwnd_, IDC_STATUS));
  dialog_->SetStatusText(nullptr);
  EXPECT_EQ("", ControlText(hwnd_, IDC_STATUS));
}

// Registered as its own test with "/r" at the end of the command line.
TEST_F(DialogTest, ResumeRunShowsTheWindowAndPostsTheResumeRequest) {
  if (GetRunMode() != RunMode::Resume) GTEST_SKIP() << "needs a command line ending in /r";
  // SetUp's dialog already initialised in resume mode; make a fresh one and
  // look at its queue before anything is dispatched.
  UpdaterDialog fresh;
  HWND hwnd = fresh.CreateModeless(nullptr);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_RESUMEUPDATE, WM_RESUMEUPDATE, PM_REMOVE));
  EXPECT_EQ(0u, msg.wParam);
  EXPECT_EQ(0, msg.lParam);
  EXPECT_FALSE(PeekMessageA(&msg, hwnd, WM_RESUMEUPDATE, WM_RESUMEUPDATE, PM_NOREMOVE));
}

// --------------------------------------------------------------------------
// Leftovers at start (app/ProcessFacts.h)

// A record is judged by the folders of the installed product's list; without
// a product there is no list, and the records of a killed run are kept for a
// later start, their files untouched.
TEST(StartWithoutTheProduct, KeepsTheRecordsOfAKilledRun) {
  char folder[kProgramFolderCapacity] = {};
  ASSERT_EQ(0, GetProgramFolder(folder, sizeof folder)) << "the product is installed here";
  CreateDirectoryA("C:\\rt", nullptr);
  const char* path = "C:\\rt\\tmp1.tmp";
  win32::FileHandle file(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  file.reset();
  ASSERT_TRUE(leftovers::Record(path, nullptr));

  ProductEnvironment environment;
  FixProcessWideFacts(environment);

  win32::RegKey key;
  EXPECT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, leftovers::kRecordKey, 0, KEY_READ, key.put()));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), path, nullptr, nullptr, nullptr, nullptr));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path));
  key.reset();
  leftovers::Forget(path);
  DeleteFileA(path);
}

// --------------------------------------------------------------------------
// One updater at a time (app/SoleUpdater.h)

TEST(SoleUpdater, GlobalNameWhereWindowsKnowsTheGlobalNamespace) {
  constexpr char kGlobal[] = "Global\\VrUpdater1030.Running";
  constexpr char kPlain[] = "VrUpdater1030.Running";
  struct Case {
    const char* windows;
    DWORD platform, major, minor;
    const char* name;
  } cases[] = {
      {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, kPlain},
      {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, kPlain},
      {"Me", VER_PLATFORM_WIN32_WINDOWS, 4, 90, kPlain},
      {"NT 4.0", VER_PLATFORM_WIN32_NT, 4, 0, kPlain},
      {"2000", VER_PLATFORM_WIN32_NT, 5, 0, kGlobal},
      {"XP", VER_PLATFORM_WIN32_NT, 5, 1, kGlobal},
      {"7", VER_PLATFORM_WIN32_NT, 6, 1, kGlobal},
      {"10", VER_PLATFORM_WIN32_NT, 10, 0, kGlobal},
  };
  for (const Case& c : cases) {
    OSVERSIONINFOEXA os = {};
    os.dwOSVersionInfoSize = sizeof os;
    os.dwPlatformId = c.platform;
    os.dwMajorVersion = c.major;
    os.dwMinorVersion = c.minor;
    EXPECT_STREQ(c.name, SoleUpdaterMutexName(os)) << c.windows;
  }
}

// Every window the thread would make is counted and refused, so that a
// dialog opened by mistake ends the modal loop at once instead of waiting.
int g_windowsMade = 0;
LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HCBT_CREATEWND) return CallNextHookEx(nullptr, code, wParam, lParam);
  ++g_windowsMade;
  return 1;
}

// The first updater holds the name of this Windows; a second one, the whole
// start-up of the application, says that an update is running (string 147,
// information and OK, under the updater's title, owned by no window) and
// ends before its dialog exists: it settles nothing and changes nothing.
TEST(SoleUpdater, ASecondUpdaterSaysSoAndEndsBeforeItsDialog) {
  vrtest::SeamRecorder shown(IDOK, vrtest::Record::BoxesOnly);
  ASSERT_TRUE(ClaimSoleUpdater());
  EXPECT_TRUE(shown.boxes.empty());
  OsVersionInfo os;
  os.DetectOsVersion();
  const char* name = SoleUpdaterMutexName(os.record());
  win32::KernelHandle held(OpenMutexA(SYNCHRONIZE, FALSE, name));
  EXPECT_TRUE(held) << name;

  HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseWindows, nullptr, GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  UpdaterApp second;
  second.InitInstance();
  UnhookWindowsHookEx(hook);

  EXPECT_EQ(0, g_windowsMade) << "the second updater made its dialog";
  ASSERT_EQ(1u, shown.boxes.size());
  EXPECT_EQ(nullptr, shown.boxes[0].owner);
  EXPECT_EQ(vrtest::ResText(IDS_UPDATE_RUNNING), shown.boxes[0].text);
  EXPECT_EQ(vrtest::ResText(IDS_TITLE), shown.boxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), shown.boxes[0].type);
}

}  // namespace
