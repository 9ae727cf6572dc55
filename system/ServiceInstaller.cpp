#include "system/ServiceInstaller.h"

#include <shellapi.h>

#include "res/resource.h"
#include "system/ProductControlLibrary.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr int kMessageCapacity = 512;

// Starts the installer when it exists as a file; 1 when ShellExecuteA
// reports the start (a result above 32).
int32_t StartInstaller(const char* commonFolder, int32_t install) {
  char path[MAX_PATH] = {};
  if (!win32::CopyText(path, sizeof path, commonFolder) ||
      !win32::AppendText(path, sizeof path, kServiceInstallerName))
    return 0;
  if (!FileExists(path)) return 0;  // missing, or a folder of that name

  // Started in its own folder, not in the updater's current directory
  // (usually the folder the updater was downloaded to).
  HINSTANCE result = ShellExecuteA(
      nullptr, "open", path, install ? nullptr : kServiceRemoveArgument, commonFolder, SW_SHOW);
  if (reinterpret_cast<INT_PTR>(result) <= 32) return 0;
  seams::Pause(kServiceInstallerStartPauseMs);
  return 1;
}

// Waits until the service has gone or the last pause has passed.
void WaitForServiceRemoval() {
  if (!IsServiceInstalled(kServiceName)) return;
  for (int rechecks = 0;; ++rechecks) {
    seams::Pause(kServiceWaitPauseMs);
    if (rechecks == kServiceWaitRechecks) return;
    if (!IsServiceInstalled(kServiceName)) return;
  }
}

}  // namespace

int32_t IsServiceInstalled(const char* name) {
  win32::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 0;
  win32::ServiceHandle service(
      OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS | SERVICE_STOP));
  return service ? 1 : 0;
}

int32_t RunServiceInstaller(int32_t install, HWND titleSource) {
  return RunServiceInstallerIn(CommonFolder(), install, titleSource);
}

int32_t RunServiceInstallerIn(const char* commonFolder, int32_t install, HWND titleSource) {
  if (!IsNtPlatform()) return 0;
  if (!commonFolder || !commonFolder[0]) return 0;

  const int32_t started = StartInstaller(commonFolder, install);
  if (install) return started;

  // Removal: the installer may be missing or may not have started; the wait
  // and the question happen regardless. Retry repeats the whole removal
  // (installer, pause, wait, check); its own start result is not reported.
  for (;;) {
    WaitForServiceRemoval();

    char message[kMessageCapacity] = {};
    win32::LoadResString(IDS_APP_RUNNING, message, sizeof message);
    char title[win32::kTitleSize] = {};
    if (titleSource) GetWindowTextA(titleSource, title, sizeof title);

    if (!IsServiceInstalled(kServiceName)) break;
    // Deliberately without an owner window, unlike the updater's other boxes.
    const int answer =
        seams::ShowMessage(nullptr, message, title, MB_RETRYCANCEL | MB_ICONINFORMATION);
    if (answer != IDRETRY) break;
    StartInstaller(commonFolder, 0);
  }
  return started;
}
