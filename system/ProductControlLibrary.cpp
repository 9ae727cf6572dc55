// Run-time binding of the product's control library.
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
constexpr size_t kCommonPathBytes = ProductControlLibrary::kCommonPathBytes;

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
