// Run-time binding of the product's control library, and the one query the
// updater makes of it: where the maker's common folder and the product's
// shared library folder are.
#include "system/ProductControlLibrary.h"

#include <string.h>

#include <utility>

#include "system/ProductDetection.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/DynamicCalls.h"
#include "win32/ForeignCall.h"
#include "win32/Paths.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr const char* kExportNames[7] = {
    "QfCtrl_Init",          "QfCtrl_GetFolder",     "QfCtrl_SetMyRootFolder", "QfCtrl_GetAppPath",
    "QfCtrl_GetSharedPath", "QfCtrl_GetCommonPath", "QfCtrl_AppendExelink",
};
constexpr int kGetFolder = 1;
constexpr int kGetCommonPath = 5;
constexpr size_t kCommonPathBytes = win32::kPathSize;
constexpr int32_t kSharedLibraryFolderNumber = 17;

// Folder texts of the process: 259 characters, a backslash and, for the
// edition folder, "\Saffra9\" fit.
constexpr size_t kFolderCapacity = win32::kLongTextSize;
char g_commonFolder[kFolderCapacity];
char g_editionCommonFolder[kFolderCapacity];
char g_sharedLibraryFolder[kFolderCapacity];

}  // namespace

ProductControlLibrary::~ProductControlLibrary() { Unload(); }

HMODULE ProductControlLibrary::Load(const char* libraryPath) {
  Unload();
  if (!libraryPath) return nullptr;
  char folder[MAX_PATH] = {};
  win32::FolderOf(libraryPath, folder, sizeof folder);  // none: the current one stays
  win32::ScopedCurrentDirectory currentDirectory;
  currentDirectory.ChangeTo(folder);
  // By full path, and with the library's own folder first for whatever it
  // loads in turn: never the updater's folder.
  win32::Module module = win32::LoadLibraryFile(libraryPath, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) return nullptr;
  FARPROC entries[7] = {};
  for (int i = 0; i < 7; ++i) {
    if (!win32::BindExport(module, kExportNames[i], &entries[i])) return nullptr;  // all or nothing
  }
  memcpy(entries_, entries, sizeof entries_);
  module_ = std::move(module);
  return module_.get();
}

void ProductControlLibrary::Unload() {
  module_.reset();
  memset(entries_, 0, sizeof entries_);
}

const char* ProductControlLibrary::GetFolder(int32_t number) {
  if (!module_ || !entries_[kGetFolder]) return nullptr;
  return reinterpret_cast<const char*>(win32::CallWithOneArgument(entries_[kGetFolder], number));
}

int32_t ProductControlLibrary::GetCommonPath(char* buffer260) {
  if (!module_ || !entries_[kGetCommonPath] || !buffer260) return 0;
  memset(buffer260, 0, kCommonPathBytes);
  auto result = static_cast<int32_t>(
      win32::CallWithOneArgument(entries_[kGetCommonPath], reinterpret_cast<intptr_t>(buffer260)));
  // A folder that reaches the last byte is no terminated folder of 259.
  if (result && buffer260[kCommonPathBytes - 1] != '\0') {
    buffer260[0] = '\0';
    return 0;
  }
  return result;
}

void QueryProductFolders(ProductControlLibrary& library) {
  if (g_sharedLibraryFolder[0] != '\0' && g_commonFolder[0] != '\0') return;

  char programFolder[kProgramFolderCapacity] = {};
  const bool haveProgramFolder = GetProgramFolder(programFolder, sizeof programFolder) != 0;
  char libraryPath[MAX_PATH] = {};
  if (haveProgramFolder &&
      win32::FormatText(libraryPath, sizeof libraryPath, "%sQfControl.dll", programFolder) &&
      library.Load(libraryPath)) {
    char common[kCommonPathBytes] = {};
    if (library.GetCommonPath(common)) {
      char folder[kFolderCapacity] = {};
      char edition[kFolderCapacity] = {};
      // A relative answer would be resolved against the updater's current
      // directory: such a folder counts as unknown, like an empty one.
      if (win32::IsAbsoluteFolder(common) && win32::CopyText(folder, sizeof folder, common) &&
          win32::AppendBackslashIfMissing(folder, sizeof folder) &&
          win32::FormatText(edition, sizeof edition, "%s\\Saffra9\\", folder)) {
        win32::CopyText(g_commonFolder, sizeof g_commonFolder, folder);
        win32::CopyText(g_editionCommonFolder, sizeof g_editionCommonFolder, edition);
      }
    }
    const char* shared = library.GetFolder(kSharedLibraryFolderNumber);
    if (shared) {
      // Measured with a bound: the text is the library's, not ours.
      const size_t length = strnlen(shared, MAX_PATH);
      char folder[kFolderCapacity] = {};
      if (length > 0 && length < MAX_PATH && win32::IsAbsoluteFolder(shared) &&
          win32::CopyText(folder, sizeof folder, shared) &&
          win32::AppendBackslashIfMissing(folder, sizeof folder)) {
        win32::CopyText(g_sharedLibraryFolder, sizeof g_sharedLibraryFolder, folder);
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

const char* CommonFolder() { return g_commonFolder; }
const char* EditionCommonFolder() { return g_editionCommonFolder; }
const char* SharedLibraryFolder() { return g_sharedLibraryFolder; }

void ResetProductFoldersForTest() {
  g_commonFolder[0] = '\0';
  g_editionCommonFolder[0] = '\0';
  g_sharedLibraryFolder[0] = '\0';
}
