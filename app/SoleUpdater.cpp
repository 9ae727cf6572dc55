#include "app/SoleUpdater.h"

#include <utility>

#include "win32/Trace.h"
#include "win32/TraceSteps.h"
#include "res/resource.h"
#include "system/MessageBoxes.h"
#include "win32/Platform.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kGlobalName[] = "Global\\VrUpdater1030.Running";
constexpr char kPlainName[] = "VrUpdater1030.Running";

// Held until the process ends; Windows releases it then, also when the
// process is killed.
win32::KernelHandle g_sole;

}  // namespace

const char* SoleUpdaterMutexName(const OSVERSIONINFOEXA& os) {
  const bool knowsGlobal = os.dwPlatformId == VER_PLATFORM_WIN32_NT && os.dwMajorVersion >= 5;
  return knowsGlobal ? kGlobalName : kPlainName;
}

bool ClaimSoleUpdater() {
  OsVersionInfo os;
  os.DetectOsVersion();
  // A name that exists already, as a mutex or anything else, or one this
  // process may not open, belongs to somebody else.
  win32::KernelHandle mutex(CreateMutexA(nullptr, FALSE, SoleUpdaterMutexName(os.record())));
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
    TraceStep(steps::kStartAnotherUpdater);
    // Before the dialog exists: a box without an owner.
    ShowUpdaterMessage(Message::kUpdateRunning);
    return false;
  }
  g_sole = std::move(mutex);
  return true;
}
