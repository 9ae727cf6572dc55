// Run-time binding of the product's control library "QfControl.dll". The
// query of the product's folders that it answers is the product
// environment's (engine/ProductEnvironment.h).
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/BufferSizes.h"
#include "win32/UniqueHandle.h"

class ProductControlLibrary {
 public:
  // The buffer GetCommonPath fills, and the folder number of the shared
  // library folder for GetFolder.
  static constexpr size_t kCommonPathBytes = win32::kPathSize;
  static constexpr int32_t kSharedLibraryFolderNumber = 17;

  ProductControlLibrary() = default;
  ~ProductControlLibrary();  // unloads
  ProductControlLibrary(const ProductControlLibrary&) = delete;
  ProductControlLibrary& operator=(const ProductControlLibrary&) = delete;

  // Binds all seven exports or nothing; restores the current directory.
  HMODULE Load(const char* libraryPath);
  void Unload();
  // QfCtrl_GetFolder(number), or null when not loaded.
  const char* GetFolder(int32_t number);
  // QfCtrl_GetCommonPath(buffer of 260 bytes), or 0 when not loaded.
  int32_t GetCommonPath(char* buffer260);

  HMODULE module() const { return module_.get(); }

 private:
  win32::Module module_;
  // The library's own exports; no declaration of ours types them, and they
  // are called through win32/ForeignCall.h.
  FARPROC entries_[7] = {};
};
