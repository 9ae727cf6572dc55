// Initialisation, painting, progress display and the wait window of the main
// dialog. The update driver, restart and system members live in their own
// files (see UpdaterDialog.h).
#include "app/UpdaterDialog.h"

#include <commctrl.h>

#include <new>
#include <string>

#include "app/ProcessFacts.h"
#include "app/RunMode.h"
#include "win32/Trace.h"
#include "win32/TraceSteps.h"
#include "engine/PayloadStore.h"
#include "res/resource.h"
#include "system/MessageBoxes.h"
#include "win32/BufferSizes.h"
#include "win32/DynamicCalls.h"
#include "win32/MessagePump.h"
#include "win32/ResString.h"
#include "win32/Seams.h"

// ---------------------------------------------------------------------------
// WaitDialog

BOOL WaitDialog::OnInitDialog() {
  char text[win32::kTextSize];
  win32::LoadResString(IDS_PREPARING, text, sizeof text);
  SetDlgItemTextA(hwnd(), IDC_WAIT_TEXT, text);
  return TRUE;
}

// ---------------------------------------------------------------------------
// UpdaterDialog

UpdaterDialog::UpdaterDialog() : DialogBase(IDD_MAIN) {
  icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
}

UpdaterDialog::~UpdaterDialog() {
  // The window goes in the base's destructor, where WM_DESTROY no longer
  // reaches this class.
  if (hwnd() && MessageOwner() == hwnd()) SetMessageOwner(nullptr);
  DestroyWaitWindow();
  win32::SetPumpDialog(nullptr);
}

BOOL UpdaterDialog::OnInitDialog() {
  HWND dialog = hwnd();
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  // Classifies Windows, fixes the 64-bit driver state and asks the control
  // library for the product's folders, so every later group check relies on
  // facts fixed before the user can press Start.
  FixProcessWideFacts(driver_.environment());
  win32::SetPumpDialog(dialog);
  // Every message box from here on belongs to this dialog.
  SetMessageOwner(dialog);

  HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
  SendMessageA(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageA(progress, PBM_SETPOS, 0, 0);

  char title[win32::kTitleSize];
  if (win32::LoadResString(IDS_TITLE, title, sizeof title)) SetWindowTextA(dialog, title);

  // The history is shown as stored (Shift-JIS, CR LF); without it the box
  // simply stays empty.
  std::string history;
  if (PayloadStore::LoadResourceText(history, seams::StoreModule(), "msg.txt",
                                     PayloadStore::kType)) {
    SetDlgItemTextA(dialog, IDC_HISTORY, history.c_str());
  }

  if (GetRunMode() == RunMode::Resume) {
    // Visible and painted before the update starts; the update itself runs
    // once the dialog's message loop picks up the posted message.
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    PostMessageA(dialog, WM_RESUMEUPDATE, 0, 0);
  }
  return TRUE;  // focus to the first tab stop, Start
}

void UpdaterDialog::OnCommand(int id, int code) {
  if (driver_.running() && (id == IDC_START || id == IDCANCEL || id == IDOK)) {
    TraceStep(steps::kCommandIgnored, id);
    return;
  }
  if (id == IDC_START) {
    if (code == BN_CLICKED) driver_.Start();
    return;
  }
  if (id == IDCANCEL) {
    // Escape reaches here even while Close is disabled; an update that runs
    // must not be interrupted by any route, so follow the button's state.
    HWND close = GetDlgItem(hwnd(), IDCANCEL);
    if (close && !IsWindowEnabled(close)) return;
  }
  DialogBase::OnCommand(id, code);
}

INT_PTR UpdaterDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
  *handled = false;
  switch (message) {
    case WM_RESUMEUPDATE:
      *handled = true;
      if (!driver_.running()) driver_.Update();
      return 0;
    case WM_DESTROY:
      if (MessageOwner() == hwnd()) SetMessageOwner(nullptr);
      return 0;
    case WM_CTLCOLORSTATIC:
      // A read-only edit box asks as a static control; keep the history white.
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(hwnd(), IDC_HISTORY)) {
        *handled = true;
        HDC dc = reinterpret_cast<HDC>(wParam);
        if (dc) SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      }
      return 0;
    case WM_PAINT:
      if (IsIconic(hwnd())) {
        *handled = true;
        PaintMinimised();
      }
      return 0;
    case WM_QUERYDRAGICON:
      *handled = true;
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_QUERYENDSESSION:
      if (!holdingOffShutdown()) return 0;
      *handled = true;
      TraceStep(steps::kShutdownRefused);
      return FALSE;
    case WM_ENDSESSION:
      driver_.OnEndSession(wParam != FALSE);  // default handling continues
      return 0;
    default:
      return 0;
  }
}

void UpdaterDialog::PaintMinimised() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  if (!dc) return;
  SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int iconWidth = GetSystemMetrics(SM_CXICON);
  int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(hwnd(), &client);
  int x = (client.right - client.left - iconWidth + 1) / 2;
  int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(hwnd(), &ps);
}

// ---------------------------------------------------------------------------
// Progress

int UpdaterDialog::Ask(Message message) { return ShowUpdaterMessage(message); }

bool UpdaterDialog::ReportProgress(int32_t done, int32_t total, const char* text) {
  if (text) SetStatusText(text);
  HWND progress = hwnd() ? GetDlgItem(hwnd(), IDC_PROGRESS) : nullptr;
  if (progress) {
    if (total < 1) total = 100;
    double percent = done * 100.0 / total;
    // The bar keeps itself within 0..100; clamping first keeps the
    // conversion defined for any pair of 32-bit counts.
    if (percent < 0.0) percent = 0.0;
    if (percent > 100.0) percent = 100.0;
    SendMessageA(progress, PBM_SETPOS, static_cast<WPARAM>(static_cast<int>(percent)), 0);
  }
  PumpOneMessage();
  return true;
}

void UpdaterDialog::ClearProgress() {
  if (hwnd()) SendDlgItemMessageA(hwnd(), IDC_PROGRESS, PBM_SETPOS, 0, 0);
}

void UpdaterDialog::PumpOneMessage() {
  // Only the dialog's own messages and painting are let through; anything
  // else for other windows of the thread is dropped, so nothing else runs
  // while the engine works.
  if (hwnd()) win32::HandleOneMessage();
}

// ---------------------------------------------------------------------------
// Display helpers for the update driver

void UpdaterDialog::SetStatusText(const char* text) {
  if (hwnd()) SetDlgItemTextA(hwnd(), IDC_STATUS, text ? text : "");
}

void UpdaterDialog::EnableButtons(bool enable) {
  if (!hwnd()) return;
  EnableWindow(GetDlgItem(hwnd(), IDC_START), enable ? TRUE : FALSE);
  EnableWindow(GetDlgItem(hwnd(), IDCANCEL), enable ? TRUE : FALSE);
}

void UpdaterDialog::EnableCloseOnly() {
  if (hwnd()) EnableWindow(GetDlgItem(hwnd(), IDCANCEL), TRUE);
}

void UpdaterDialog::Repaint() {
  if (hwnd()) UpdateWindow(hwnd());
}

void UpdaterDialog::Close() {
  if (hwnd()) PostMessageA(hwnd(), WM_CLOSE, 0, 0);
}

void UpdaterDialog::ShowWaitWindow() {
  if (waitWindow_) return;
  waitWindow_ = new (std::nothrow) WaitDialog();  // without memory, no wait window
  if (!waitWindow_) return;
  HWND wait = waitWindow_->CreateModeless(hwnd());
  // Paint the text now: the driver blocks the thread right after this.
  if (wait) UpdateWindow(wait);
}

void UpdaterDialog::HoldOffShutdown(bool hold) {
  shutdownHolds_ += hold ? 1 : (shutdownHolds_ > 0 ? -1 : 0);
  if (!hwnd()) return;
  // Vista and later show the reason beside the program that holds off the
  // shutdown; older Windows only ask the window.
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  win32::newer::ShutdownBlockReasonCreate create = nullptr;
  win32::newer::ShutdownBlockReasonDestroy destroy = nullptr;
  if (!win32::BindExport(user32, "ShutdownBlockReasonCreate", &create) ||
      !win32::BindExport(user32, "ShutdownBlockReasonDestroy", &destroy))
    return;
  if (shutdownHolds_ == 0) {
    destroy(hwnd());
    return;
  }
  if (!hold || shutdownHolds_ > 1) return;
  char text[win32::kTextSize];
  wchar_t reason[win32::kTextSize];
  if (win32::LoadResString(IDS_SHUTDOWN_HELD, text, sizeof text) &&
      MultiByteToWideChar(CP_ACP, 0, text, -1, reason, static_cast<int>(win32::kTextSize)) > 0)
    create(hwnd(), reason);
}

void UpdaterDialog::DestroyWaitWindow() {
  delete waitWindow_;  // destroys its window
  waitWindow_ = nullptr;
}
