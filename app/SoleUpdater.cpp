#include "app/SoleUpdater.h"

#include <utility>

#include "app/Trace.h"
#include "res/resource.h"
#include "win32/BufferSizes.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kGlobalName[] = "Global\\VrUpdater1030.Running";
constexpr char kPlainName[] = "VrUpdater1030.Running";

// Held until the process ends; Windows releases it then, also when the
// process is killed.
win32::KernelHandle g_sole;

void SayAnUpdateIsRunning() {
  char title[win32::kTitleSize] = {};
  char text[win32::kTextSize] = {};
  win32::LoadResString(IDS_TITLE, title, sizeof title);
  win32::LoadResString(IDS_UPDATE_RUNNING, text, sizeof text);
  seams::ShowMessage(nullptr, text, title, MB_OK | MB_ICONINFORMATION);
}

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
    SayAnUpdateIsRunning();
    return false;
  }
  g_sole = std::move(mutex);
  return true;
}
