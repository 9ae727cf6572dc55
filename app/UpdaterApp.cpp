#include "app/UpdaterApp.h"

#include <windows.h>
#include <commctrl.h>

#include "app/UpdaterDialog.h"
#include "win32/DynamicCalls.h"

void HardenLibrarySearch() {
  const win32::Kernel32Calls& kernel = win32::Kernel32();
  if (kernel.SetDllDirectoryA) kernel.SetDllDirectoryA("");
  if (kernel.SetDefaultDllDirectories) kernel.SetDefaultDllDirectories(win32::kSearchSystem32Only);
}

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
