#include "app/UpdaterApp.h"

#include <windows.h>
#include <commctrl.h>

#include "app/SoleUpdater.h"
#include "app/UpdaterDialog.h"
#include "win32/DynamicCalls.h"
#include "win32/Paths.h"

namespace {

// System libraries that the common controls and their theme library load
// later, by bare name and not always through the locked-down search path
// (delay-loaded imports are resolved by the loader). Loaded first from the
// system folder, they are found loaded when asked for by name, and a copy
// planted in the download folder is never looked at. Where Windows has no
// such library, nothing is loaded.
constexpr const char* kPinnedSystemLibraries[] = {"uxtheme.dll", "msimg32.dll", "dwmapi.dll",
                                                  "winmm.dll"};

void PinSystemLibraries() {
  static win32::Module pinned[sizeof kPinnedSystemLibraries / sizeof kPinnedSystemLibraries[0]];
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  for (size_t i = 0; i < sizeof pinned / sizeof pinned[0]; ++i) {
    char path[MAX_PATH + 16];
    if (win32::SystemFilePath(path, sizeof path, kPinnedSystemLibraries[i]))
      pinned[i] = win32::LoadLibraryFile(path, 0);
  }
  SetErrorMode(oldMode);
}

}  // namespace

void HardenLibrarySearch() {
  const win32::Kernel32Calls& kernel = win32::Kernel32();
  if (kernel.SetDllDirectoryA) kernel.SetDllDirectoryA("");
  if (kernel.SetDefaultDllDirectories) kernel.SetDefaultDllDirectories(win32::kSearchSystem32Only);
  PinSystemLibraries();
}

bool UpdaterApp::InitInstance() {
  HardenLibrarySearch();

  // The common controls are bound here, after the search path is locked
  // down, not imported: an imported library starts before the first line of
  // the updater runs, and comctl32 then loads its theme library by bare name
  // from wherever the updater was downloaded to. By name, so that the
  // manifest's version 6 is the one bound.
  using InitControlsFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  static win32::Module comctl32 = win32::LoadLibraryFile("comctl32.dll", 0);
  InitControlsFn initControls = nullptr;
  if (win32::BindExport(comctl32, "InitCommonControlsEx", &initControls)) {
    // One class per call: a common controls library fails the whole call for
    // a class it does not know, and the standard classes are known to
    // version 6 only (XP and later, through the manifest). Without the
    // export (NT 4.0's first library) the library registers the progress
    // bar's class itself when it is loaded.
    const DWORD kClassesOneByOne[] = {ICC_PROGRESS_CLASS, ICC_STANDARD_CLASSES};
    for (const DWORD classes : kClassesOneByOne) {
      INITCOMMONCONTROLSEX controls = {sizeof controls, classes};
      initControls(&controls);
    }
  }

  // A second updater says so and ends before it changes anything.
  if (!ClaimSoleUpdater()) return false;
  {
    UpdaterDialog dialog;
    dialog.RunModal(nullptr);  // which button ended it does not matter
  }
  return false;
}
