#include "system/ServiceInstaller.h"

#include <shellapi.h>

#include "res/resource.h"
#include "system/MessageBoxes.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/KillPoint.h"
#include "win32/MessagePump.h"
#include "win32/Platform.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

// The installer's program in the common folder; false when it does not fit.
bool ComposeInstallerPath(const char* commonFolder, char* path, size_t capacity) {
  return win32::CopyText(path, capacity, commonFolder) &&
         win32::AppendText(path, capacity, kServiceInstallerName);
}

// Starts the installer when it exists as a file; 1 when the shell reports
// the start (a result above 32). process receives the installer's process
// where the shell hands it out.
int32_t StartInstaller(const char* commonFolder, int32_t install, win32::KernelHandle& process) {
  process.reset();
  char path[MAX_PATH] = {};
  if (!ComposeInstallerPath(commonFolder, path, sizeof path)) return 0;
  if (!FileExists(path)) return 0;  // missing, or a folder of that name

  // Started in its own folder, not in the updater's current directory
  // (usually the folder the updater was downloaded to).
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "open";
  info.lpFile = path;
  info.lpParameters = install ? nullptr : kServiceRemoveArgument;
  info.lpDirectory = commonFolder;
  info.nShow = SW_SHOW;
  const BOOL started = ShellExecuteExA(&info);
  process.reset(info.hProcess);
  if (!started || reinterpret_cast<INT_PTR>(info.hInstApp) <= 32) return 0;
  VR_KILL_POINT(install ? "service installer: started, install"
                        : "service installer: started, removal");
  seams::Pause(kServiceInstallerStartPauseMs);
  return 1;
}

// The installer's own program is one of the files the update replaces: a
// removal or an installation is over only once the installer has ended, not
// as soon as the service has gone or come (the installer runs on after that,
// and a whole start-up and end where there was nothing to do); a Start
// pressed meanwhile would find its program in use. Waits for it with the
// windows answering, at most as long as for the service.
// An installer that another run started (one that was ended before its own
// wait was over) holds the program just as well, so its file must also be
// free before the wait is over.
void WaitForInstallerEnd(HANDLE process, const char* commonFolder) {
  if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
    win32::WaitPumping(process, kInstallerEndWaitMs);
  const DWORD begin = GetTickCount();
  char path[MAX_PATH] = {};
  if (!ComposeInstallerPath(commonFolder, path, sizeof path)) return;
  while (IsFileLocked(path) && GetTickCount() - begin < kInstallerFileWaitMs)
    win32::WaitPumping(nullptr, kInstallerFilePollMs);
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

int32_t RunServiceInstallerIn(const char* commonFolder, int32_t install) {
  if (!IsNtPlatform()) return 0;
  if (!commonFolder || !commonFolder[0]) return 0;

  win32::KernelHandle process;
  const int32_t started = StartInstaller(commonFolder, install, process);
  if (install) {
    WaitForInstallerEnd(process.get(), commonFolder);
    return started;
  }

  // Removal: the installer may be missing or may not have started; the wait
  // and the question happen regardless. Retry repeats the whole removal
  // (installer, pause, wait, check); its own start result is not reported.
  for (;;) {
    WaitForServiceRemoval();
    WaitForInstallerEnd(process.get(), commonFolder);

    if (!IsServiceInstalled(kServiceName)) break;
    const int answer = ShowUpdaterMessage(Message::kServiceRetry);
    if (answer != IDRETRY) break;
    StartInstaller(commonFolder, 0, process);
  }
  return started;
}
