#include "app/UpdaterApp.h"

#include <windows.h>
#include <commctrl.h>

#include "app/UpdaterDialog.h"

namespace {

// The updater runs with administrator rights, usually from a download
// folder. Keep that folder and the current directory out of the library
// search path before anything loads a library by name. SetDefaultDllDirectories
// exists only from Windows 7 (or with KB2533623), so it is bound at run time.
void HardenLibrarySearch() {
  SetDllDirectoryA("");
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      GetProcAddress(kernel, "SetDefaultDllDirectories"));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

bool UpdaterApp::InitInstance() {
  HardenLibrarySearch();

  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  {
    UpdaterDialog dialog;
    dialog.RunModal(nullptr);  // which button ended it does not matter
  }
  return false;
}
