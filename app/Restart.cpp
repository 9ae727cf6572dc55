// Restart of Windows after a successful update, and the resume entry that a
// restart may have left in the Run key.
#include <windows.h>

#include "app/UpdateDriver.h"
#include "engine/UserPort.h"
#include "res/resource.h"
#include "win32/Trace.h"
#include "win32/TraceSteps.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kResumeValue[] = "marrowickupdater";

// Turns one privilege of the process's token on; traced, never fatal.
void EnableShutdownPrivilege(const char* privilegeName) {
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

}  // namespace

int32_t UpdateDriver::RemoveResumeEntry() {
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

bool UpdateDriver::AskRestart() {
  const int answer = port_.Ask(Message::kRestartQuestion);
  TraceStep(steps::kRestartQuestion, answer == IDYES ? "yes" : "no");
  return answer == IDYES;
}

bool UpdateDriver::RequestRestart() {
  EnableShutdownPrivilege("SeShutdownPrivilege");
  restartRequested_ = true;
  // A normal restart: programs are asked to close, none is forced. The call
  // only starts the restart; the update procedure goes on meanwhile.
  if (ExitWindowsEx(EWX_REBOOT, 0)) {
    TraceStep(steps::kRestartRequested);
    return true;
  }
  TraceStep(steps::kRestartRefused, GetLastError());
  port_.EnableCloseOnly();
  return false;
}

void UpdateDriver::OnEndSession(bool ending) {
  // A shutdown that another program cancelled after this updater asked for
  // the restart: without Close the window could not be closed at all.
  if (ending || !restartRequested_) return;
  TraceStep(steps::kRestartCancelled);
  port_.EnableCloseOnly();
}
