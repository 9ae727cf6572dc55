// Restart of Windows after a successful update, and the resume entry that a
// restart may have left in the Run key.
#include <windows.h>

#include "app/Trace.h"
#include "app/UpdaterDialog.h"
#include "res/resource.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kResumeValue[] = "marrowickupdater";
constexpr int kTextCapacity = 512;

// After a restart was requested both buttons are disabled; when Windows
// refuses or a shutdown is cancelled, Close comes back so the window can be
// closed. Start stays disabled: the update is over.
void EnableCloseOnly(HWND dialog) {
  if (dialog) EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
}

}  // namespace

int32_t UpdaterDialog::RemoveResumeEntry() {
  // Opened with creation allowed, as the key belongs to Windows and exists
  // anyway; the value is used at most once, so it goes whether or not the
  // update then succeeds. A missing value is no error.
  win32::RegKey key;
  DWORD disposition = 0;
  char emptyClass[] = "";
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key.put(), &disposition) != ERROR_SUCCESS) {
    TraceStep(steps::kResumeEntryNotWritable);
    return 0;
  }
  RegDeleteValueA(key.get(), kResumeValue);
  TraceStep(steps::kResumeEntryRemoved);
  return 1;
}

bool UpdaterDialog::AskRestart() {
  char text[kTextCapacity] = {};
  char caption[kTextCapacity] = {};
  win32::LoadResString(IDS_RESTART_QUESTION, text, sizeof text);
  win32::LoadResString(IDS_TITLE, caption, sizeof caption);
  const int answer = seams::ShowMessage(hwnd(), text, caption, MB_YESNO | MB_ICONQUESTION);
  TraceStep(steps::kRestartQuestion, answer == IDYES ? "yes" : "no");
  return answer == IDYES;
}

void UpdaterDialog::EnableShutdownPrivilege(const char* privilegeName) {
  win32::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
    TraceStep(steps::kPrivilegeNoToken, privilegeName, GetLastError());
    return;
  }
  TOKEN_PRIVILEGES privileges = {};
  if (!LookupPrivilegeValueA(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
    TraceStep(steps::kPrivilegeUnknown, privilegeName, GetLastError());
    return;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  TOKEN_PRIVILEGES previous = {};  // 16 bytes: one entry
  DWORD previousLength = 0;
  AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof previous, &previous,
                        &previousLength);
  TraceStep(steps::kPrivilegeAdjusted, privilegeName, GetLastError());
}

bool UpdaterDialog::RequestRestart() {
  EnableShutdownPrivilege("SeShutdownPrivilege");
  restartRequested_ = true;
  // A normal restart: programs are asked to close, none is forced. The call
  // only starts the restart; the update procedure goes on meanwhile.
  if (ExitWindowsEx(EWX_REBOOT, 0)) {
    TraceStep(steps::kRestartRequested);
    return true;
  }
  TraceStep(steps::kRestartRefused, GetLastError());
  EnableCloseOnly(hwnd());
  return false;
}

void UpdaterDialog::OnEndSession(bool ending) {
  // A shutdown that another program cancelled after this updater asked for
  // the restart: without Close the window could not be closed at all.
  if (ending || !restartRequested_) return;
  TraceStep(steps::kRestartCancelled);
  EnableCloseOnly(hwnd());
}
