#include "engine/ProductEnvironment.h"

#include <string.h>

#include "system/ProductControlLibrary.h"
#include "system/ProductDetection.h"
#include "win32/BoundedString.h"
#include "win32/Paths.h"

void ProductEnvironment::Detect() {
  os_.DetectOsVersion();
  // Before the driver state's probe, the first span with WOW64 redirection
  // off: no library is loaded inside one.
  BindVersionLibrary();
  if (driverState_ == DriverState::Unknown) driverState_ = ProbeDriverState(os_.GetOsClass());
  ProductControlLibrary control;
  QueryProductFolders(control, folders_);
}

void QueryProductFolders(ProductControlLibrary& library, ProductFolders& folders) {
  if (folders.sharedLibrary[0] != '\0' && folders.common[0] != '\0') return;

  char programFolder[kProgramFolderCapacity] = {};
  const bool haveProgramFolder = GetProgramFolder(programFolder, sizeof programFolder) != 0;
  char libraryPath[MAX_PATH] = {};
  if (haveProgramFolder &&
      win32::FormatText(libraryPath, sizeof libraryPath, "%sQfControl.dll", programFolder) &&
      library.Load(libraryPath)) {
    char common[ProductControlLibrary::kCommonPathBytes] = {};
    if (library.GetCommonPath(common)) {
      char folder[sizeof folders.common] = {};
      char edition[sizeof folders.editionCommon] = {};
      // A relative answer would be resolved against the updater's current
      // directory: such a folder counts as unknown, like an empty one.
      if (win32::IsAbsoluteFolder(common) && win32::CopyText(folder, sizeof folder, common) &&
          win32::AppendBackslashIfMissing(folder, sizeof folder) &&
          win32::FormatText(edition, sizeof edition, "%s\\Saffra9\\", folder)) {
        win32::CopyText(folders.common, sizeof folders.common, folder);
        win32::CopyText(folders.editionCommon, sizeof folders.editionCommon, edition);
      }
    }
    const char* shared = library.GetFolder(ProductControlLibrary::kSharedLibraryFolderNumber);
    if (shared) {
      // Measured with a bound: the text is the library's, not ours.
      const size_t length = strnlen(shared, MAX_PATH);
      char folder[sizeof folders.common] = {};
      if (length > 0 && length < MAX_PATH && win32::IsAbsoluteFolder(shared) &&
          win32::CopyText(folder, sizeof folder, shared) &&
          win32::AppendBackslashIfMissing(folder, sizeof folder)) {
        win32::CopyText(folders.sharedLibrary, sizeof folders.sharedLibrary, folder);
      }
    }
  }
  library.Unload();
  if (haveProgramFolder) {
    // Left behind by the library; its absence is no error.
    char resourcePath[MAX_PATH] = {};
    if (win32::FormatText(resourcePath, sizeof resourcePath, "%sQfControl_res.dll",
                          programFolder)) {
      DeleteFileA(resourcePath);
    }
  }
}
